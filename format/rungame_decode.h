/* The unpacking of one packed file, apart from any file: blocks come from
 * `read` and go to `write`, so the decoding rules can be checked on their
 * own, and the launcher and the packer's dry run unpack alike. Plain C on
 * zlib, no system calls. */
#ifndef RUNGAME_DECODE_H
#define RUNGAME_DECODE_H

#include <stddef.h>

#include "rungame_format.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Size of every block read from the packed file and handed to `write`. */
#define RUNGAME_UNPACK_BLOCK 32768u

/* Fills `buffer` with up to `size` bytes: the count, 0 at the end, negative
 * on a read error. */
typedef long (*RunGameReadBlock)(void* context, unsigned char* buffer, size_t size);
/* Takes `size` bytes; 0 when they could not all be stored. */
typedef int (*RunGameWriteBlock)(void* context, const unsigned char* data, size_t size);

/* Decodes a packed stream the way zlib's gzip reader reads it: data that
 * does not begin with the gzip magic bytes passes through unchanged, and
 * gzip members back to back decode to their concatenation. Unlike that
 * reader, every member must reach its own end with a correct check value,
 * and after the last one only zero bytes (padding) may follow: a stream cut
 * short, corrupt data, a wrong check value, a rejected header or any other
 * trailing byte make it fail (0). */
RUNGAME_MUST_USE int rungame_decode_packed(RunGameReadBlock read, RunGameWriteBlock write, void* context);

#ifdef __cplusplus
}
#endif

#endif /* RUNGAME_DECODE_H */

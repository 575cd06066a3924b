/* SHA-256 at the speed of the processor's own instructions where it has
 * them (x86 SHA extensions: about ten times the portable code), the
 * portable code elsewhere. Plain C: the launcher, the packer and the
 * game-side helper can all compile it.
 */
#ifndef RUNGAME_SHA256_FAST_H
#define RUNGAME_SHA256_FAST_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FastSha256 {
  unsigned long state[8];
  unsigned long long length; /* bytes hashed so far */
  unsigned char pending[64];
  size_t pendingBytes;
  int useInstructions;
} FastSha256;

/* Starts a hash; `allowInstructions` 0 forces the portable code (tests). */
void FastSha256Init(FastSha256* hash, int allowInstructions);
void FastSha256Update(FastSha256* hash, const void* data, size_t size);
void FastSha256Final(FastSha256* hash, unsigned char digest[32]);
/* The digest of `size` bytes at once. */
void FastSha256Digest(const void* data, size_t size, unsigned char digest[32]);
/* Whether this processor and system run the SHA instructions. */
int FastSha256HasInstructions(void);

#ifdef __cplusplus
}
#endif

#endif

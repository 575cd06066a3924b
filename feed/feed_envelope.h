/* The signature envelope of the feed's signed files, as the signed update's
 * marker has it:
 *
 *   <header line>
 *   key 3f1c0a9e5b7d2468
 *   <body lines>
 *   signature <128 lower-case hex digits>
 *
 * Ed25519 (libsodium) over every byte before the "signature" line, which
 * is the last; every line ends in "\n" alone. "key" names the signing key:
 * the first 8 bytes of the SHA-256 of its public key, in hex. */
#ifndef FEED_ENVELOPE_H
#define FEED_ENVELOPE_H

#include <stddef.h>

#include "feed_text.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The key's id: 16 hex digits and a NUL. */
void FeedKeyId(const unsigned char publicKey[32], char id[17]);

/* Starts a signed text: the header line and the key line of the key the
 * 32-byte `seed` makes. */
void FeedBeginSigned(FeedText* text, const char* header, const unsigned char seed[32]);
/* Ends it with the signature line over everything before. 0 when out of
 * memory or libsodium cannot start. */
FEED_MUST_USE int FeedEndSigned(FeedText* text, const unsigned char seed[32]);

/* Opens `size` bytes (at most `limit`) signed with `key` under `header`.
 * 1 with the body's bounds (after the key line, before the signature line);
 * 0 with the reason otherwise. The body holds no NUL and no "\r". */
FEED_MUST_USE int FeedOpenSigned(const char* text, size_t size, size_t limit, const char* header, const unsigned char key[32],
                   size_t* bodyStart, size_t* bodyEnd, const char** reason);

#ifdef __cplusplus
}
#endif

#endif /* FEED_ENVELOPE_H */

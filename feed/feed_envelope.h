/* The writer of the feed's signed files, in the envelope the signed update's
 * marker has (rungame_open_signed reads it): a header line, the key line,
 * the body, the signature line. */
#ifndef FEED_ENVELOPE_H
#define FEED_ENVELOPE_H

#include <stddef.h>

#include "feed_text.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Starts a signed text: the header line and the key line of the key the
 * 32-byte `seed` makes. */
void FeedBeginSigned(FeedText* text, const char* header, const unsigned char seed[32]);
/* Ends it with the signature line over everything before. 0 when out of
 * memory or libsodium cannot start. */
RUNGAME_MUST_USE int FeedEndSigned(FeedText* text, const unsigned char seed[32]);

#ifdef __cplusplus
}
#endif

#endif /* FEED_ENVELOPE_H */

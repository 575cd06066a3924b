/* See feed_envelope.h. */
#include "feed_envelope.h"

#include "../format/rungame_format.h"

#include <sodium.h>

void FeedBeginSigned(FeedText* text, const char* header, const unsigned char seed[32]) {
  unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
  unsigned char secret[crypto_sign_SECRETKEYBYTES];
  char id[17];
  crypto_sign_seed_keypair(publicKey, secret, seed);
  sodium_memzero(secret, sizeof secret);
  rungame_key_id(publicKey, id);
  FeedTextAppendString(text, header);
  FeedTextAppendString(text, "\nkey ");
  FeedTextAppendString(text, id);
  FeedTextAppend(text, "\n", 1);
}

int FeedEndSigned(FeedText* text, const unsigned char seed[32]) {
  unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
  unsigned char secret[crypto_sign_SECRETKEYBYTES];
  unsigned char signature[crypto_sign_BYTES];
  if (text->failed || sodium_init() < 0) return 0;
  crypto_sign_seed_keypair(publicKey, secret, seed);
  crypto_sign_detached(signature, NULL, (const unsigned char*)text->data, text->size, secret);
  sodium_memzero(secret, sizeof secret);
  FeedTextAppendString(text, RUNGAME_SIGNATURE_KEYWORD);
  FeedTextAppendHex(text, signature, sizeof signature);
  FeedTextAppend(text, "\n", 1);
  return !text->failed;
}


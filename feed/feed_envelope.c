/* See feed_envelope.h. */
#include "feed_envelope.h"

#include <sodium.h>
#include <string.h>

static const char kSignatureKeyword[] = "signature ";

void FeedKeyId(const unsigned char publicKey[32], char id[17]) {
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(digest, publicKey, 32);
  sodium_bin2hex(id, 17, digest, 8);
}

void FeedBeginSigned(FeedText* text, const char* header, const unsigned char seed[32]) {
  unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
  unsigned char secret[crypto_sign_SECRETKEYBYTES];
  char id[17];
  crypto_sign_seed_keypair(publicKey, secret, seed);
  sodium_memzero(secret, sizeof secret);
  FeedKeyId(publicKey, id);
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
  FeedTextAppendString(text, kSignatureKeyword);
  FeedTextAppendHex(text, signature, sizeof signature);
  FeedTextAppend(text, "\n", 1);
  return !text->failed;
}

static int Fail(const char** reason, const char* why) {
  *reason = why;
  return 0;
}

int FeedOpenSigned(const char* text, size_t size, size_t limit, const char* header, const unsigned char key[32],
                   size_t* bodyStart, size_t* bodyEnd, const char** reason) {
  const size_t headerLength = strlen(header);
  const size_t keywordLength = sizeof kSignatureKeyword - 1;
  unsigned char signature[crypto_sign_BYTES];
  char id[17];
  size_t lastLine;
  if (size > limit) return Fail(reason, "larger than any the packer writes");
  /* Told apart before the signature: a wrong file is named as such. */
  if (size <= headerLength || memcmp(text, header, headerLength) != 0 || text[headerLength] != '\n') {
    return Fail(reason, "not this kind of feed file (its first line differs)");
  }
  if (text[size - 1] != '\n') return Fail(reason, "cut short (no line end at the end)");
  lastLine = size - 1;
  while (lastLine > 0 && text[lastLine - 1] != '\n') --lastLine;
  if (size - 1 - lastLine != keywordLength + 2 * sizeof signature ||
      memcmp(text + lastLine, kSignatureKeyword, keywordLength) != 0 ||
      !FeedParseHex(text + lastLine + keywordLength, 2 * sizeof signature, signature, sizeof signature)) {
    return Fail(reason, "does not end with a signature line");
  }
  if (sodium_init() < 0) return Fail(reason, "libsodium cannot start");
  if (crypto_sign_verify_detached(signature, (const unsigned char*)text, lastLine, key) != 0) {
    return Fail(reason, "not signed with this key (signed by another key, or changed after signing)");
  }
  /* Signed by the key; still read with care. */
  if (memchr(text, '\0', lastLine) != NULL || memchr(text, '\r', lastLine) != NULL) {
    return Fail(reason, "holds a NUL or a carriage return");
  }
  FeedKeyId(key, id);
  *bodyStart = headerLength + 1 + 4 + 16 + 1;
  if (lastLine < *bodyStart || memcmp(text + headerLength + 1, "key ", 4) != 0 ||
      memcmp(text + headerLength + 5, id, 16) != 0 || text[*bodyStart - 1] != '\n') {
    return Fail(reason, "its key line does not name the key it is signed with");
  }
  *bodyEnd = lastLine;
  return 1;
}

/* The signed envelope around a manifest. See rungame_format.h. */
#include "rungame_format.h"

#include <sodium.h>
#include <string.h>

int rungame_parse_public_key(const char* hex, unsigned char key[32]) {
  char lower[64];
  size_t i;
  if (hex == NULL || strlen(hex) != 64) return 0;
  for (i = 0; i < 64; ++i) lower[i] = (char)(hex[i] >= 'A' && hex[i] <= 'F' ? hex[i] - 'A' + 'a' : hex[i]);
  return rungame_parse_hex(lower, 64, key, 32);
}

void rungame_key_id(const unsigned char publicKey[32], char id[17]) {
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(digest, publicKey, 32);
  rungame_hex(digest, 8, id);
}

static int Fail(const char** reason, const char* why) {
  *reason = why;
  return 0;
}

int rungame_open_signed(const char* text, size_t size, size_t limit, const char* header, const unsigned char key[32],
                        size_t* bodyStart, size_t* bodyEnd, const char** reason) {
  const size_t headerLength = strlen(header);
  const size_t keywordLength = sizeof RUNGAME_SIGNATURE_KEYWORD - 1;
  unsigned char signature[64];
  char id[17];
  size_t lastLine;
  if (text == NULL || size > limit) return Fail(reason, "larger than any the packer writes");
  /* Told apart before the signature: a wrong file is named as such. */
  if (size <= headerLength || memcmp(text, header, headerLength) != 0 || text[headerLength] != '\n') {
    return Fail(reason, "not this kind of signed file (its first line differs)");
  }
  if (text[size - 1] != '\n') return Fail(reason, "cut short (no line end at the end)");
  lastLine = size - 1;
  while (lastLine > 0 && text[lastLine - 1] != '\n') --lastLine;
  if (size - 1 - lastLine != keywordLength + 2 * sizeof signature ||
      memcmp(text + lastLine, RUNGAME_SIGNATURE_KEYWORD, keywordLength) != 0 ||
      !rungame_parse_hex(text + lastLine + keywordLength, 2 * sizeof signature, signature, sizeof signature)) {
    return Fail(reason, "does not end with a signature line");
  }
  if (crypto_sign_verify_detached(signature, (const unsigned char*)text, lastLine, key) != 0) {
    return Fail(reason, "not signed with this key (signed by another key, or changed after signing)");
  }
  /* Signed by the key; still read with care: lines end in "\n" alone, the
     signed text being its exact bytes. */
  if (memchr(text, '\0', lastLine) != NULL || memchr(text, '\r', lastLine) != NULL) {
    return Fail(reason, "holds a NUL or a carriage return");
  }
  rungame_key_id(key, id);
  *bodyStart = headerLength + 1 + 4 + 16 + 1;
  if (lastLine < *bodyStart || memcmp(text + headerLength + 1, "key ", 4) != 0 ||
      memcmp(text + headerLength + 5, id, 16) != 0 || text[*bodyStart - 1] != '\n') {
    return Fail(reason, "its key line does not name the key it is signed with");
  }
  *bodyEnd = lastLine;
  return 1;
}

int rungame_open_signed_manifest(const char* text, size_t size, const unsigned char key[32],
                                 RunGameManifest* manifest) {
  size_t bodyStart = 0, bodyEnd = 0;
  const char* reason = NULL;
  memset(manifest, 0, sizeof *manifest);
  if (!rungame_open_signed(text, size, RUNGAME_SIGNED_MAX_MARKER, RUNGAME_SIGNED_HEADER, key, &bodyStart, &bodyEnd,
                           &reason)) {
    return 0;
  }
  if (rungame_read_manifest(text + bodyStart, bodyEnd - bodyStart, manifest, NULL) != RUNGAME_MANIFEST_OK) {
    rungame_free_manifest(manifest);
    return 0;
  }
  return 1;
}

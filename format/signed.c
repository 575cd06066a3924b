/* The signed envelope around a manifest. See rungame_format.h. */
#include "rungame_format.h"

#include <sodium.h>
#include <string.h>

int rungame_parse_public_key(const char* hex, unsigned char key[32]) {
  size_t length = 0;
  if (hex == NULL || strlen(hex) != 64) return 0;
  return sodium_hex2bin(key, 32, hex, 64, NULL, &length, NULL) == 0 && length == 32;
}

/* Whether `text` starts with the line `line` and its "\n"; past it, or NULL. */
static const char* SkipLine(const char* text, const char* limit, const char* line) {
  size_t length = strlen(line);
  if ((size_t)(limit - text) <= length || memcmp(text, line, length) != 0 || text[length] != '\n') return NULL;
  return text + length + 1;
}

int rungame_open_signed_manifest(const char* text, size_t size, const unsigned char key[32],
                                 RunGameManifest* manifest) {
  const size_t keywordLength = sizeof RUNGAME_SIGNATURE_KEYWORD - 1;
  unsigned char signature[64];
  unsigned char digest[crypto_hash_sha256_BYTES];
  char keyLine[4 + 16 + 1];
  size_t signatureLength = 0;
  size_t lastLine;
  const char* body;
  memset(manifest, 0, sizeof *manifest);
  if (text == NULL || size > RUNGAME_SIGNED_MAX_MARKER || size < 2 || text[size - 1] != '\n') return 0;
  /* No sodium_init: verifying takes neither random bytes nor a choice of
   * implementation, and the launcher has no random source to give it. */
  lastLine = size - 1;
  while (lastLine > 0 && text[lastLine - 1] != '\n') --lastLine;
  if (size - 1 - lastLine != keywordLength + 128 ||
      memcmp(text + lastLine, RUNGAME_SIGNATURE_KEYWORD, keywordLength) != 0 ||
      sodium_hex2bin(signature, sizeof signature, text + lastLine + keywordLength, 128, NULL, &signatureLength,
                     NULL) != 0 ||
      signatureLength != sizeof signature) {
    return 0;
  }
  /* Lower-case hex alone, as written: the signature's line is one spelling. */
  {
    size_t i;
    for (i = lastLine + keywordLength; i < size - 1; ++i) {
      if (text[i] >= 'A' && text[i] <= 'F') return 0;
    }
  }
  if (crypto_sign_verify_detached(signature, (const unsigned char*)text, lastLine, key) != 0) return 0;
  /* Signed by the key; still read with care. Lines end in "\n" alone, the
     signed text being its exact bytes. */
  if (memchr(text, '\r', lastLine) != NULL) return 0;
  /* The "key" line names the key it is signed with. */
  crypto_hash_sha256(digest, key, 32);
  memcpy(keyLine, "key ", 4);
  sodium_bin2hex(keyLine + 4, sizeof keyLine - 4, digest, 8);
  body = SkipLine(text, text + lastLine, RUNGAME_SIGNED_HEADER);
  if (body != NULL) body = SkipLine(body, text + lastLine, keyLine);
  if (body == NULL) return 0;
  if (rungame_read_manifest(body, (size_t)(text + lastLine - body), manifest, NULL) != RUNGAME_MANIFEST_OK) {
    rungame_free_manifest(manifest);
    return 0;
  }
  return 1;
}

/* Hex, one spelling: lower-case digits, two a byte. See rungame_format.h. */
#include "rungame_format.h"

void rungame_hex(const unsigned char* bytes, size_t size, char* out) {
  static const char kDigits[] = "0123456789abcdef";
  size_t i;
  for (i = 0; i < size; ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 15];
  }
  out[2 * size] = '\0';
}

int rungame_parse_hex(const char* text, size_t length, unsigned char* bytes, size_t size) {
  size_t i;
  if (length != 2 * size) return 0;
  for (i = 0; i < length; ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else {
      return 0;
    }
    if (i % 2 == 0) {
      bytes[i / 2] = (unsigned char)(digit << 4);
    } else {
      bytes[i / 2] = (unsigned char)(bytes[i / 2] | digit);
    }
  }
  return 1;
}

/* See rungame_sha256.h. libsodium's SHA-256 (crypto_hash_sha256), the one the
 * packer and the signed-update checks use; nothing of its own. */
#include "rungame_sha256.h"

#include <windows.h>
#include <sodium.h>

int rungame_sha256_file(const char* path, unsigned long long* size, unsigned char digest[32]) {
  crypto_hash_sha256_state state;
  HANDLE file;
  unsigned char buffer[65536];
  DWORD got = 0;
  int ok = 1;
  *size = 0;
  file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  if (GetFileType(file) != FILE_TYPE_DISK || crypto_hash_sha256_init(&state) != 0) {
    CloseHandle(file);
    return 0;
  }
  for (;;) {
    if (!ReadFile(file, buffer, sizeof buffer, &got, NULL)) {
      ok = 0;
      break;
    }
    if (got == 0) break;
    *size += got;
    crypto_hash_sha256_update(&state, buffer, got);
  }
  CloseHandle(file);
  return ok && crypto_hash_sha256_final(&state, digest) == 0;
}

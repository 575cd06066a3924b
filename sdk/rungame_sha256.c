/* See rungame_sha256.h. The processor's SHA instructions where it has them
 * (hash/sha256.c, which the launcher and the packer use too). */
#include "rungame_sha256.h"

#include <windows.h>

#include "../hash/sha256.h"

int rungame_sha256_file(const char* path, unsigned long long* size, unsigned char digest[32]) {
  FastSha256 state;
  HANDLE file;
  unsigned char buffer[65536];
  DWORD got = 0;
  int ok = 1;
  *size = 0;
  file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return 0;
  }
  FastSha256Init(&state, 1);
  for (;;) {
    if (!ReadFile(file, buffer, sizeof buffer, &got, NULL)) {
      ok = 0;
      break;
    }
    if (got == 0) break;
    *size += got;
    FastSha256Update(&state, buffer, got);
  }
  CloseHandle(file);
  if (ok) FastSha256Final(&state, digest);
  return ok;
}

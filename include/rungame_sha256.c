/* See rungame_sha256.h. Windows' own SHA-256 (CryptoAPI, advapi32, present
 * on every Windows from XP SP3 on); nothing of its own. */
#include "rungame_sha256.h"

#include <windows.h>
#include <wincrypt.h>

#ifndef CALG_SHA_256
#define CALG_SHA_256 0x0000800c
#endif

int rungame_sha256_file(const char* path, unsigned long long* size, unsigned char digest[32]) {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  HANDLE file;
  unsigned char buffer[65536];
  DWORD got = 0;
  DWORD digestLength = 32;
  int ok = 0;
  *size = 0;
  file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  if (GetFileType(file) == FILE_TYPE_DISK &&
      CryptAcquireContextA(&provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT) &&
      CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
    ok = 1;
    for (;;) {
      if (!ReadFile(file, buffer, sizeof buffer, &got, NULL)) {
        ok = 0;
        break;
      }
      if (got == 0) break;
      *size += got;
      if (!CryptHashData(hash, buffer, got, 0)) {
        ok = 0;
        break;
      }
    }
    ok = ok && CryptGetHashParam(hash, HP_HASHVAL, digest, &digestLength, 0) && digestLength == 32;
  }
  if (hash) CryptDestroyHash(hash);
  if (provider) CryptReleaseContext(provider, 0);
  CloseHandle(file);
  return ok;
}

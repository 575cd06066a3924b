/* The random source of the project's libsodium build. libsodium's Windows
 * code calls RtlGenRandom by its export name, SystemFunction036, which
 * Windows 2000 lacks: a program importing it does not start there. Built
 * with -DSystemFunction036=rungame_system_random, libsodium calls this
 * instead, which finds RtlGenRandom at run time and otherwise asks the
 * system's CryptoAPI provider (Windows 2000 and earlier). */
#include <windows.h>
#include <wincrypt.h>

typedef BOOLEAN(NTAPI* GenRandom)(PVOID, ULONG);

BOOLEAN NTAPI rungame_system_random(PVOID buffer, ULONG size) {
  /* advapi32 is loaded already: this file imports it. */
  const HMODULE advapi = GetModuleHandleA("advapi32.dll");
  const GenRandom genRandom = advapi ? (GenRandom)(void (*)(void))GetProcAddress(advapi, "SystemFunction036") : NULL;
  HCRYPTPROV provider;
  BOOL filled;
  if (genRandom != NULL) return genRandom(buffer, size);
  if (!CryptAcquireContextA(&provider, NULL, NULL, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) return FALSE;
  filled = CryptGenRandom(provider, size, (BYTE*)buffer);
  CryptReleaseContext(provider, 0);
  return filled ? TRUE : FALSE;
}

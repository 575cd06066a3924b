/* The launcher only verifies signatures, which takes no random bytes: it
 * brings no random source (and imports none), replacing the one the
 * project's libsodium carries. A random request ends in libsodium's misuse
 * handler, so the launcher never calls sodium_init, which makes one. */
#include <windows.h>

BOOLEAN NTAPI rungame_system_random(PVOID buffer, ULONG size) {
  (void)buffer;
  (void)size;
  return FALSE;
}

#include "launcher/os_version.h"

#include <windows.h>

bool IsModernWindows() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
#ifdef _MSC_VER
#pragma warning(suppress : 4996)  // the basic record is all that is asked
#endif
  if (!GetVersionExA(&info)) return false;
  return info.dwMajorVersion >= 5;
}

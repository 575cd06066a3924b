#include <windows.h>

#include "launcher/launcher_main.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand) {
  return LauncherMain(instance, previousInstance, commandLine, showCommand);
}

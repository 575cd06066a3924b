// The fault points of the launcher's test build: at the change numbered
// LAUNCHER_FAULT_AT (from 1) it fails that change (LAUNCHER_FAULT_MODE=fail)
// or ends its own process at once (=exit), as a power cut would. With
// LAUNCHER_FAULT_COUNT naming a file, it writes there the kind of every
// change it reached, one a line, when it ends normally.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fs/change.h"

namespace {

struct FaultPlan {
  long at = 0;
  bool exit = false;
  long reached = 0;
  std::string kinds;
  char countFile[MAX_PATH] = {};

  FaultPlan() {
    char value[MAX_PATH];
    if (GetEnvironmentVariableA("LAUNCHER_FAULT_AT", value, sizeof value) - 1 < sizeof value - 1) {
      at = std::strtol(value, nullptr, 10);
    }
    if (GetEnvironmentVariableA("LAUNCHER_FAULT_MODE", value, sizeof value) - 1 < sizeof value - 1) {
      exit = std::strcmp(value, "exit") == 0;
    }
    const DWORD length = GetEnvironmentVariableA("LAUNCHER_FAULT_COUNT", countFile, sizeof countFile);
    if (length == 0 || length >= sizeof countFile) countFile[0] = '\0';
  }
  ~FaultPlan() {
    if (countFile[0] == '\0') return;
    if (std::FILE* file = std::fopen(countFile, "w")) {
      std::fputs(kinds.c_str(), file);
      std::fclose(file);
    }
  }
};

FaultPlan plan;

}  // namespace

bool ReachFaultPoint(const char* kind) {
  if (plan.countFile[0] != '\0') plan.kinds.append(kind).append("\n");
  if (++plan.reached != plan.at) return true;
  if (plan.exit) TerminateProcess(GetCurrentProcess(), 99);
  SetLastError(ERROR_WRITE_FAULT);
  return false;
}

// The fault points of the launcher's test build: at the change numbered
// LAUNCHER_FAULT_AT (from 1) it fails that change (LAUNCHER_FAULT_MODE=fail),
// ends its own process at once (=exit), as a power cut would, or (=race)
// lets a rival act first: it writes the change's kind and paths, a line
// each, to the file LAUNCHER_RACE_FILE, waits for that file's ".go"
// sibling to appear, and goes on. With LAUNCHER_FAULT_COUNT naming a file,
// it writes there the kind of every change it reached, one a line, when it
// ends normally.

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
  bool race = false;
  char raceFile[MAX_PATH] = {};
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
      race = std::strcmp(value, "race") == 0;
    }
    const DWORD raceLength = GetEnvironmentVariableA("LAUNCHER_RACE_FILE", raceFile, sizeof raceFile);
    if (raceLength == 0 || raceLength >= sizeof raceFile - 4) race = false;
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

// Hands the change to the rival and waits (at most a minute) for its turn
// to end.
static void LetRivalAct(const char* kind, const std::string& path, const std::string& other) {
  const std::string text = std::string(kind) + "\n" + path + "\n" + other + "\n";
  const std::string go = std::string(plan.raceFile) + ".go";
  const std::string written = std::string(plan.raceFile) + ".new";
  if (std::FILE* file = std::fopen(written.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    MoveFileExA(written.c_str(), plan.raceFile, MOVEFILE_REPLACE_EXISTING);
  }
  for (int waited = 0; waited < 6000 && GetFileAttributesA(go.c_str()) == INVALID_FILE_ATTRIBUTES; ++waited) Sleep(10);
}

bool ReachFaultPoint(const char* kind, const std::string& path, const std::string& other) {
  if (plan.countFile[0] != '\0') plan.kinds.append(kind).append("\n");
  if (++plan.reached != plan.at) return true;
  if (plan.race) {
    LetRivalAct(kind, path, other);
    return true;
  }
  if (plan.exit) TerminateProcess(GetCurrentProcess(), 99);
  SetLastError(ERROR_WRITE_FAULT);
  return false;
}

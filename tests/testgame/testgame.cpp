// A game module whose behaviour each test scripts through an INI file named
// by the environment variable TESTGAME_SCRIPT. Section [cycleN] (else
// [default]) of the script drives the N-th call of RunGame:
//   signal=<file>      created when RunGame starts
//   wait_for=<file>    RunGame waits (up to 60 s) until this file exists
//   mkdir1..9=<folder> folders created (with parents)
//   copy1..9=<src>|<dst>  files copied, replacing
//   chdir=<folder>     working folder changed before returning
//   stage=<folder>|<marker>|<result file>  (stager builds only) the update
//                      folder staged with RunGameStageUpdate into the data
//                      folder's "game" (as the launcher names it); its result
//                      written to the result file
//   return=<n>         the result (default 0)
// Every call appends a record of what it was given to the file named by
// record= in [game]: the cycle number, whether argument 1 is this module's
// own handle, arguments 2 to 4, the working folder and the module's path.
#define RUNGAME_BUILDING_GAME
#include "rungame.h"

#include <shlobj.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef TESTGAME_STAGES_UPDATES
#include "rungame_update.h"
#endif

#ifdef TESTGAME_USES_DEPENDENCY
extern "C" __declspec(dllimport) int __cdecl GameDependencyVersion(void);
#endif

#ifndef TESTGAME_VARIANT
#define TESTGAME_VARIANT 1
#endif

namespace {

std::string ScriptPath() {
  char buffer[1024];
  const DWORD length = GetEnvironmentVariableA("TESTGAME_SCRIPT", buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::string();
  return buffer;
}

std::string Read(const std::string& script, const std::string& section, const char* key) {
  char buffer[1024];
  GetPrivateProfileStringA(section.c_str(), key, "\x01", buffer, sizeof buffer, script.c_str());
  if (std::strcmp(buffer, "\x01") != 0) return buffer;
  GetPrivateProfileStringA("default", key, "", buffer, sizeof buffer, script.c_str());
  return buffer;
}

int CountCycles(const std::string& record) {
  FILE* file = std::fopen(record.c_str(), "rb");
  if (!file) return 0;
  int cycles = 0;
  char line[4096];
  while (std::fgets(line, sizeof line, file)) {
    if (std::strncmp(line, "cycle=", 6) == 0) ++cycles;
  }
  std::fclose(file);
  return cycles;
}

std::string Hex(const char* bytes) {
  std::string hex;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes); p && *p; ++p) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", *p);
    hex += pair;
  }
  return hex;
}

void Touch(const std::string& path) {
  if (FILE* file = std::fopen(path.c_str(), "wb")) std::fclose(file);
}

// A handle as hex digits of the full pointer width, so both builds print the
// whole value the launcher passed.
std::string HandleHex(HINSTANCE handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  std::string digits;
  for (int shift = static_cast<int>(sizeof value * 8) - 4; shift >= 0; shift -= 4) {
    digits += "0123456789abcdef"[(value >> shift) & 0xF];
  }
  return digits;
}

void AppendRecord(const std::string& record, int cycle, HINSTANCE module, HINSTANCE previous,
                  LPSTR commandLine, int show) {
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&AppendRecord), &self);
  char modulePath[1024] = {};
  GetModuleFileNameA(self, modulePath, sizeof modulePath);
  char cwd[1024] = {};
  GetCurrentDirectoryA(sizeof cwd, cwd);
  FILE* file = std::fopen(record.c_str(), "ab");
  if (!file) return;
  std::fprintf(file, "cycle=%d\nvariant=%d\nmodule_is_self=%d\nprevious=%s\ncommand_line_hex=%s\nshow=%d\n",
               cycle, TESTGAME_VARIANT, module == self ? 1 : 0, HandleHex(previous).c_str(),
               Hex(commandLine).c_str(), show);
#ifdef TESTGAME_USES_DEPENDENCY
  std::fprintf(file, "dependency=%d\n", GameDependencyVersion());
#endif
  char updateStatus[1024] = {};
  GetEnvironmentVariableA("RUNGAME_UPDATE_STATUS", updateStatus, sizeof updateStatus);
  std::fprintf(file, "update_status=%s\ncwd=%s\nmodule_path=%s\nend=1\n", updateStatus, cwd, modulePath);
  std::fclose(file);
}

}  // namespace

extern "C" __declspec(dllexport) int __cdecl RunGame(HINSTANCE module, HINSTANCE previousInstance,
                                                     LPSTR commandLine, int showCommand) {
  const std::string script = ScriptPath();
  if (script.empty()) return 0;
  char record[1024];
  GetPrivateProfileStringA("game", "record", "", record, sizeof record, script.c_str());
  const int cycle = CountCycles(record) + 1;
  const std::string section = "cycle" + std::to_string(cycle);

  AppendRecord(record, cycle, module, previousInstance, commandLine, showCommand);

  const std::string signal = Read(script, section, "signal");
  if (!signal.empty()) Touch(signal);

  const std::string waitFor = Read(script, section, "wait_for");
  for (int waited = 0; !waitFor.empty() && waited < 60000; waited += 10) {
    if (GetFileAttributesA(waitFor.c_str()) != INVALID_FILE_ATTRIBUTES) break;
    Sleep(10);
  }

  for (int i = 1; i <= 9; ++i) {
    const std::string folder = Read(script, section, ("mkdir" + std::to_string(i)).c_str());
    if (!folder.empty()) SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr);
  }
  for (int i = 1; i <= 9; ++i) {
    const std::string copy = Read(script, section, ("copy" + std::to_string(i)).c_str());
    const size_t bar = copy.find('|');
    if (bar != std::string::npos) CopyFileA(copy.substr(0, bar).c_str(), copy.substr(bar + 1).c_str(), FALSE);
  }

#ifdef TESTGAME_STAGES_UPDATES
  const std::string stage = Read(script, section, "stage");
  const size_t firstBar = stage.find('|');
  const size_t secondBar = stage.find('|', firstBar == std::string::npos ? 0 : firstBar + 1);
  if (secondBar != std::string::npos) {
    const int staged = RunGameStageUpdate(stage.substr(0, firstBar).c_str(), nullptr, nullptr,
                                          stage.substr(firstBar + 1, secondBar - firstBar - 1).c_str(), nullptr, 0);
    if (FILE* result = std::fopen(stage.substr(secondBar + 1).c_str(), "wb")) {
      std::fprintf(result, "%d", staged);
      std::fclose(result);
    }
  }
#endif

  const std::string chdir = Read(script, section, "chdir");
  if (!chdir.empty()) SetCurrentDirectoryA(chdir.c_str());

  return std::atoi(Read(script, section, "return").c_str());
}

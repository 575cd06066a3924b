#pragma once
// Shared helpers for the tests: real folders and files in a scratch tree,
// programs started as separate processes, the scripted test game. Plain
// Win32 calls only, none of the launcher's own code: what a test expects is
// worked out independently of what it tests.

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace testing_support {

// --- Files and folders ---------------------------------------------------

std::string Join(const std::string& base, const std::string& name);
void MakeFolders(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
DWORD Attributes(const std::string& path);
bool IsDirectory(const std::string& path);
// Whether the entry itself (as its folder lists it) is a reparse point: a
// link, dangling or not.
bool IsLinkEntry(const std::string& path);
// Deletes a tree for good (no Recycle Bin), clearing read-only bits first and
// never following links.
void RemoveTree(const std::string& path);
// Empties the Recycle Bin of this process's HOME, which the programs it
// starts share: under Wine, $HOME/.local/share/Trash/files and info.
void EmptyRecycleBin();
// Whether the Recycle Bin of this test's HOME holds an entry named `name` (or
// `name` with a number Wine adds to keep names apart).
bool InRecycleBin(const std::string& name);
// Names of the entries of a folder, sorted.
std::vector<std::string> ListFolder(const std::string& path);
// Plants a symbolic link at `link` pointing to the folder or file `target`:
// CreateSymbolicLinkA where it makes one, else a unix link under Wine. True
// when the planted entry is a link (under Wine, for a link to a file, when
// its name is there: Wine shows it as the file).
bool PlantLink(const std::string& link, const std::string& target);

// --- Where things are ----------------------------------------------------

// The folder of the running test executable (build\<arch>\tests).
std::string TestBinaryFolder();
std::string LauncherExe();       // the built launcher.exe
std::string TestGameDll(int variant = 1);  // testgame.dll, or testgame_v2.dll
std::string NoGameDll();         // a DLL without RunGame
std::string OtherArchitectureGameDll();  // a game.dll built for the other architecture
// "Suite.Test" of the running test, usable in file names.
std::string CurrentTestName();
// A fresh, empty scratch folder for the running test (removed first if there).
std::string FreshScratchFolder();
// The common application-data folder and a company name no other test uses.
std::string CommonAppData();
std::string UniqueCompany();

// --- The test game -------------------------------------------------------

// Writes the script of the test game; `cycles[i]` holds the keys of
// [cycle{i+1}], `defaults` those of [default]. Returns the script path and
// points TESTGAME_SCRIPT at it for every process started afterwards.
struct GameScript {
  std::map<std::string, std::string> defaults;
  std::vector<std::map<std::string, std::string>> cycles;
  std::string recordPath;
};
std::string InstallGameScript(const std::string& folder, const GameScript& script);

using Record = std::map<std::string, std::string>;
std::vector<Record> ReadRecords(const std::string& recordPath);
std::string HexOf(const std::string& bytes);

// --- Programs ------------------------------------------------------------

// An install folder: launcher.exe (under `exeName`), game.dll and game.xml.
struct Install {
  std::string folder;
  std::string exe;
};
Install MakeInstall(const std::string& folder, const std::string& gameXml,
                    const std::string& exeName = "launcher.exe");

// A game.xml whose settings element carries the given attributes (escaped).
std::string SettingsXml(const std::vector<std::pair<std::string, std::string>>& attributes);

// Every time limit below is multiplied by LAUNCHER_TEST_TIME_SCALE (a whole
// number; unset: 1), for machines slower than a developer's, such as the
// emulated one of the 32-bit lane. TimeScale() is that number.
unsigned long TimeScale();

struct RunOptions {
  std::string workingFolder;
  std::string arguments;  // appended after the quoted program path
  int showCommand = -1;   // -1: no STARTF_USESHOWWINDOW
  DWORD timeoutMs = 60000;
};

// A program started as a separate process, killed when still running at
// the end of its owner's scope.
class Process {
 public:
  Process(const std::string& exe, const RunOptions& options);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  bool Started() const { return process_ != nullptr; }
  // Why it did not start: CreateProcess's error.
  DWORD StartError() const { return startError_; }
  // The exit code, or -1 when the process did not end in time (it is then
  // killed) or never started.
  long Wait(DWORD timeoutMs);
  bool Finished() const;
  // Ends the process at once, as a crash or a power cut would.
  void Kill();

 private:
  HANDLE process_ = nullptr;
  DWORD startError_ = 0;
};

// Runs a program to its end: its exit code, or -1 on a time-out.
long RunProgram(const std::string& exe, const RunOptions& options);

// Waits up to `timeoutMs` for a file to appear.
bool WaitForFile(const std::string& path, DWORD timeoutMs);

}  // namespace testing_support

#pragma once
// Shared helpers for the tests: real folders and files in a scratch tree,
// the real launcher.exe started as a separate process, the scripted test game.

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
// Deletes a tree for good (no Recycle Bin), clearing read-only bits first and
// never following links.
void RemoveTree(const std::string& path);
// Names of the entries of a folder, sorted.
std::vector<std::string> ListFolder(const std::string& path);

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
// The Recycle Bin's files folder of this test's own HOME.
std::string TrashFilesFolder();
// Unix path as Wine shows it (Z:\...) of this test's HOME.
std::string HomeFolder();

// --- The test game -------------------------------------------------------

// Writes the script of the test game; `cycles[i]` holds the keys of
// [cycle{i+1}], `defaults` those of [default]. Returns the script path and
// points TESTGAME_SCRIPT at it for every process started afterwards.
struct GameScript {
  std::string recordPath;
  std::map<std::string, std::string> defaults;
  std::vector<std::map<std::string, std::string>> cycles;
};
std::string InstallGameScript(const std::string& folder, const GameScript& script);

using Record = std::map<std::string, std::string>;
std::vector<Record> ReadRecords(const std::string& recordPath);
std::string HexOf(const std::string& bytes);

// --- The launcher --------------------------------------------------------

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
// emulated one of the 32-bit lane.
struct RunOptions {
  std::string workingFolder;
  std::string arguments;  // appended after the quoted program path
  int showCommand = -1;   // -1: no STARTF_USESHOWWINDOW
  DWORD timeoutMs = 60000;
};

class LauncherProcess {
 public:
  LauncherProcess(const std::string& exe, const RunOptions& options);
  ~LauncherProcess();
  LauncherProcess(const LauncherProcess&) = delete;
  LauncherProcess& operator=(const LauncherProcess&) = delete;
  bool Started() const { return process_ != nullptr; }
  // The exit code, or -1 when the process did not end in time (it is then
  // killed) or never started.
  long Wait(DWORD timeoutMs);
  bool Finished() const;
  // Ends the process at once, as a crash or a power cut would.
  void Kill();

 private:
  HANDLE process_ = nullptr;
};

// Runs the launcher to its end: its exit code, or -1 on a time-out.
long RunLauncher(const std::string& exe, const RunOptions& options);

// Waits up to `timeoutMs` for a file to appear.
bool WaitForFile(const std::string& path, DWORD timeoutMs);

// Sets a Wine per-application Windows version ("nt40", "win98", "winxp").
void SetWineAppVersion(const std::string& exeName, const std::string& version);

}  // namespace testing_support

namespace testing_support {

// Plants a symbolic link at `link` pointing to the folder or file `target`.
// Windows makes it with CreateSymbolicLinkA; Wine, which makes no folder
// links that way, gets a unix symbolic link (shown as a reparse point).
// True when the planted entry carries the reparse-point bit.
bool PlantLink(const std::string& link, const std::string& target);

// The unix path of a Windows path under Wine; empty elsewhere.
std::string UnixPathOf(const std::string& path);

// Runs `command` with the unix shell under Wine and waits up to `timeoutMs`
// for it: its exit status, or -1 when it cannot run here or did not end in
// time. Its output goes to `*output` when given. The command must not hold
// double quotes.
int RunUnixShell(const std::string& command, DWORD timeoutMs, std::string* output = nullptr);

// A small tmpfs mounted over this prefix's common application-data folder
// while the object lives, so that a test can fill the data folder's drive.
// Wine shows the mount point as a link, which is why it is the root and not
// one of the launcher's own levels. Mounting needs root: where the host does
// not allow it, Mounted() is false and Reason() says why.
class SmallAppDataDrive {
 public:
  explicit SmallAppDataDrive(unsigned megabytes);
  ~SmallAppDataDrive();
  SmallAppDataDrive(const SmallAppDataDrive&) = delete;
  SmallAppDataDrive& operator=(const SmallAppDataDrive&) = delete;
  bool Mounted() const { return mounted_; }
  const std::string& Reason() const { return reason_; }
  // Gives the drive a new size, keeping what it holds.
  bool Resize(unsigned megabytes);

 private:
  std::string mountPoint_;
  std::string reason_;
  bool mounted_ = false;
};

}  // namespace testing_support

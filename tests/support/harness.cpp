#include "tests/support/harness.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include "fs/walk.h"

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

namespace testing_support {

std::string Join(const std::string& base, const std::string& name) {
  if (base.empty()) return name;
  if (base.back() == '\\') return base + name;
  return base + "\\" + name;
}

void MakeFolders(const std::string& path) { SHCreateDirectoryExA(nullptr, path.c_str(), nullptr); }

void WriteFile(const std::string& path, const std::string& content) {
  const size_t slash = path.find_last_of('\\');
  if (slash != std::string::npos) MakeFolders(path.substr(0, slash));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

DWORD Attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

bool Exists(const std::string& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }


namespace {
std::string UnixPath(const std::string& path);
DWORD Scaled(DWORD timeoutMs);
bool StartUnixCommand(const std::string& command);
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs);
}  // namespace

void RemoveTree(const std::string& path) {
  // Under Wine the unix tools remove what Windows calls cannot, such as a
  // dangling link; rm never follows links.
  // rm runs detached: started for a path already gone, it could remove what
  // the test makes there next.
  if (path.size() > 3 && (Exists(path) || IsLink(path))) {
    const std::string unixPath = UnixPath(path);
    if (!unixPath.empty() && unixPath != "/" && StartUnixCommand("/bin/rm -rf -- \"" + unixPath + "\"") &&
        WaitUntil([&] { return !Exists(path); }, 30000)) {
      return;
    }
  }
  const DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    // A link (a dangling one has no attributes): remove the link alone.
    if (!DeleteFileA(path.c_str())) RemoveDirectoryA(path.c_str());
    return;
  }
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileA(path.c_str());
    return;
  }
  for (const std::string& name : ListFolder(path)) RemoveTree(Join(path, name));
  RemoveDirectoryA(path.c_str());
}

std::vector<std::string> ListFolder(const std::string& path) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(Join(path, "*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = data.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &data));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

std::string TestBinaryFolder() {
  char buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  std::string path(buffer, length);
  return path.substr(0, path.find_last_of('\\'));
}

std::string LauncherExe() {
  const std::string tests = TestBinaryFolder();
  return Join(tests.substr(0, tests.find_last_of('\\')), "launcher.exe");
}

std::string TestGameDll(int variant) {
  return Join(TestBinaryFolder(), variant == 1 ? "testgame.dll" : "testgame_v" + std::to_string(variant) + ".dll");
}

std::string NoGameDll() { return Join(TestBinaryFolder(), "nogame.dll"); }
std::string OtherArchitectureGameDll() { return Join(Join(TestBinaryFolder(), "other_arch"), "game.dll"); }

std::string CurrentTestName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return name;
}

std::string FreshScratchFolder() {
  const std::string tests = TestBinaryFolder();
  const std::string folder =
      Join(Join(tests.substr(0, tests.find_last_of('\\')), "scratch"), CurrentTestName());
  RemoveTree(folder);
  MakeFolders(folder);
  return folder;
}

std::string CommonAppData() {
  char buffer[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer);
  return buffer;
}

std::string UniqueCompany() {
  std::string name = "LauncherTest " + CurrentTestName();
  std::replace(name.begin(), name.end(), '.', '_');
  return name;
}

std::string HomeFolder() {
  char buffer[MAX_PATH] = {};
  GetEnvironmentVariableA("WINEHOMEDIR", buffer, sizeof buffer);
  std::string home = buffer;
  if (home.rfind("\\??\\", 0) == 0) home = home.substr(4);
  return home;
}

std::string TrashFilesFolder() { return Join(HomeFolder(), ".local\\share\\Trash\\files"); }

std::string InstallGameScript(const std::string& folder, const GameScript& script) {
  std::ostringstream ini;
  ini << "[game]\r\nrecord=" << script.recordPath << "\r\n";
  ini << "[default]\r\n";
  for (const auto& entry : script.defaults) ini << entry.first << "=" << entry.second << "\r\n";
  for (size_t i = 0; i < script.cycles.size(); ++i) {
    ini << "[cycle" << (i + 1) << "]\r\n";
    for (const auto& entry : script.cycles[i]) ini << entry.first << "=" << entry.second << "\r\n";
  }
  const std::string path = Join(folder, "game-script.ini");
  WriteFile(path, ini.str());
  SetEnvironmentVariableA("TESTGAME_SCRIPT", path.c_str());
  return path;
}

std::vector<Record> ReadRecords(const std::string& recordPath) {
  std::vector<Record> records;
  std::istringstream in(ReadFile(recordPath));
  std::string line;
  Record current;
  while (std::getline(in, line)) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    current[line.substr(0, equals)] = line.substr(equals + 1);
    if (line.rfind("end=", 0) == 0) {
      records.push_back(current);
      current.clear();
    }
  }
  return records;
}

std::string HexOf(const std::string& bytes) {
  std::string hex;
  for (unsigned char c : bytes) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", c);
    hex += pair;
  }
  return hex;
}

Install MakeInstall(const std::string& folder, const std::string& gameXml, const std::string& exeName) {
  MakeFolders(folder);
  Install install{folder, Join(folder, exeName)};
  EXPECT_TRUE(CopyFileA(LauncherExe().c_str(), install.exe.c_str(), FALSE)) << LauncherExe();
  EXPECT_TRUE(CopyFileA(TestGameDll().c_str(), Join(folder, "game.dll").c_str(), FALSE));
  WriteFile(Join(folder, "game.xml"), gameXml);
  return install;
}

std::string SettingsXml(const std::vector<std::pair<std::string, std::string>>& attributes) {
  std::string xml = "<?xml version=\"1.0\"?>\n<settings";
  for (const auto& attribute : attributes) {
    std::string value;
    for (char c : attribute.second) {
      switch (c) {
        case '&': value += "&amp;"; break;
        case '<': value += "&lt;"; break;
        case '"': value += "&quot;"; break;
        default: value += c;
      }
    }
    xml += " " + attribute.first + "=\"" + value + "\"";
  }
  return xml + " />\n";
}

LauncherProcess::LauncherProcess(const std::string& exe, const RunOptions& options) {
  std::string commandLine = "\"" + exe + "\"";
  if (!options.arguments.empty()) commandLine += " " + options.arguments;
  std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (options.showCommand >= 0) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(options.showCommand);
  }
  PROCESS_INFORMATION info = {};
  const char* cwd = options.workingFolder.empty() ? nullptr : options.workingFolder.c_str();
  if (CreateProcessA(exe.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, cwd, &startup, &info)) {
    CloseHandle(info.hThread);
    process_ = info.hProcess;
  }
}

LauncherProcess::~LauncherProcess() {
  if (!process_) return;
  if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_, 99);
    WaitForSingleObject(process_, 5000);
  }
  CloseHandle(process_);
}

long LauncherProcess::Wait(DWORD timeoutMs) {
  if (!process_) return -1;
  if (WaitForSingleObject(process_, Scaled(timeoutMs)) != WAIT_OBJECT_0) {
    TerminateProcess(process_, 99);
    WaitForSingleObject(process_, 5000);
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  return static_cast<long>(code);
}

bool LauncherProcess::Finished() const { return !process_ || WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }

void LauncherProcess::Kill() {
  if (!process_ || Finished()) return;
  TerminateProcess(process_, 99);
  WaitForSingleObject(process_, 5000);
}

long RunLauncher(const std::string& exe, const RunOptions& options) {
  LauncherProcess process(exe, options);
  EXPECT_TRUE(process.Started()) << "cannot start " << exe;
  return process.Wait(options.timeoutMs);
}

bool WaitForFile(const std::string& path, DWORD timeoutMs) {
  const DWORD limit = Scaled(timeoutMs);
  for (DWORD waited = 0; waited < limit; waited += 10) {
    if (Exists(path)) return true;
    Sleep(10);
  }
  return Exists(path);
}

void SetWineAppVersion(const std::string& exeName, const std::string& version) {
  const std::string key = "Software\\Wine\\AppDefaults\\" + exeName;
  HKEY handle = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                           &handle, nullptr));
  RegSetValueExA(handle, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                 static_cast<DWORD>(version.size() + 1));
  RegCloseKey(handle);
}

}  // namespace testing_support

namespace testing_support {

namespace {

// The unix path of a Windows path under Wine; empty elsewhere.
std::string UnixPath(const std::string& path) {
  using ToUnixFn = char*(CDECL*)(LPCWSTR);
  const auto toUnix = reinterpret_cast<ToUnixFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix) return std::string();
  wchar_t widePath[MAX_PATH];
  if (!MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH)) return std::string();
  char* unixPath = toUnix(widePath);
  if (!unixPath) return std::string();
  std::string result = unixPath;
  HeapFree(GetProcessHeap(), 0, unixPath);
  return result;
}

// Wine starts unix programs through CreateProcess too, but detached: the
// handle it returns cannot be waited on, so callers wait for the effect.
bool StartUnixCommand(const std::string& command) {
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

// Time limits stretched for slow machines, such as an emulated one: times the
// whole number in LAUNCHER_TEST_TIME_SCALE, if set. Assertions never change.
DWORD Scaled(DWORD timeoutMs) {
  char value[16] = {};
  const DWORD length = GetEnvironmentVariableA("LAUNCHER_TEST_TIME_SCALE", value, sizeof value);
  const unsigned long scale = length > 0 && length < sizeof value ? std::strtoul(value, nullptr, 10) : 1;
  if (scale <= 1) return timeoutMs;
  return timeoutMs > (INFINITE - 1) / scale ? INFINITE - 1 : static_cast<DWORD>(timeoutMs * scale);
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD limit = Scaled(timeoutMs);
  for (DWORD waited = 0; waited < limit; waited += 5) {
    if (done()) return true;
    Sleep(5);
  }
  return done();
}

}  // namespace

bool PlantLink(const std::string& link, const std::string& target) {
  using CreateLinkFn = BOOLEAN(WINAPI*)(LPCSTR, LPCSTR, DWORD);
  const auto create = reinterpret_cast<CreateLinkFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA")));
  const DWORD flags = IsFolder(target) ? 1 /* SYMBOLIC_LINK_FLAG_DIRECTORY */ : 0;
  if (create && create(link.c_str(), target.c_str(), flags) && IsLink(link)) return true;
  RemoveDirectoryA(link.c_str());
  DeleteFileA(link.c_str());

  // The parent's unix path: Wine maps a missing last component only sometimes.
  const size_t slash = link.find_last_of('\\');
  if (slash == std::string::npos) return false;
  const std::string unixParent = UnixPath(link.substr(0, slash));
  const std::string unixLink = unixParent.empty() ? std::string() : unixParent + "/" + link.substr(slash + 1);
  const std::string unixTarget = UnixPath(target);
  if (unixLink.empty() || unixTarget.empty()) return false;
  return StartUnixCommand("/bin/ln -s \"" + unixTarget + "\" \"" + unixLink + "\"") &&
         WaitUntil([&] { return IsLink(link); }, 10000);
}

}  // namespace testing_support

namespace testing_support {

std::string UnixPathOf(const std::string& path) { return UnixPath(path); }

int RunUnixShell(const std::string& command, DWORD timeoutMs, std::string* output) {
  static int serial = 0;
  const std::string tests = TestBinaryFolder();
  const std::string base = Join(Join(tests.substr(0, tests.find_last_of('\\')), "scratch"),
                                CurrentTestName() + ".shell" + std::to_string(++serial));
  const std::string status = base + ".status";
  const std::string log = base + ".log";
  DeleteFileA(status.c_str());
  DeleteFileA(log.c_str());
  const std::string unixStatus = UnixPath(status);
  const std::string unixLog = UnixPath(log);
  if (unixStatus.empty() || unixLog.empty()) return -1;
  // The status file appears whole, by a rename, once the command ended.
  const std::string line = "/bin/sh -c \"(" + command + ") >'" + unixLog + "' 2>&1; echo $? >'" + unixStatus +
                           ".part'; mv '" + unixStatus + ".part' '" + unixStatus + "'\"";
  if (!StartUnixCommand(line) || !WaitUntil([&] { return Exists(status); }, timeoutMs)) return -1;
  if (output) *output = ReadFile(log);
  const int result = std::atoi(ReadFile(status).c_str());
  DeleteFileA(status.c_str());
  DeleteFileA(log.c_str());
  return result;
}

}  // namespace testing_support

namespace testing_support {

SmallAppDataDrive::SmallAppDataDrive(unsigned megabytes) : mountPoint_(UnixPath(CommonAppData())) {
  if (mountPoint_.empty()) {
    reason_ = "not running under Wine";
    return;
  }
  // A mount left by a test that was killed would hide the real folder.
  RunUnixShell("mountpoint -q '" + mountPoint_ + "' && umount -l '" + mountPoint_ + "'", 30000);
  std::string output;
  const int status = RunUnixShell(
      "mount -t tmpfs -o size=" + std::to_string(megabytes) + "m launcher-test '" + mountPoint_ + "'", 30000, &output);
  mounted_ = status == 0;
  if (!mounted_) reason_ = "cannot mount a tmpfs here (status " + std::to_string(status) + "): " + output;
}

SmallAppDataDrive::~SmallAppDataDrive() {
  if (!mounted_) return;
  if (RunUnixShell("umount '" + mountPoint_ + "'", 30000) != 0) {
    RunUnixShell("umount -l '" + mountPoint_ + "'", 30000);
  }
}

bool SmallAppDataDrive::Resize(unsigned megabytes) {
  return mounted_ && RunUnixShell("mount -o remount,size=" + std::to_string(megabytes) + "m '" + mountPoint_ + "'",
                                  30000) == 0;
}

}  // namespace testing_support

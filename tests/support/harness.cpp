#include "tests/support/harness.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include "tests/support/wine_host.h"

#include <algorithm>
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


bool IsDirectory(const std::string& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsLinkEntry(const std::string& path) {
  // The entry as its folder lists it, so a dangling link counts too.
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(path.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

unsigned long TimeScale() {
  char value[16] = {};
  const DWORD length = GetEnvironmentVariableA("LAUNCHER_TEST_TIME_SCALE", value, sizeof value);
  const unsigned long scale = length > 0 && length < sizeof value ? std::strtoul(value, nullptr, 10) : 1;
  return scale > 1 ? scale : 1;
}

namespace {

// Time limits stretched for slow machines, such as an emulated one: times the
// whole number in LAUNCHER_TEST_TIME_SCALE, if set. Assertions never change.
DWORD Scaled(DWORD timeoutMs) {
  const unsigned long scale = TimeScale();
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

void RemoveTree(const std::string& path) {
  // Under Wine the unix tools remove what Windows calls cannot, such as a
  // dangling link. They run detached: started for a path already gone, they
  // could remove what the test makes there next.
  if (path.size() > 3 && (Exists(path) || IsLinkEntry(path)) && wine_host::StartUnixRemove(path) &&
      WaitUntil([&] { return !Exists(path) && !IsLinkEntry(path); }, 30000)) {
    return;
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

bool InRecycleBin(const std::string& name) {
  for (const std::string& entry : ListFolder(wine_host::RecycleBinFilesFolder())) {
    if (entry.rfind(name, 0) == 0) return true;
  }
  return false;
}

void EmptyRecycleBin() {
  const std::string files = wine_host::RecycleBinFilesFolder();
  if (files.empty()) return;
  // Its folders stay: Wine looks for them once per process.
  const std::string bin = files.substr(0, files.find_last_of('\\'));
  for (const char* part : {"files", "info"}) {
    const std::string folder = Join(bin, part);
    for (const std::string& name : ListFolder(folder)) RemoveTree(Join(folder, name));
  }
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
  // The drive the test runner maps to the build's scratch folder: short
  // paths wherever the build lies.
  char drive[8] = {};
  const DWORD length = GetEnvironmentVariableA("LAUNCHER_TEST_SCRATCH_DRIVE", drive, sizeof drive);
  const std::string tests = TestBinaryFolder();
  const std::string base = length > 0 && length < sizeof drive
                               ? std::string(drive) + "\\"
                               : Join(tests.substr(0, tests.find_last_of('\\')), "scratch");
  const std::string folder = Join(base, CurrentTestName());
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

Process::Process(const std::string& exe, const RunOptions& options) {
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
  // Under Wine a new process now and then dies before it is set up, its
  // program not yet begun (about once in a thousand starts on some hosts):
  // CreateProcess then fails with ERROR_INTERNAL_ERROR, and one more start
  // is sound.
  for (int attempt = 0; attempt < 2 && !process_; ++attempt) {
    if (CreateProcessA(exe.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, cwd, &startup, &info)) {
      CloseHandle(info.hThread);
      process_ = info.hProcess;
    } else {
      startError_ = GetLastError();
      if (startError_ != ERROR_INTERNAL_ERROR) break;
      std::fprintf(stderr, "%s did not start (error %lu); starting it again\n", exe.c_str(),
                   static_cast<unsigned long>(startError_));
    }
  }
}

Process::~Process() {
  if (!process_) return;
  if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_, 99);
    WaitForSingleObject(process_, 5000);
  }
  CloseHandle(process_);
}

long Process::Wait(DWORD timeoutMs) {
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

bool Process::Finished() const { return !process_ || WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }

void Process::Kill() {
  if (!process_ || Finished()) return;
  TerminateProcess(process_, 99);
  WaitForSingleObject(process_, 5000);
}

long RunProgram(const std::string& exe, const RunOptions& options) {
  Process process(exe, options);
  EXPECT_TRUE(process.Started()) << "cannot start " << exe << " (error " << process.StartError() << ")";
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

bool PlantLink(const std::string& link, const std::string& target) {
  using CreateLinkFn = BOOLEAN(WINAPI*)(LPCSTR, LPCSTR, DWORD);
  const auto create = reinterpret_cast<CreateLinkFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA")));
  const DWORD flags = IsDirectory(target) ? 1 /* SYMBOLIC_LINK_FLAG_DIRECTORY */ : 0;
  if (create && create(link.c_str(), target.c_str(), flags) && IsLinkEntry(link)) return true;
  // Wine makes no folder links that way.
  RemoveDirectoryA(link.c_str());
  DeleteFileA(link.c_str());
  // A unix link to a file shows as the file itself: there its name is all
  // there is to wait for.
  const bool toFile = !IsDirectory(target) && GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES;
  return wine_host::StartUnixLink(link, target) && WaitUntil([&] {
           return toFile ? GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES : IsLinkEntry(link);
         }, 10000);
}

}  // namespace testing_support

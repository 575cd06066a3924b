#include "tests/provisioning/provisioning_support.h"

#include <aclapi.h>

#include <cstdio>
#include <functional>
#include <vector>

using namespace testing_support;

namespace provisioning_support {

std::string UnixPathOf(const std::string& windowsPath) {
  typedef char*(CDECL * UnixNameFn)(LPCWSTR);
  const auto toUnix = reinterpret_cast<UnixNameFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix) return std::string();
  std::vector<WCHAR> wide(windowsPath.size() + 1);
  MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
  char* unixPath = toUnix(wide.data());
  if (!unixPath) return std::string();
  std::string result = unixPath;
  HeapFree(GetProcessHeap(), 0, unixPath);
  return result;
}

void RunUnix(const std::string& commandLine) {
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return;
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
}

// Wine's handle of a unix process cannot be waited on, so the callers wait
// for the effect instead.
bool WaitUntil(const std::function<bool()>& done) {
  for (int waited = 0; waited < 30000; waited += 10) {
    if (done()) return true;
    Sleep(10);
  }
  return done();
}

bool PlantLink(const std::string& link, const std::string& target) {
  // The parent's unix path: Wine maps a missing last component only sometimes.
  const size_t slash = link.find_last_of('\\');
  if (slash == std::string::npos) return false;
  const std::string unixParent = UnixPathOf(link.substr(0, slash));
  const std::string unixTarget = UnixPathOf(target);
  if (unixParent.empty() || unixTarget.empty()) {
    std::fprintf(stderr, "no unix path for %s or %s\n", link.c_str(), target.c_str());
    return false;
  }
  const std::string unixLink = unixParent + "/" + link.substr(slash + 1);
  RunUnix("/bin/ln -s \"" + unixTarget + "\" \"" + unixLink + "\"");
  const bool planted = WaitUntil([&link] {
    const DWORD attributes = Attributes(link);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  });
  if (!planted) std::fprintf(stderr, "no link at %s\n", link.c_str());
  return planted;
}

void RemoveLink(const std::string& link) {
  const size_t slash = link.find_last_of('\\');
  if (slash == std::string::npos || !(Attributes(link) & FILE_ATTRIBUTE_REPARSE_POINT)) return;
  if (Attributes(link) == INVALID_FILE_ATTRIBUTES) return;
  const std::string unixParent = UnixPathOf(link.substr(0, slash));
  if (unixParent.empty()) return;
  RunUnix("/bin/rm -f \"" + unixParent + "/" + link.substr(slash + 1) + "\"");
  WaitUntil([&link] { return !Exists(link); });
}

bool EveryoneHasFullAccess(const std::string& path) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                            nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  bool full = dacl == nullptr;
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
  // Wine shows a null access list as an allowing entry for everyone with all
  // file rights and DELETE, though without WRITE_DAC and WRITE_OWNER.
  const DWORD wanted = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
  for (DWORD i = 0; dacl && !full && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    if (!EqualSid(const_cast<DWORD*>(&allowed->SidStart), everyone)) continue;
    full = (allowed->Mask & wanted) == wanted || (allowed->Mask & GENERIC_ALL);
  }
  if (everyone) FreeSid(everyone);
  LocalFree(descriptor);
  return full;
}

bool IsWritable(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

void MakeLargeFile(const std::string& path, long long bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
  LONG high = static_cast<LONG>(bytes >> 32);
  SetFilePointer(file, static_cast<LONG>(bytes & 0xffffffff), &high, FILE_BEGIN);
  EXPECT_TRUE(SetEndOfFile(file));
  CloseHandle(file);
}

std::string VersionXml(const std::string& x, const std::string& y) {
  return "<?xml version=\"1.0\"?>\n<version x=\"" + x + "\" y=\"" + y + "\" />\n";
}

void PurgeTree(const std::string& path) {
  // rm -rf removes links themselves and never follows them; Windows calls
  // cannot remove a unix link to a folder under Wine.
  const std::string unixPath = UnixPathOf(path);
  const bool ours = unixPath.find("LauncherTest") != std::string::npos || unixPath.find("/scratch/") != std::string::npos;
  if (unixPath.size() < 2 || !ours) return;
  RunUnix("/bin/rm -rf \"" + unixPath + "\"");
  WaitUntil([&path] { return !Exists(path); });
}

void CompanyTest::SetUp() {
  const std::string tests = TestBinaryFolder();
  PurgeTree(Join(Join(tests.substr(0, tests.find_last_of('\\')), "scratch"), CurrentTestName()));
  scratch = FreshScratchFolder();
  record = Join(scratch, "record.txt");
  company = UniqueCompany();
  companyFolder = Join(CommonAppData(), company);
  PurgeTree(companyFolder);
}

void CompanyTest::TearDown() { PurgeTree(companyFolder); }

std::string CompanyTest::Settings() const {
  return SettingsXml({{"company", company}, {"product", "Game"}, {"lang", "en"}});
}

std::string CompanyTest::DataFolder() const { return Join(companyFolder, "Game\\en"); }

Install CompanyTest::MakeGameInstall(const std::string& name, const std::string& exeName) {
  return MakeInstall(Join(scratch, name), Settings(), exeName);
}

void CompanyTest::ProvisionDataFolder() {
  const std::string data = DataFolder();
  WriteFile(Join(data, "saves\\slot1.sav"), "saved");
  EXPECT_TRUE(CopyFileA(TestGameDll().c_str(), Join(data, "game.dll").c_str(), FALSE));
  WriteFile(Join(data, "game.xml"), Settings());
}

long CompanyTest::Run(const Install& install, const std::string& exe) {
  InstallGameScript(scratch, {record, {{"return", "0"}}});
  RunOptions options;
  options.workingFolder = install.folder;
  return RunLauncher(exe.empty() ? install.exe : exe, options);
}

std::string CompanyTest::RanIn() {
  const auto records = ReadRecords(record);
  EXPECT_EQ(1u, records.size());
  return records.empty() ? std::string() : records[0].at("cwd");
}

}  // namespace provisioning_support

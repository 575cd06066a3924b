#include "tests/provisioning/provisioning_support.h"

#include <aclapi.h>

using namespace testing_support;

namespace provisioning_support {

void RemoveLink(const std::string& link) { RemoveTree(link); }

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

Install CompanyTest::MakeGameInstall(const std::string& name, const std::string& exeName) const {
  return MakeInstall(Join(scratch, name), AppDataSettings(), exeName);
}

}  // namespace provisioning_support

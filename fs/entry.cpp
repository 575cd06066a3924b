#include "fs/entry.h"

#include <aclapi.h>

#include <memory>
#include <vector>


EntryAttributes QueryEntry(const std::string& path) { return EntryAttributes{GetFileAttributesA(path.c_str())}; }

std::optional<unsigned long long> FreeBytesAt(const std::string& path) {
  std::string folder = path;
  while (!folder.empty()) {
    std::string query = folder;
    if (query.back() != '\\') query += '\\';
    ULARGE_INTEGER available;
    if (GetDiskFreeSpaceExA(query.c_str(), &available, nullptr, nullptr)) return available.QuadPart;
    const size_t slash = folder.find_last_of('\\', folder.size() - 2);
    if (slash == std::string::npos) break;
    folder.resize(slash);
  }
  return std::nullopt;
}

namespace {

struct LocalMemory {
  void operator()(void* memory) const { LocalFree(memory); }
};

// The SID of a token information class that starts with one (user, owner).
std::vector<unsigned char> TokenSid(HANDLE token, TOKEN_INFORMATION_CLASS type) {
  DWORD size = 0;
  GetTokenInformation(token, type, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (size == 0 || !GetTokenInformation(token, type, buffer.data(), size, &size)) return {};
  return buffer;
}

}  // namespace

bool IsOwnedByThisAccount(HANDLE handle) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const std::unique_ptr<void, LocalMemory> heldDescriptor(descriptor);
  if (!owner || !IsValidSid(owner)) return false;
  HANDLE rawToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return false;
  const UniqueKernelHandle token(rawToken);
  const std::vector<unsigned char> user = TokenSid(token.Get(), TokenUser);
  const std::vector<unsigned char> defaultOwner = TokenSid(token.Get(), TokenOwner);
  if (!user.empty() && EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid)) return true;
  if (!defaultOwner.empty() && EqualSid(owner, reinterpret_cast<const TOKEN_OWNER*>(defaultOwner.data())->Owner)) {
    return true;
  }
  // The machine's administrators and its system account, built as Windows
  // 2000 can (CreateWellKnownSid came with XP).
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  const auto wellKnown = [&ntAuthority](BYTE count, DWORD first, DWORD second) {
    PSID sid = nullptr;
    return UniqueSid(AllocateAndInitializeSid(&ntAuthority, count, first, second, 0, 0, 0, 0, 0, 0, &sid) ? sid
                                                                                                         : nullptr);
  };
  const UniqueSid trusted[] = {wellKnown(2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS),
                               wellKnown(1, SECURITY_LOCAL_SYSTEM_RID, 0)};
  for (const UniqueSid& sid : trusted) {
    if (sid && EqualSid(owner, sid.Get())) return true;
  }
  return false;
}

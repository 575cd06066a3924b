#include "fs/native.h"

#include <cstring>
#include <vector>

namespace {

// The native structures, declared here: the SDKs disagree on which of them
// their headers carry.
struct CountedName {
  USHORT length;
  USHORT capacity;
  PWSTR buffer;
};

struct ObjectName {
  ULONG length;
  HANDLE root;
  CountedName* name;
  ULONG attributes;
  void* security;
  void* quality;
};

struct IoResult {
  union {
    LONG status;
    void* pointer;
  };
  ULONG_PTR information;
};

struct RenameRecord {
  BOOLEAN replace;
  HANDLE root;
  ULONG nameBytes;
  WCHAR name[1];
};

struct BasicRecord {
  LARGE_INTEGER created, accessed, written, changed;
  ULONG attributes;
};

struct StandardRecord {
  LARGE_INTEGER allocated, size;
  ULONG links;
  BOOLEAN deleting, folder;
};

struct VolumeSizeRecord {
  LARGE_INTEGER units, available;
  ULONG sectorsPerUnit, bytesPerSector;
};

struct DirectoryRecord {
  ULONG next;
  ULONG index;
  LARGE_INTEGER created, accessed, written, changed, size, allocated;
  ULONG attributes;
  ULONG nameBytes;
  WCHAR name[1];
};

using CreateFileCall = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, ObjectName*, IoResult*, LARGE_INTEGER*, ULONG, ULONG, ULONG,
                                     ULONG, void*, ULONG);
using InformationCall = LONG(WINAPI*)(HANDLE, IoResult*, void*, ULONG, int);
using DirectoryCall = LONG(WINAPI*)(HANDLE, HANDLE, void*, void*, IoResult*, void*, ULONG, int, BOOLEAN, CountedName*,
                                    BOOLEAN);
using StatusToErrorCall = ULONG(WINAPI*)(LONG);

constexpr int kDirectoryInformation = 1;
constexpr int kBasicInformation = 4;
constexpr int kStandardInformation = 5;
constexpr int kInternalInformation = 6;
constexpr int kVolumeSizeInformation = 3;
constexpr int kRenameInformation = 10;
constexpr int kDispositionInformation = 13;

constexpr ULONG kOpen = 1;
constexpr ULONG kCreate = 2;
constexpr ULONG kFolderOnly = 0x1;
constexpr ULONG kSynchronous = 0x20;
constexpr ULONG kFileOnly = 0x40;
constexpr ULONG kLinkItself = 0x200000;
constexpr ULONG kCaseInsensitive = 0x40;

constexpr LONG kNoMoreFiles = static_cast<LONG>(0x80000006);
constexpr LONG kInvalidParameter = static_cast<LONG>(0xC000000D);

constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

template <typename Call>
Call As(void* address) {
  Call call;
  std::memcpy(&call, &address, sizeof call);
  return call;
}

// The UTF-16 spelling of an ANSI name, as the A calls would use it.
bool Widen(const std::string& name, std::wstring& wide) {
  if (name.empty() || name.size() > MAX_PATH) return false;
  wide.assign(name.size(), L'\0');
  const int length = MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), &wide[0],
                                         static_cast<int>(wide.size()));
  if (length <= 0) return false;
  wide.resize(static_cast<std::size_t>(length));
  return true;
}

// The ANSI spelling of a UTF-16 name; false when no ANSI name leads back to it.
bool Narrow(const WCHAR* name, std::size_t length, std::string& narrow) {
  narrow.assign(length * 4, '\0');
  const int bytes = WideCharToMultiByte(CP_ACP, 0, name, static_cast<int>(length), &narrow[0],
                                        static_cast<int>(narrow.size()), nullptr, nullptr);
  if (bytes <= 0) return false;
  narrow.resize(static_cast<std::size_t>(bytes));
  std::wstring back;
  return Widen(narrow, back) && back.size() == length && std::memcmp(back.data(), name, length * sizeof(WCHAR)) == 0;
}

}  // namespace

NativeFiles::NativeFiles() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (!ntdll) return;
  const auto find = [ntdll](const char* name) {
    void* address = nullptr;
    const FARPROC procedure = GetProcAddress(ntdll, name);
    std::memcpy(&address, &procedure, sizeof address);
    return address;
  };
  createFile_ = find("NtCreateFile");
  setInformation_ = find("NtSetInformationFile");
  queryInformation_ = find("NtQueryInformationFile");
  queryDirectory_ = find("NtQueryDirectoryFile");
  queryVolume_ = find("NtQueryVolumeInformationFile");
  statusToError_ = find("RtlNtStatusToDosError");
  available_ = createFile_ && setInformation_ && queryInformation_ && queryDirectory_ && queryVolume_ && statusToError_;
}

bool NativeFiles::Fail(long status) const {
  SetLastError(As<StatusToErrorCall>(statusToError_)(status));
  return false;
}

UniqueFileHandle NativeFiles::Open(HANDLE folder, const std::string& name, ACCESS_MASK access, ULONG share,
                                   bool create, Kind kind) const {
  std::wstring wide;
  if (!available_ || !Widen(name, wide) || name.find_first_of("\\/:") != std::string::npos) {
    SetLastError(ERROR_INVALID_NAME);
    return UniqueFileHandle();
  }
  CountedName counted{static_cast<USHORT>(wide.size() * sizeof(WCHAR)), static_cast<USHORT>(wide.size() * sizeof(WCHAR)),
                      &wide[0]};
  ObjectName object{sizeof(ObjectName), folder, &counted, kCaseInsensitive, nullptr, nullptr};
  ULONG options = kSynchronous | kLinkItself;
  if (kind == Kind::Folder) options |= kFolderOnly;
  if (kind == Kind::File) options |= kFileOnly;
  HANDLE handle = INVALID_HANDLE_VALUE;
  IoResult io{};
  const auto call = As<CreateFileCall>(createFile_);
  LONG status = call(&handle, access | SYNCHRONIZE, &object, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                     create ? kCreate : kOpen, options, nullptr, 0);
  // Windows NT 4 knows no links, nor the option that opens one itself.
  if (status == kInvalidParameter) {
    status = call(&handle, access | SYNCHRONIZE, &object, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                  create ? kCreate : kOpen, options & ~kLinkItself, nullptr, 0);
  }
  if (status < 0) {
    Fail(status);
    return UniqueFileHandle();
  }
  return UniqueFileHandle(handle);
}

bool NativeFiles::Rename(HANDLE entry, HANDLE folder, const std::string& name, bool replace) const {
  std::wstring wide;
  if (!available_ || !Widen(name, wide)) return false;
  std::vector<unsigned char> buffer(sizeof(RenameRecord) + wide.size() * sizeof(WCHAR));
  RenameRecord* record = reinterpret_cast<RenameRecord*>(buffer.data());
  record->replace = replace ? TRUE : FALSE;
  record->root = folder;
  record->nameBytes = static_cast<ULONG>(wide.size() * sizeof(WCHAR));
  std::memcpy(record->name, wide.data(), record->nameBytes);
  IoResult io{};
  const LONG status = As<InformationCall>(setInformation_)(entry, &io, record, static_cast<ULONG>(buffer.size()),
                                                           kRenameInformation);
  return status >= 0 || Fail(status);
}

bool NativeFiles::MarkForDeletion(HANDLE entry) const {
  BOOLEAN remove = TRUE;
  IoResult io{};
  const LONG status = As<InformationCall>(setInformation_)(entry, &io, &remove, sizeof remove, kDispositionInformation);
  return status >= 0 || Fail(status);
}

bool NativeFiles::SetAttributes(HANDLE entry, DWORD attributes) const {
  BasicRecord record{};
  // Zero leaves every time as it is, and would leave the attributes too.
  record.attributes = attributes & kSettableAttributes;
  if (record.attributes == 0) record.attributes = FILE_ATTRIBUTE_NORMAL;
  IoResult io{};
  const LONG status = As<InformationCall>(setInformation_)(entry, &io, &record, sizeof record, kBasicInformation);
  return status >= 0 || Fail(status);
}

DWORD NativeFiles::AttributesOf(HANDLE entry) const {
  BasicRecord record{};
  IoResult io{};
  const LONG status = As<InformationCall>(queryInformation_)(entry, &io, &record, sizeof record, kBasicInformation);
  return status >= 0 ? record.attributes : INVALID_FILE_ATTRIBUTES;
}

NativeFiles::ListEnd NativeFiles::List(HANDLE folder, const std::function<bool(const Listed&)>& visit) const {
  if (!available_) return ListEnd::Failed;
  std::vector<unsigned char> buffer(64 * 1024);
  const auto call = As<DirectoryCall>(queryDirectory_);
  for (bool first = true;; first = false) {
    IoResult io{};
    const LONG status = call(folder, nullptr, nullptr, nullptr, &io, buffer.data(), static_cast<ULONG>(buffer.size()),
                             kDirectoryInformation, FALSE, nullptr, first ? TRUE : FALSE);
    if (status == kNoMoreFiles) return ListEnd::Complete;
    if (status < 0) return Fail(status), ListEnd::Failed;
    for (std::size_t offset = 0;;) {
      if (offset + sizeof(DirectoryRecord) > buffer.size()) return ListEnd::Failed;
      const DirectoryRecord* record = reinterpret_cast<const DirectoryRecord*>(buffer.data() + offset);
      const std::size_t length = record->nameBytes / sizeof(WCHAR);
      const bool dots = (length == 1 && record->name[0] == L'.') ||
                        (length == 2 && record->name[0] == L'.' && record->name[1] == L'.');
      if (!dots) {
        Listed listed;
        listed.attributes = record->attributes;
        listed.size = static_cast<unsigned long long>(record->size.QuadPart);
        listed.representable = Narrow(record->name, length, listed.name);
        if (!visit(listed)) return ListEnd::Stopped;
      }
      if (record->next == 0) break;
      offset += record->next;
    }
  }
}

bool NativeFiles::IdentityOf(HANDLE entry, FileIdentity& identity) const {
  if (!available_) return false;
  const auto query = As<InformationCall>(queryInformation_);
  LARGE_INTEGER number{};
  StandardRecord standard{};
  VolumeSizeRecord volume{};
  IoResult io{};
  if (query(entry, &io, &number, sizeof number, kInternalInformation) < 0 ||
      query(entry, &io, &standard, sizeof standard, kStandardInformation) < 0 ||
      As<InformationCall>(queryVolume_)(entry, &io, &volume, sizeof volume, kVolumeSizeInformation) < 0) {
    return false;
  }
  identity.volume = static_cast<unsigned long long>(volume.units.QuadPart) * volume.sectorsPerUnit *
                    volume.bytesPerSector;
  identity.number = static_cast<unsigned long long>(number.QuadPart);
  identity.links = standard.links;
  identity.attributes = AttributesOf(entry);
  return identity.attributes != INVALID_FILE_ATTRIBUTES;
}

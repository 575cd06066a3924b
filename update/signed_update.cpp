#include "update/signed_update.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "fs/ascii.h"
#include "fs/handles.h"
#include "fs/thread.h"
#include "hash/sha256.h"
#include "rungame_format.h"

#ifndef LAUNCHER_UPDATE_PUBLIC_KEY
#define LAUNCHER_UPDATE_PUBLIC_KEY ""
#endif

namespace {

constexpr char kUpdatePublicKey[] = LAUNCHER_UPDATE_PUBLIC_KEY;
constexpr DWORD kBlock = 64 * 1024;

// Owns an opened signed manifest.
class SignedManifest {
 public:
  SignedManifest() = default;
  ~SignedManifest() { rungame_free_manifest(&manifest_); }
  SignedManifest(const SignedManifest&) = delete;
  SignedManifest& operator=(const SignedManifest&) = delete;

  [[nodiscard]] bool Open(const std::string& text, const unsigned char key[32]) {
    rungame_free_manifest(&manifest_);
    return rungame_open_signed_manifest(text.data(), text.size(), key, &manifest_) != 0;
  }
  RunGameManifest* Get() { return &manifest_; }

 private:
  RunGameManifest manifest_{};
};

UniqueFileHandle OpenForReading(const std::string& path) {
  return UniqueFileHandle(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

// A handle to read from its start: the one held, or one opened now.
class ReadingFrom {
 public:
  ReadingFrom(const std::string& path, void* held) : opened_(held ? UniqueFileHandle() : OpenForReading(path)) {
    handle_ = held ? static_cast<HANDLE>(held) : opened_.Get();
    if (held && SetFilePointer(handle_, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) handle_ = INVALID_HANDLE_VALUE;
  }
  HANDLE Get() const { return handle_; }
  explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

 private:
  UniqueFileHandle opened_;
  HANDLE handle_;
};

// The marker's content: a plain file of at most RUNGAME_SIGNED_MAX_MARKER bytes.
std::optional<std::string> ReadMarker(const std::string& path, void* held) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    return std::nullopt;
  }
  const ReadingFrom file(path, held);
  if (!file) return std::nullopt;
  DWORD high = 0;
  const DWORD low = GetFileSize(file.Get(), &high);
  if ((low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0 || low > RUNGAME_SIGNED_MAX_MARKER) {
    return std::nullopt;
  }
  // One byte more than the size tells a file that grew meanwhile.
  std::string text(static_cast<std::size_t>(low) + 1, '\0');
  std::size_t total = 0;
  while (total < text.size()) {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(text.size() - total, kBlock));
    DWORD got = 0;
    if (!ReadFile(file.Get(), &text[total], want, &got, nullptr)) return std::nullopt;
    if (got == 0) break;
    total += got;
  }
  if (total > low) return std::nullopt;
  text.resize(total);
  return text;
}

// The file's SHA-256 when it has exactly `size` bytes; reading stops as
// soon as it runs longer.
bool DigestFile(const std::string& path, void* held, unsigned long long size, unsigned char digest[32]) {
  const ReadingFrom file(path, held);
  if (!file) return false;
  FastSha256 state;
  FastSha256Init(&state, 1);
  const std::unique_ptr<unsigned char[]> block(new unsigned char[kBlock]);
  unsigned long long total = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.Get(), block.get(), kBlock, &got, nullptr)) return false;
    if (got == 0) break;
    total += got;
    if (total > size) return false;
    FastSha256Update(&state, block.get(), got);
  }
  FastSha256Final(&state, digest);
  return total == size;
}

// A staged file to hash, and where its digest goes.
struct DigestJob {
  const StagedEntryFact* fact;
  unsigned long long size;
  std::size_t index;
};
struct Digest {
  bool readable = false;
  unsigned char sha256[32] = {};
};

// Hashes every file of `jobs` into `digests`, on two threads where a second
// can be started: the update is hashed whole before anything of it is
// unpacked, and a second core halves that wait. Each file has a handle of
// its own.
void DigestAll(const std::vector<DigestJob>& jobs, std::vector<Digest>& digests) {
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i = next++; i < jobs.size(); i = next++) {
      const DigestJob& job = jobs[i];
      Digest& digest = digests[job.index];
      digest.readable = DigestFile(job.fact->path, job.fact->file, job.size, digest.sha256);
    }
  };
  // Without a thread to spare, this one hashes them all.
  Thread helper;
  if (jobs.size() > 1) helper = Thread::Start(work);
  work();
  helper.Join();
}

// The marker's name: what follows the last separator.
std::string NameOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

// Whether the loader could take `name`, found beside game.dll, for a module.
bool IsModuleName(const std::string& name) {
  return name.size() > 4 && EqualsIgnoringAsciiCase(name.substr(name.size() - 4), ".dll");
}

// Opens a listed module so that nobody may write, rename or delete it while
// it is held; the handle when it is a plain file of the listed size and
// SHA-256.
UniqueFileHandle HoldModule(const std::string& path, const RunGameManifestEntry& listed) {
  UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file || !GetFileInformationByHandle(file.Get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    return UniqueFileHandle();
  }
  unsigned char digest[32];
  if (!DigestFile(path, file.Get(), listed.size, digest) || std::memcmp(digest, listed.sha256, sizeof digest) != 0) {
    return UniqueFileHandle();
  }
  return file;
}

// Something there, and no plain file: a folder or a link.
bool IsNoPlainFile(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0;
}

// Every name in `folder` the loader could take for a module, game.dll first
// (listed even when it is missing); false when the folder cannot be read
// to its end.
bool ListModules(const std::string& folder, std::vector<std::string>& names) {
  names.assign(1, "game.dll");
  WIN32_FIND_DATAA found;
  UniqueFindHandle search(FindFirstFileA((folder + "\\*").c_str(), &found));
  if (!search) return false;
  do {
    const std::string name = found.cFileName;
    if (IsModuleName(name) && !EqualsIgnoringAsciiCase(name, "game.dll")) names.push_back(name);
  } while (FindNextFileA(search.Get(), &found));
  return GetLastError() == ERROR_NO_MORE_FILES;
}

}  // namespace

std::vector<std::string> ModulesOutOfPlace(const std::string& folder) {
  std::vector<std::string> names, out;
  (void)ListModules(folder, names);  // what was listed is enough to act on
  for (const std::string& name : names) {
    if (IsNoPlainFile(GetFileAttributesA((folder + "\\" + name).c_str()))) out.push_back(name);
  }
  return out;
}

ModuleCheck CheckGameModules(const std::string& folder, const std::optional<std::pair<long, long>>& version) {
  ModuleCheck check;
  if (!UpdateSignatureRequired()) {
    check.trusted = true;
    return check;
  }
  check.damaged = RUNGAME_RECORD_PATH;
  unsigned char key[32];
  const std::string recordPath = folder + "\\" + RUNGAME_RECORD_PATH;
  const std::optional<std::string> text =
      rungame_parse_public_key(kUpdatePublicKey, key) ? ReadMarker(recordPath, nullptr) : std::nullopt;
  SignedManifest record;
  if (!version || !text || !record.Open(*text, key) ||
      !rungame_manifest_repairs(record.Get(), 1, version->first, version->second)) {
    return check;
  }
  std::vector<std::string> names;
  if (!ListModules(folder, names)) return check;
  std::string firstDamaged;
  for (const std::string& name : names) {
    const RunGameManifestEntry* entry = rungame_find_entry(record.Get(), name.c_str());
    const DWORD attributes = GetFileAttributesA((folder + "\\" + name).c_str());
    // Not the studio's module, nor where one belongs: no copy can put it
    // right, so it must make way.
    if (attributes != INVALID_FILE_ATTRIBUTES && (entry == nullptr || entry->isFolder || IsNoPlainFile(attributes))) {
      check.strangers.push_back(name);
    }
    UniqueFileHandle held = entry != nullptr && !entry->isFolder ? HoldModule(folder + "\\" + name, *entry)
                                                                 : UniqueFileHandle();
    if (held) {
      check.held.push_back(std::move(held));
    } else if (firstDamaged.empty()) {
      firstDamaged = name;
    }
  }
  check.damaged = firstDamaged;
  check.trusted = firstDamaged.empty();
  if (!check.trusted) check.held.clear();
  return check;
}

bool UpdateSignatureRequired() { return kUpdatePublicKey[0] != '\0'; }

std::string UpdatePublicKey() { return kUpdatePublicKey; }

UpdateTrust CheckUpdateTrust(const std::string& markerPath, const std::vector<StagedEntryFact>& staged,
                             const std::optional<std::pair<long, long>>& dataVersion, void* markerFile) {
  return CheckUpdateTrustWithKey(kUpdatePublicKey, markerPath, staged, dataVersion, markerFile);
}

UpdateTrust CheckUpdateTrustWithKey(const std::string& publicKeyHex, const std::string& markerPath,
                                    const std::vector<StagedEntryFact>& staged,
                                    const std::optional<std::pair<long, long>>& dataVersion, void* markerFile,
                                    std::vector<SignedRemoval>* removals) {
  if (publicKeyHex.empty()) return UpdateTrust::NotRequired;
  unsigned char key[32];
  if (!rungame_parse_public_key(publicKeyHex.c_str(), key)) return UpdateTrust::Refused;
  const std::optional<std::string> text = ReadMarker(markerPath, markerFile);
  SignedManifest manifest;
  if (!text || !manifest.Open(*text, key)) return UpdateTrust::Refused;
  const long x = dataVersion ? dataVersion->first : 0, y = dataVersion ? dataVersion->second : 0;
  // A repair brings back files of the data folder's own version under any
  // marker name: its marker is that version's record.
  const bool repair = rungame_manifest_repairs(manifest.Get(), dataVersion.has_value(), x, y);
  if (!repair && (!EqualsIgnoringAsciiCase(manifest.Get()->marker, NameOf(markerPath)) ||
                  !rungame_manifest_applies_to(manifest.Get(), dataVersion.has_value(), x, y))) {
    return UpdateTrust::Refused;
  }
  // Every listed entry is looked at for a link before anything is read:
  // a link would be installed as a link, its target free to change later.
  std::vector<const RunGameManifestEntry*> listedOf(staged.size(), nullptr);
  std::vector<DigestJob> jobs;
  std::vector<bool> isRecord(staged.size(), false);
  for (std::size_t i = 0; i < staged.size(); ++i) {
    const StagedEntryFact& fact = staged[i];
    if (repair && !fact.isFolder && EqualsIgnoringAsciiCase(fact.relative, RUNGAME_RECORD_PATH)) {
      // The record lists all but itself: staged again, it is the marker's bytes.
      if (ReadMarker(fact.path, fact.file) != text) return UpdateTrust::Refused;
      isRecord[i] = true;
      continue;
    }
    listedOf[i] = rungame_find_entry(manifest.Get(), fact.relative.c_str());
    if (listedOf[i] == nullptr) continue;
    const DWORD attributes = GetFileAttributesA(fact.path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      return UpdateTrust::Refused;
    }
    if (!listedOf[i]->isFolder && !fact.isFolder) jobs.push_back({&fact, listedOf[i]->size, i});
  }
  std::vector<Digest> digests(staged.size());
  DigestAll(jobs, digests);
  rungame_begin_check(manifest.Get());
  for (std::size_t i = 0; i < staged.size(); ++i) {
    if (isRecord[i]) continue;
    RunGameStagedEntry entry{};
    entry.path = staged[i].relative.c_str();
    entry.isFolder = staged[i].isFolder;
    const RunGameManifestEntry* listed = listedOf[i];
    if (listed != nullptr && !listed->isFolder && !staged[i].isFolder) {
      // Read up to the listed size: one longer or shorter reads as unreadable,
      // refused alike.
      entry.size = listed->size;
      entry.readable = digests[i].readable;
      std::memcpy(entry.sha256, digests[i].sha256, sizeof entry.sha256);
    }
    if (rungame_check_entry(manifest.Get(), &entry, nullptr, &listed) != 0) return UpdateTrust::Refused;
  }
  // A repair brings what it must; an update, all it lists.
  const bool whole = repair || rungame_next_missing(manifest.Get(), nullptr) == nullptr;
  if (!whole) return UpdateTrust::Refused;
  for (std::size_t i = 0; removals != nullptr && i < manifest.Get()->removalCount; ++i) {
    const RunGameManifestEntry& listed = manifest.Get()->removals[i];
    SignedRemoval removal;
    removal.relative = listed.path;
    removal.isFolder = listed.isFolder != 0;
    removal.size = listed.size;
    std::memcpy(removal.sha256, listed.sha256, sizeof removal.sha256);
    removals->push_back(std::move(removal));
  }
  return UpdateTrust::Trusted;
}

bool FileHoldsBytes(void* file, unsigned long long size, const unsigned char sha256[32]) {
  unsigned char digest[32];
  return DigestFile(std::string(), file, size, digest) && std::memcmp(digest, sha256, sizeof digest) == 0;
}

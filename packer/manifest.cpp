#include "packer/manifest.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <new>

#include "packer/sha256.h"
#include "rules/rules.h"
#include "rungame_format.h"

namespace packer {

const char kManifestHeader[] = RUNGAME_MANIFEST_HEADER;

namespace {

std::vector<RunGameManifestLine> LinesOf(const std::vector<ManifestEntry>& entries) {
  std::vector<RunGameManifestLine> lines;
  lines.reserve(entries.size());
  for (const ManifestEntry& entry : entries) {
    lines.push_back({entry.path.c_str(), entry.isFolder ? 1 : 0, entry.size, entry.sha256.c_str()});
  }
  return lines;
}

}  // namespace

std::string FormatManifest(const Manifest& manifest) {
  const std::vector<RunGameManifestLine> lines = LinesOf(manifest.entries);
  const std::vector<RunGameManifestLine> removed = LinesOf(manifest.removals);
  const std::unique_ptr<char, decltype(&std::free)> text(
      rungame_write_manifest_removing(manifest.from.c_str(), manifest.to.c_str(), manifest.marker.c_str(),
                                      lines.data(), lines.size(), removed.data(), removed.size()),
      &std::free);
  if (!text) throw std::bad_alloc();
  return text.get();
}

namespace {

// Owns a manifest the format's reader read.
class ReadManifest {
 public:
  ReadManifest() = default;
  ~ReadManifest() { rungame_free_manifest(&manifest_); }
  ReadManifest(const ReadManifest&) = delete;
  ReadManifest& operator=(const ReadManifest&) = delete;
  RunGameManifest* Get() { return &manifest_; }

 private:
  RunGameManifest manifest_{};
};

// Line `number` (from 1) of `text`, its line end aside.
std::string LineOf(const std::string& text, std::size_t number) {
  std::size_t start = 0;
  for (std::size_t i = 1; i < number && start != std::string::npos; ++i) {
    start = text.find('\n', start);
    if (start != std::string::npos) ++start;
  }
  if (start == std::string::npos) return std::string();
  std::string line = text.substr(start, text.find('\n', start) - start);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// The path a "folder", "file", "remove" or "remove-folder" line lists.
std::string PathOf(const std::string& line, bool& isFolder) {
  isFolder = line.compare(0, 7, "folder ") == 0 || line.compare(0, 14, "remove-folder ") == 0;
  if (isFolder) return line.substr(line.find(' ') + 1);
  std::size_t at = line.find(' ');
  for (int field = 0; field < 2 && at != std::string::npos; ++field) at = line.find(' ', at + 1);
  return at == std::string::npos ? std::string() : line.substr(at + 1);
}

// Why the reader refused, in the studio's words.
std::string Why(int problem, const std::string& line) {
  bool isFolder = false;
  const std::string path = PathOf(line, isFolder);
  switch (problem) {
    case RUNGAME_MANIFEST_NO_HEADER:
      return std::string("not an update manifest (expected \"") + kManifestHeader + "\")";
    case RUNGAME_MANIFEST_NUL: return "a NUL byte inside";
    case RUNGAME_MANIFEST_UNKNOWN_LINE: return "unknown entry \"" + line.substr(0, line.find(' ')) + "\"";
    case RUNGAME_MANIFEST_TWICE: return "a second \"" + line.substr(0, line.find(' ')) + "\" line";
    case RUNGAME_MANIFEST_BAD_VERSION: return "\"" + line + "\" is no version X.Y";
    case RUNGAME_MANIFEST_BAD_MARKER: return "the marker \"" + line.substr(7) + "\" is no plain file name";
    case RUNGAME_MANIFEST_BAD_SIZE: return "a file without a valid size";
    case RUNGAME_MANIFEST_BAD_DIGEST: return "a file without a valid SHA-256";
    case RUNGAME_MANIFEST_BAD_PATH: {
      const std::string problemText = rules::ReleaseNameProblem(path, isFolder);
      return path + ": " + (problemText.empty() ? "a path the launcher would not install" : problemText);
    }
    case RUNGAME_MANIFEST_LISTED_TWICE: return path + ": listed twice";
    case RUNGAME_MANIFEST_NO_FOLDER: return path + ": its folder is not listed before it";
    case RUNGAME_MANIFEST_NO_VERSION: return "no \"from\" or no \"to\" line";
    case RUNGAME_MANIFEST_NO_MARKER: return "no marker line";
    case RUNGAME_MANIFEST_REMOVED_ENTRY: return path + ": removed twice, or removed and listed";
    default: return "out of memory";
  }
}

std::string VersionText(long x, long y) { return std::to_string(x) + "." + std::to_string(y); }

}  // namespace

std::optional<Manifest> ParseManifest(const std::string& text, std::string& error) {
  ReadManifest read;
  std::size_t line = 0;
  const int problem = rungame_read_manifest(text.data(), text.size(), read.Get(), &line);
  if (problem != RUNGAME_MANIFEST_OK) {
    if (text.empty()) {
      error = "empty";
    } else {
      error = (line > 0 ? "line " + std::to_string(line) + ": " : std::string()) + Why(problem, LineOf(text, line));
    }
    return std::nullopt;
  }
  const RunGameManifest& m = *read.Get();
  std::vector<const RunGameManifestEntry*> inOrder;
  for (std::size_t i = 0; i < m.count; ++i) inOrder.push_back(&m.entries[i]);
  std::sort(inOrder.begin(), inOrder.end(),
            [](const RunGameManifestEntry* a, const RunGameManifestEntry* b) { return a->line < b->line; });
  Manifest manifest;
  manifest.from = VersionText(m.fromX, m.fromY);
  manifest.to = VersionText(m.toX, m.toY);
  manifest.marker = m.marker;
  const auto valueOf = [](const RunGameManifestEntry& entry) {
    std::array<std::uint8_t, 32> digest{};
    std::copy(entry.sha256, entry.sha256 + 32, digest.begin());
    return ManifestEntry{entry.isFolder != 0, entry.size, entry.isFolder ? std::string() : ToHex(digest), entry.path};
  };
  for (const RunGameManifestEntry* entry : inOrder) manifest.entries.push_back(valueOf(*entry));
  for (std::size_t i = 0; i < m.removalCount; ++i) manifest.removals.push_back(valueOf(m.removals[i]));
  return manifest;
}

std::string DefaultManifestPath(const std::string& updateFolder) {
  std::string folder = updateFolder;
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  return folder + ".manifest";
}

}  // namespace packer

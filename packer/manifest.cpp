#include "packer/manifest.h"

#include <sstream>

namespace packer {

const char kManifestHeader[] = "rungame-update-manifest 1";

std::string FormatManifest(const Manifest& manifest) {
  std::ostringstream text;
  text << kManifestHeader << "\n";
  text << "from " << manifest.from << "\n";
  text << "to " << manifest.to << "\n";
  text << "marker " << manifest.marker << "\n";
  for (const ManifestEntry& entry : manifest.entries) {
    if (entry.isFolder) {
      text << "folder " << entry.path << "\n";
    } else {
      text << "file " << entry.size << " " << entry.sha256 << " " << entry.path << "\n";
    }
  }
  return text.str();
}

namespace {

// Splits off the first space-separated word of `rest`.
std::string NextWord(std::string& rest) {
  const std::size_t space = rest.find(' ');
  std::string word = rest.substr(0, space);
  rest = space == std::string::npos ? std::string() : rest.substr(space + 1);
  return word;
}

bool IsHexDigest(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool ParseSize(const std::string& text, std::uint64_t& size) {
  if (text.empty() || text.size() > 19) return false;
  size = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    size = size * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return true;
}

// A path that stays inside the update folder: relative, '\'-separated, no
// empty, "." or ".." segment, no drive.
bool IsInsidePath(const std::string& path) {
  if (path.empty() || path.find_first_of(":/") != std::string::npos) return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = path.find('\\', start);
    const std::string segment = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (segment.empty() || segment == "." || segment == "..") return false;
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

}  // namespace

std::optional<Manifest> ParseManifest(const std::string& text, std::string& error) {
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  Manifest manifest;
  const auto fail = [&](const std::string& why) {
    error = "line " + std::to_string(number) + ": " + why;
    return std::nullopt;
  };
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (number == 1) {
      if (line != kManifestHeader) return fail(std::string("not an update manifest (expected \"") + kManifestHeader + "\")");
      continue;
    }
    if (line.empty()) continue;
    std::string rest = line;
    const std::string keyword = NextWord(rest);
    if (keyword == "from") {
      manifest.from = rest;
    } else if (keyword == "to") {
      manifest.to = rest;
    } else if (keyword == "marker") {
      manifest.marker = rest;
    } else if (keyword == "folder") {
      if (!IsInsidePath(rest)) return fail("a folder path that leaves the update folder: " + rest);
      manifest.entries.push_back({true, 0, std::string(), rest});
    } else if (keyword == "file") {
      ManifestEntry entry;
      if (!ParseSize(NextWord(rest), entry.size)) return fail("a file without a valid size");
      entry.sha256 = NextWord(rest);
      if (!IsHexDigest(entry.sha256)) return fail("a file without a valid SHA-256");
      if (!IsInsidePath(rest)) return fail("a file path that leaves the update folder: " + rest);
      entry.path = rest;
      manifest.entries.push_back(entry);
    } else {
      return fail("unknown entry \"" + keyword + "\"");
    }
  }
  if (number == 0) {
    error = "empty";
    return std::nullopt;
  }
  return manifest;
}

std::string DefaultManifestPath(const std::string& updateFolder) {
  std::string folder = updateFolder;
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  return folder + ".manifest";
}

}  // namespace packer

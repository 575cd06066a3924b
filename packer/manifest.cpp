#include "packer/manifest.h"

#include <set>
#include <sstream>

#include "packer/names.h"
#include "rules/rules.h"

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
  bool hasMarker = false;
  std::set<std::string> listed;  // folded paths
  std::set<std::string> folders;
  // A path the launcher installs as it is, listed once, below a listed folder.
  const auto checkPath = [&](const std::string& path, bool isFolder) -> std::string {
    const std::string problem = rules::ReleaseNameProblem(path, isFolder);
    if (!problem.empty()) return path + ": " + problem;
    if (!listed.insert(FoldCase(path)).second) return path + ": listed twice";
    const std::string parent = ParentPath(path);
    if (!parent.empty() && !folders.count(FoldCase(parent))) return path + ": its folder is not listed before it";
    if (isFolder) folders.insert(FoldCase(path));
    return std::string();
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
      if (hasMarker) return fail("a second marker line");
      if (!rules::IsPlainMarkerName(rest)) return fail("the marker \"" + rest + "\" is no plain file name");
      hasMarker = true;
      manifest.marker = rest;
    } else if (keyword == "folder") {
      const std::string problem = checkPath(rest, true);
      if (!problem.empty()) return fail(problem);
      manifest.entries.push_back({true, 0, std::string(), rest});
    } else if (keyword == "file") {
      ManifestEntry entry;
      if (!ParseSize(NextWord(rest), entry.size)) return fail("a file without a valid size");
      entry.sha256 = NextWord(rest);
      if (!IsHexDigest(entry.sha256)) return fail("a file without a valid SHA-256");
      const std::string problem = checkPath(rest, false);
      if (!problem.empty()) return fail(problem);
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
  if (!hasMarker) {
    error = "no marker line";
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

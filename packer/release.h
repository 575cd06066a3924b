#pragma once
// A release as the packer sees it: the install folder a studio ships, read
// with the launcher's own rules for game.xml and properties\version.xml.

#include <optional>
#include <string>
#include <vector>

#include "rules/config_files.h"

namespace packer {

struct ReleaseEntry {
  std::string path;  // relative, '\'-separated
  bool isFolder = false;
};

struct ReleaseTree {
  std::vector<ReleaseEntry> entries;  // sorted by path, parents before children
  // Entries the launcher cannot take over as they are: links (moved as links,
  // never followed), names holding '\' (a POSIX name Windows cannot hold),
  // folders that could not be read.
  std::vector<std::string> problems;
};

// Every file and folder under `root`, links not followed.
ReleaseTree ListRelease(const std::string& root);

using Version = rules::Version;
std::string ToString(const Version& version);
bool IsLater(const Version& candidate, const Version& than);

// properties\version.xml of the release, read as the launcher reads it.
std::optional<Version> ReadReleaseVersion(const std::string& root);
// A setting of the release's game.xml, "" when absent or unreadable.
std::string ReadReleaseSetting(const std::string& root, const std::string& key);

}  // namespace packer

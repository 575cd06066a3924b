#include "provisioning/version_file.h"

#include "rules/rungame_rules.h"

// The rules of the version file are the shared ones, which the packer and
// the game-side helper read it by too.
const char kVersionFile[] = RUNGAME_VERSION_FILE;

long ParseVersionNumber(const std::string& text) { return rules::ParseVersionNumber(text); }

std::optional<VersionPair> VersionFromElements(const std::vector<XmlElement>& elements) {
  const std::optional<rules::Version> version = rules::FindVersion(elements);
  if (!version) return std::nullopt;
  return VersionPair{version->x, version->y};
}

std::optional<VersionPair> ReadVersionFile(const std::string& path) {
  const auto elements = ReadTopLevelElements(path);
  if (!elements) return std::nullopt;
  return VersionFromElements(*elements);
}

bool IsNewerVersion(const VersionPair& install, const VersionPair& data) {
  return rules::IsLaterVersion({install.x, install.y}, {data.x, data.y});
}

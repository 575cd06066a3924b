#include "provisioning/version_file.h"

#include <climits>
#include <cstdlib>

#include "fs/ascii.h"

const char kVersionFile[] = "properties\\version.xml";

long ParseVersionNumber(const std::string& text) {
  // strtoll then a clamp: the same 32-bit saturation as strtol where long is
  // 32 bits, and on any other data model too.
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<long>(value);
}

std::optional<VersionPair> VersionFromElements(const std::vector<XmlElement>& elements) {
  for (const XmlElement& element : elements) {
    if (!EqualsIgnoringAsciiCase(element.name, "version")) continue;
    const std::optional<std::string> x = FindAttribute(element, "x");
    const std::optional<std::string> y = FindAttribute(element, "y");
    if (!x || !y) continue;
    return VersionPair{ParseVersionNumber(*x), ParseVersionNumber(*y)};
  }
  return std::nullopt;
}

std::optional<VersionPair> ReadVersionFile(const std::string& path) {
  const auto elements = ReadTopLevelElements(path);
  if (!elements) return std::nullopt;
  return VersionFromElements(*elements);
}

bool IsNewerVersion(const VersionPair& install, const VersionPair& data) {
  if (install.x != data.x) return install.x > data.x;
  return install.y > data.y;
}

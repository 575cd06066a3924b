#include "settings/settings.h"

#include "fs/ascii.h"
#include "fs/path.h"

std::string FindSetting(const std::vector<XmlElement>& elements, const std::string& key) {
  for (const XmlElement& element : elements) {
    if (!EqualsIgnoringAsciiCase(element.name, "settings")) continue;
    if (auto value = FindAttribute(element, key)) return *value;
  }
  return std::string();
}

std::string ReadSetting(const std::string& key) {
  const OptionalPath path = JoinPath(GetWorkingFolder(), "game.xml");
  if (!path) return std::string();
  const auto elements = ReadTopLevelElements(*path);
  if (!elements) return std::string();
  return FindSetting(*elements, key);
}

bool SettingIsTrue(const std::string& value) { return value != "false"; }

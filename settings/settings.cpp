#include "settings/settings.h"

#include "fs/path.h"

std::string ReadSetting(const std::string& key) {
  const OptionalPath path = JoinPath(GetWorkingFolder(), "game.xml");
  if (!path) return std::string();
  const auto elements = ReadTopLevelElements(*path);
  if (!elements) return std::string();
  return FindSetting(*elements, key);
}

bool SettingIsTrue(const std::string& value) { return value != "false"; }

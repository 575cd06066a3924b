#pragma once
// game.xml, the launcher's only configuration. Read afresh from the current
// working folder at every lookup; nothing is cached.

#include <string>
#include <vector>

#include "settings/xml_elements.h"

// The value of `key` from game.xml in the working folder, or "" when the file
// is missing or malformed or no top-level settings element carries the key.
std::string ReadSetting(const std::string& key);

// FindSetting, the same lookup over parsed elements, is in rules/config_files.h.

// Only the exact value "false" is false; anything else, "" included, is true.
bool SettingIsTrue(const std::string& value);

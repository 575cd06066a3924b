#pragma once
// game.xml, the launcher's only configuration. Read afresh from the current
// working folder at every lookup; nothing is cached.

#include <string>
#include <vector>

#include "settings/xml_elements.h"

// The value of `key` from game.xml in the working folder, or "" when the file
// is missing or malformed or no top-level settings element carries the key.
std::string ReadSetting(const std::string& key);

// The same lookup over already parsed top-level elements: the first element
// named "settings" (any ASCII case) that carries `key` exactly supplies it.
std::string FindSetting(const std::vector<XmlElement>& elements, const std::string& key);

// Only the exact value "false" is false; anything else, "" included, is true.
bool SettingIsTrue(const std::string& value);

#pragma once
// The version file, properties\version.xml, of the install and data folders.

#include <optional>
#include <string>
#include <vector>

#include "settings/xml_elements.h"

// The version file of a folder, relative to it.
extern const char kVersionFile[];

struct VersionPair {
  long x = 0;  // major
  long y = 0;  // minor
};

// The version of the version file at `path`: the first top-level "version"
// element (any ASCII case) carrying both "x" and "y".
[[nodiscard]] std::optional<VersionPair> ReadVersionFile(const std::string& path);

// The version the given top-level elements carry, by the rule above; pure.
[[nodiscard]] std::optional<VersionPair> VersionFromElements(const std::vector<XmlElement>& elements);

// An attribute value as strtol reads it in base 10, saturating at 32 bits.
[[nodiscard]] long ParseVersionNumber(const std::string& text);

// True when `install` is a later version than `data`: major first, then minor.
[[nodiscard]] bool IsNewerVersion(const VersionPair& install, const VersionPair& data);

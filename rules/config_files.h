#pragma once
// Reading the launcher's two XML files, game.xml and properties\version.xml:
// their top-level elements as plain values, the settings lookup and the
// version pair. The launcher, the packer and the tests all read them here.

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "rules/rungame_rules.h"

struct XmlElement {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;  // in document order
};

// Limits past which a file reads as malformed: each lookup parses the whole
// file, and TinyXML recurses once per nested element and checks every new
// attribute against all earlier ones of its element. The size is counted on
// the file's bytes, whatever they hold.
constexpr std::size_t kMaxXmlFileBytes = 64 * 1024;
constexpr std::size_t kMaxXmlDepth = RUNGAME_XML_MAX_DEPTH;
constexpr std::size_t kMaxXmlAttributes = RUNGAME_XML_MAX_ATTRIBUTES;  // per element

// The value of the attribute named exactly `key`, if the element carries it.
std::optional<std::string> FindAttribute(const XmlElement& element, const std::string& key);

// Whether XML text stays within the nesting and attribute limits above,
// counted the way TinyXML would see them (never fewer). A cheap scan, no
// parse. The size limit is the file's, checked where the file is read.
bool IsWithinXmlLimits(const std::string& text);

// The top-level elements (children of the document node) of a file's
// content, as TinyXML reads a file; nullopt when the content exceeds the
// limits above or does not parse.
[[nodiscard]] std::optional<std::vector<XmlElement>> ParseTopLevelElements(std::string fileContent);

// The same, read afresh from the file at `path` (standard C I/O, the path in
// the system's narrow encoding); nullopt when it cannot be read.
[[nodiscard]] std::optional<std::vector<XmlElement>> ReadTopLevelElements(const std::string& path);

// The lookup of game.xml: the first top-level element named "settings" (any
// ASCII case) that carries `key` exactly supplies it; "" otherwise.
std::string FindSetting(const std::vector<XmlElement>& elements, const std::string& key);

namespace rules {

constexpr const char* kVersionFile = RUNGAME_VERSION_FILE;
constexpr const char* kSettingsFile = "game.xml";

struct Version {
  long x = 0;  // major
  long y = 0;  // minor
};

// strtol in base 10, saturated to the signed 32-bit range.
long ParseVersionNumber(const std::string& text);
// The first top-level "version" element (any ASCII case) carrying both "x"
// and "y"; nullopt when none does.
std::optional<Version> FindVersion(const std::vector<XmlElement>& elements);
bool IsLaterVersion(const Version& candidate, const Version& than);

}  // namespace rules

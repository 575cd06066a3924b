#pragma once
// The launcher's XML files (game.xml, properties\version.xml) are read only
// through this: their top-level elements as plain values.

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct XmlElement {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;  // in document order
};

// Limits past which a file reads as malformed: each lookup parses the whole
// file, and TinyXML recurses once per nested element and checks every new
// attribute against all earlier ones of its element.
constexpr std::size_t kMaxXmlFileBytes = 64 * 1024;
constexpr std::size_t kMaxXmlDepth = 64;
constexpr std::size_t kMaxXmlAttributes = 256;  // per element

// The value of the attribute named exactly `key`, if the element carries it.
std::optional<std::string> FindAttribute(const XmlElement& element, const std::string& key);

// Whether XML text stays within the limits above: its size, its element
// nesting and the attributes of any one element, counted the way TinyXML
// would see them (never fewer). A cheap scan, no parse.
bool IsWithinXmlLimits(const std::string& text);

// The top-level elements (children of the document node) of the file at
// `path`, read afresh, in document order, as TinyXML reads a file; nullopt
// when it cannot be read, exceeds the limits above, or does not parse.
[[nodiscard]] std::optional<std::vector<XmlElement>> ReadTopLevelElements(const std::string& path);

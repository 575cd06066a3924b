#pragma once
// The launcher's XML files (game.xml, properties\version.xml) are read only
// through this: their top-level elements as plain values.

#include <optional>
#include <string>
#include <utility>
#include <vector>

struct XmlElement {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;  // in document order
};

// The value of the attribute named exactly `key`, if the element carries it.
std::optional<std::string> FindAttribute(const XmlElement& element, const std::string& key);

// ASCII-only case-insensitive comparison, independent of the user's locale.
bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b);

// The top-level elements (children of the document node) of the XML file at
// `path`, in document order; nullopt when it cannot be read or parsed.
std::optional<std::vector<XmlElement>> ReadTopLevelElements(const std::string& path);

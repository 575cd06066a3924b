#include "settings/xml_elements.h"

#include <tinyxml.h>

std::optional<std::string> FindAttribute(const XmlElement& element, const std::string& key) {
  for (const auto& attribute : element.attributes) {
    if (attribute.first == key) return attribute.second;
  }
  return std::nullopt;
}

bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::optional<std::vector<XmlElement>> ReadTopLevelElements(const std::string& path) {
  TiXmlDocument document(path.c_str());
  if (!document.LoadFile(TIXML_DEFAULT_ENCODING)) return std::nullopt;
  std::vector<XmlElement> elements;
  for (const TiXmlElement* node = document.FirstChildElement(); node; node = node->NextSiblingElement()) {
    XmlElement element;
    element.name = node->Value();
    for (const TiXmlAttribute* attribute = node->FirstAttribute(); attribute; attribute = attribute->Next()) {
      element.attributes.emplace_back(attribute->Name(), attribute->Value());
    }
    elements.push_back(std::move(element));
  }
  return elements;
}

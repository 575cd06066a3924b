#include "rules/config_files.h"

#include <climits>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <tinyxml.h>

#include "rules/rules.h"
#include "rungame_format.h"

using rules::EqualsIgnoringAsciiCase;

std::optional<std::string> FindAttribute(const XmlElement& element, const std::string& key) {
  for (const auto& attribute : element.attributes) {
    if (attribute.first == key) return attribute.second;
  }
  return std::nullopt;
}

bool IsWithinXmlLimits(const std::string& text) {
  // The one scan the game-side helper's reader makes too (rungame_rules.h).
  return rungame_xml_within_limits(text.data(), text.size()) != 0;
}

std::optional<std::vector<XmlElement>> ParseTopLevelElements(std::string text) {
  if (text.size() > kMaxXmlFileBytes) return std::nullopt;
  // As TinyXML's own file loading does: the text ends at its first NUL, and
  // every CR LF and lone CR becomes LF.
  text.resize(std::strlen(text.c_str()));
  if (text.empty()) return std::nullopt;
  std::string normalised;
  normalised.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      normalised += text[i];
      continue;
    }
    normalised += '\n';
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  if (!IsWithinXmlLimits(normalised)) return std::nullopt;

  TiXmlDocument document;
  document.Parse(normalised.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
  if (document.Error()) return std::nullopt;
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

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

std::optional<std::vector<XmlElement>> ReadTopLevelElements(const std::string& path) {
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return std::nullopt;
  // One byte beyond the limit tells an oversized file apart, whatever size
  // the file claims while it is being rewritten.
  std::string content(kMaxXmlFileBytes + 1, '\0');
  std::size_t got = 0;
  while (got < content.size()) {
    const std::size_t count = std::fread(&content[got], 1, content.size() - got, file.get());
    if (count == 0) break;
    got += count;
  }
  if (std::ferror(file.get()) || got > kMaxXmlFileBytes) return std::nullopt;
  content.resize(got);
  return ParseTopLevelElements(std::move(content));
}

std::string FindSetting(const std::vector<XmlElement>& elements, const std::string& key) {
  for (const XmlElement& element : elements) {
    if (!EqualsIgnoringAsciiCase(element.name, "settings")) continue;
    if (auto value = FindAttribute(element, key)) return *value;
  }
  return std::string();
}

namespace rules {

long ParseVersionNumber(const std::string& text) {
  // strtoll then a clamp: the same 32-bit saturation as strtol where long is
  // 32 bits, and on any other data model too.
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<long>(value);
}

std::optional<Version> FindVersion(const std::vector<XmlElement>& elements) {
  for (const XmlElement& element : elements) {
    if (!EqualsIgnoringAsciiCase(element.name, "version")) continue;
    const std::optional<std::string> x = FindAttribute(element, "x");
    const std::optional<std::string> y = FindAttribute(element, "y");
    if (x && y) return Version{ParseVersionNumber(*x), ParseVersionNumber(*y)};
  }
  return std::nullopt;
}

bool IsLaterVersion(const Version& candidate, const Version& than) {
  return rungame_version_is_later(candidate.x, candidate.y, than.x, than.y) != 0;
}

}  // namespace rules

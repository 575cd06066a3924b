#include "rules/config_files.h"

#include <climits>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <tinyxml.h>

#include "rules/rules.h"

using rules::EqualsIgnoringAsciiCase;

std::optional<std::string> FindAttribute(const XmlElement& element, const std::string& key) {
  for (const auto& attribute : element.attributes) {
    if (attribute.first == key) return attribute.second;
  }
  return std::nullopt;
}

namespace {

bool StartsWith(const std::string& text, size_t at, const char* prefix, bool ignoreCase = false) {
  for (size_t i = 0; prefix[i]; ++i) {
    if (at + i >= text.size()) return false;
    const char c = ignoreCase ? rungame_ascii_lower(text[at + i]) : text[at + i];
    if (c != prefix[i]) return false;
  }
  return true;
}

// Where `from` reaches the first `terminator` outside quotes, or npos.
size_t SkipQuotedTo(const std::string& text, size_t from, char terminator) {
  for (size_t i = from; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"' || c == '\'') {
      i = text.find(c, i + 1);
      if (i == std::string::npos) return i;
    } else if (c == terminator) {
      return i;
    }
  }
  return std::string::npos;
}

}  // namespace

bool IsWithinXmlLimits(const std::string& text) {
  // Mirrors how TinyXML tells markup apart, so that its recursion (one level
  // per nested element) never goes deeper than counted here: a '<' it would
  // skip inside a comment, CDATA section, quoted value or declaration is
  // skipped here too. Where the two could disagree TinyXML stops with an
  // error, so any miscount only ever overestimates.
  size_t depth = 0;
  size_t at = text.find('<');
  while (at != std::string::npos) {
    size_t end;
    if (StartsWith(text, at, "<!--")) {
      end = text.find("-->", at + 4);
      if (end != std::string::npos) end += 2;
    } else if (StartsWith(text, at, "<![CDATA[")) {
      end = text.find("]]>", at + 9);
      if (end != std::string::npos) end += 2;
    } else if (StartsWith(text, at, "<?xml", true)) {
      // TinyXML reads quoted values in a declaration only for some names, so
      // it ends at the first '>' or at the first one outside quotes; no '<'
      // may stand before the later of the two.
      end = SkipQuotedTo(text, at + 5, '>');
      if (text.find('<', at + 1) <= (end == std::string::npos ? text.size() : end)) return false;
    } else if (StartsWith(text, at, "</") && depth > 0) {
      --depth;
      end = text.find('>', at + 2);
    } else if (at + 1 < text.size() &&
               (std::isalpha(static_cast<unsigned char>(text[at + 1])) || text[at + 1] == '_' ||
                static_cast<unsigned char>(text[at + 1]) >= 127)) {
      if (++depth > kMaxXmlDepth) return false;
      size_t attributes = 0;
      end = std::string::npos;
      for (size_t i = at + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"' || c == '\'') {
          i = text.find(c, i + 1);
          if (i == std::string::npos) break;
        } else if (c == '=') {
          if (++attributes > kMaxXmlAttributes) return false;
        } else if (c == '>') {
          end = i;
          break;
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '>') {
          --depth;
          end = i + 1;
          break;
        }
      }
    } else {
      // "<!DOCTYPE ...>", "<?name ...>", a stray "</": TinyXML reads up to
      // the next '>' as an unknown node.
      end = text.find('>', at + 1);
    }
    if (end == std::string::npos) return true;  // the rest cannot open an element
    at = text.find('<', end + 1);
  }
  return true;
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
  if (candidate.x != than.x) return candidate.x > than.x;
  return candidate.y > than.y;
}

}  // namespace rules

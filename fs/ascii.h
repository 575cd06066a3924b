#pragma once
// ASCII letter case folding, the same under every user locale (lstrcmpiA
// folds by the user's locale). Portable: the packer's native build uses it.

#include <cstddef>
#include <string>

inline char FoldAsciiCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether `a` and `b` are equal but for the case of ASCII letters.
inline bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAsciiCase(a[i]) != FoldAsciiCase(b[i])) return false;
  }
  return true;
}

// Whether the path `path` lies below the folder `folder`, ASCII case aside.
// A sibling that only shares the name's start ("levels.old" beside
// "levels") is not below it.
inline bool IsBelowIgnoringAsciiCase(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path[folder.size()] == '\\' &&
         EqualsIgnoringAsciiCase(path.substr(0, folder.size()), folder);
}

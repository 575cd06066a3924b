#pragma once
// Removing what the launcher made, without reaching through links.

#include <string>

// Removes the file at `path` by name: its read-only bit is cleared first only
// when it is a plain file, so no attribute of a file elsewhere changes.
[[nodiscard]] bool RemoveFileSafely(const std::string& path);

// Removes the tree at `path` for good, never entering a link: a link is
// removed itself. False when something remained.
[[nodiscard]] bool RemoveTreeSafely(const std::string& path);

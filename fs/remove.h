#pragma once
// Removing what the launcher made, without reaching through links.

#include <string>

class PinnedTree;

// Removes the file `name` by name: its read-only bit is cleared first only
// when it is a plain file, so no attribute of a file elsewhere changes.
[[nodiscard]] bool RemoveFileSafely(PinnedTree& tree, const std::string& name);

// Removes the tree `name` for good, never entering a link: a link is
// removed itself. False when something remained or could not be listed.
[[nodiscard]] bool RemoveTreeSafely(PinnedTree& tree, const std::string& name);

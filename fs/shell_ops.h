#pragma once
// Silent shell copy, move and delete: nothing is shown or asked, existing
// targets are replaced, errors are only returned (0 is success).

#include <string>

#include "fs/path_list.h"

enum class ShellOperation { Copy, Move };

// Copies or moves `sources` into the folder `destination`, creating it and its
// missing parents first. Refuses (returns 1) a relative or root destination.
[[nodiscard]] int ShellTransfer(ShellOperation operation, const PathList& sources, const std::string& destination);

// Sends the tree at `path` to the Recycle Bin. Refuses (returns 1) a relative
// path or a drive root.
[[nodiscard]] int ShellDelete(const std::string& path);

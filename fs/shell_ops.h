#pragma once
// Silent shell deletion to the Recycle Bin: nothing is shown or asked,
// errors are only returned (0 is success).

#include <string>

#include "fs/path_list.h"

// Sends the tree at `path` to the Recycle Bin. Refuses (returns 1) a relative
// path or a drive root.
[[nodiscard]] int ShellDelete(const std::string& path);

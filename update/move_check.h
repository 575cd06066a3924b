#pragma once
// Whether a staged update can be moved into place completely, checked before
// anything is moved, so that an update is applied whole or not at all.

#include <string>

#include "fs/path_list.h"

// True when every entry of `sources`, at any depth, can take its place under
// `destination`: every new path fits the platform limit, no file is put in
// the place of a folder or a link, no folder in the place of a file or a
// link, and no file to be moved or replaced is held open by another process
// in a way that forbids it.
[[nodiscard]] bool CanMoveAll(const PathList& sources, const std::string& destination);

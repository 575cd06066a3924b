#pragma once
// Moving staged entries into the data folder: the check made before anything
// moves, and the launcher's own move where the shell move fell short.

#include <string>

#include "fs/path_list.h"

// True when every entry of `sources`, at any depth, can take its place under
// `destination`: every new path fits the platform limit, no file is put in
// the place of a folder or a link, no folder in the place of a file or a
// link, and no file to be moved or replaced is held open by another process
// in a way that forbids it.
[[nodiscard]] bool CanMoveAll(const PathList& sources, const std::string& destination);

// Moves the file or folder `source` to `target`: a file replaces a file of
// that name (also a read-only one), a folder merges into a folder of that
// name. Never descends into a link on either side, never puts a file in the
// place of a folder or a folder in the place of a file. True when nothing of
// `source` is left.
[[nodiscard]] bool MoveEntry(const std::string& source, const std::string& target);

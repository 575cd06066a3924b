#pragma once
// The launcher's own move of a staged entry, where the shell move fell short.

#include <string>

// Moves the file or folder `source` to `target`: a file replaces a file of
// that name (also a read-only one), a folder merges into a folder of that
// name. Never descends into a link on either side, never puts a file in the
// place of a folder or a folder in the place of a file. True when nothing of
// `source` is left.
bool MoveEntry(const std::string& source, const std::string& target);

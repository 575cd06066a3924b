#pragma once
// Names the unpacking reserves in the staging folder.

#include <string>

// Suffix of the temporary file an unpacking writes beside its output. Files
// of the staging tree ending in it are leftovers of an interrupted unpacking:
// they are removed before an update is applied, never installed.
extern const char kUnpackTemporarySuffix[];

bool IsUnpackLeftover(const std::string& name);

// Removes every unpacking leftover under `folder`, never following links.
// False when one could not be removed.
bool RemoveUnpackLeftovers(const std::string& folder);

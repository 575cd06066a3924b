#pragma once
// Opening up the company folder after a first-start copy, so the copy is
// writable for every user.

#include <set>
#include <string>

#include "fs/while_busy.h"

// In one walk, contents before their folder and the tree's `folder` itself
// last: gives every file and folder an access list open to everyone, and
// clears the read-only attribute of every file, keeping its other bits. Links are
// neither followed nor changed, nor are files with a second name (a hard
// link shares its attributes and access list with a file elsewhere).
// `madeOpen`: the folded names of files the launcher made open and writable
// just before (a copy's), passed over. `whileBusy` is called between entries.
class PinnedTree;

// True when every entry was opened up.
[[nodiscard]] bool OpenUpAccess(PinnedTree& tree, const std::string& folder,
                                const std::set<std::string>& madeOpen = {}, const WhileBusy& whileBusy = {});

#pragma once
// Opening up the company folder after a first-start copy, so the copy is
// writable for every user.

#include <string>

// Gives every file and folder under `folder`, and `folder` itself last, an
// access list open to everyone. Links are neither followed nor changed, nor
// are files with more than one name (a hard link to a file elsewhere).
void OpenUpAccess(const std::string& folder);

// Clears the read-only attribute of every file under `folder`, keeping every
// other attribute bit. Links are neither followed nor changed.
void ClearReadOnly(const std::string& folder);

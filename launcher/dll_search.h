#pragma once
// Where the game's DLLs come from: beside game.dll and the system folder,
// never the working folder of some later moment nor a PATH entry, which
// whoever can write there would decide. Windows 8 (and 7 with its update)
// honours that whole; older Windows keeps PATH after the system folders.

#include <string>

#include "fs/handles.h"

// A folder added to the process's DLL search (AddDllDirectory), removed
// again when its owner ends.
struct DllDirectoryTraits {
  using Value = void*;
  static Value Invalid() { return nullptr; }
  static void Close(Value cookie);
};
using UniqueDllDirectory = UniqueHandle<DllDirectoryTraits>;

struct DllSearch {
  // LOAD_LIBRARY_SEARCH_* are honoured: the process's search is the system
  // folder and the folders added for the game alone.
  bool restricted = false;
};

// Sets the process's DLL search once at start, before any game module loads.
[[nodiscard]] DllSearch RestrictDllSearch();

// A game module loaded by full path, its imports found beside it and in the
// system folder, and its folder searched for the DLLs it loads later by name
// for as long as `directory` lives.
struct LoadedModule {
  UniqueModule module;
  UniqueDllDirectory directory;
};
[[nodiscard]] LoadedModule LoadGameModule(const DllSearch& search, const std::string& path, const std::string& folder);

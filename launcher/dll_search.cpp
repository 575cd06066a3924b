#include "launcher/dll_search.h"

#include <vector>

namespace {

// Windows 8's values, named here: the headers hide them below that version.
constexpr DWORD kSearchDllLoadDir = 0x00000100;    // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
constexpr DWORD kSearchUserDirs = 0x00000400;      // LOAD_LIBRARY_SEARCH_USER_DIRS
constexpr DWORD kSearchSystem32 = 0x00000800;      // LOAD_LIBRARY_SEARCH_SYSTEM32

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using AddDllDirectoryFn = void*(WINAPI*)(const wchar_t*);
using RemoveDllDirectoryFn = BOOL(WINAPI*)(void*);
using SetDllDirectoryFn = BOOL(WINAPI*)(const char*);

template <typename Fn>
Fn Kernel32Function(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

UniqueDllDirectory AddSearchFolder(const std::string& folder) {
  const auto add = Kernel32Function<AddDllDirectoryFn>("AddDllDirectory");
  const int length = MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, nullptr, 0);
  if (!add || length <= 0) return UniqueDllDirectory();
  std::vector<wchar_t> wide(static_cast<size_t>(length));
  if (!MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, wide.data(), length)) return UniqueDllDirectory();
  return UniqueDllDirectory(add(wide.data()));
}

}  // namespace

void DllDirectoryTraits::Close(void* cookie) {
  if (const auto remove = Kernel32Function<RemoveDllDirectoryFn>("RemoveDllDirectory")) remove(cookie);
}

DllSearch RestrictDllSearch() {
  DllSearch search;
  const auto setDefault = Kernel32Function<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
  search.restricted = setDefault && Kernel32Function<AddDllDirectoryFn>("AddDllDirectory") &&
                      Kernel32Function<RemoveDllDirectoryFn>("RemoveDllDirectory") &&
                      setDefault(kSearchSystem32 | kSearchUserDirs);
  return search;
}

LoadedModule LoadGameModule(const DllSearch& search, const std::string& path, const std::string& folder) {
  LoadedModule loaded;
  if (search.restricted) {
    loaded.directory = AddSearchFolder(folder);
    loaded.module = UniqueModule(LoadLibraryExA(path.c_str(), nullptr, kSearchDllLoadDir | kSearchSystem32));
    return loaded;
  }
  // Before Windows 8: the game's folder takes the working folder's place in
  // the search (XP SP1 and later), and its imports are looked for beside it
  // first.
  if (const auto setDirectory = Kernel32Function<SetDllDirectoryFn>("SetDllDirectoryA")) {
    (void)setDirectory(folder.c_str());  // without it, the working folder is the game's folder anyway
  }
  loaded.module = UniqueModule(LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  return loaded;
}

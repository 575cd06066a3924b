#include "fs/shell_ops.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "fs/change.h"
#include "fs/path.h"

namespace {

constexpr FILEOP_FLAGS kDeleteFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOERRORUI;

int RunShellOperation(UINT function, const std::vector<char>& from, const std::vector<char>* to, FILEOP_FLAGS flags) {
  SHFILEOPSTRUCTA operation = {};
  operation.hwnd = nullptr;
  operation.wFunc = function;
  operation.pFrom = from.data();
  operation.pTo = to ? to->data() : nullptr;
  operation.fFlags = flags;
  return RunShellFileOperation(&operation);
}

}  // namespace

int ShellDelete(const std::string& path) {
  if (IsRootOrRelative(path)) return 1;
  return RunShellOperation(FO_DELETE, ToMultiString(PathList{path}), nullptr, kDeleteFlags);
}

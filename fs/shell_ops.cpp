#include "fs/shell_ops.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "fs/path.h"

namespace {

constexpr FILEOP_FLAGS kTransferFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
constexpr FILEOP_FLAGS kDeleteFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOERRORUI;

int RunShellOperation(UINT function, const std::vector<char>& from, const std::vector<char>* to, FILEOP_FLAGS flags) {
  SHFILEOPSTRUCTA operation = {};
  operation.hwnd = nullptr;
  operation.wFunc = function;
  operation.pFrom = from.data();
  operation.pTo = to ? to->data() : nullptr;
  operation.fFlags = flags;
  return SHFileOperationA(&operation);
}

}  // namespace

int ShellTransfer(ShellOperation operation, const PathList& sources, const std::string& destination) {
  if (IsRootOrRelative(destination)) return 1;
  const std::vector<char> from = ToMultiString(sources);
  const std::vector<char> to = ToMultiString(PathList{destination});
  if (!PathFileExistsA(destination.c_str())) {
    SHCreateDirectoryExA(nullptr, destination.c_str(), nullptr);
  }
  const UINT function = operation == ShellOperation::Copy ? FO_COPY : FO_MOVE;
  return RunShellOperation(function, from, &to, kTransferFlags);
}

int ShellDelete(const std::string& path) {
  if (IsRootOrRelative(path)) return 1;
  return RunShellOperation(FO_DELETE, ToMultiString(PathList{path}), nullptr, kDeleteFlags);
}

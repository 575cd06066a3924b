#include "tests/support/wine_host.h"

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace wine_host {

namespace {

bool Present(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace

// Wine starts unix programs through CreateProcess too, but detached: it makes
// no Windows process, so there is nothing to wait on, and it hands back no
// handles, only whatever its own uninitialised locals held. Closing those
// could close any handle of this process (the test's output, a held
// folder), so nothing is closed: callers wait for the effect.
bool StartUnixCommand(const std::string& command) {
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION unfilled = {};
  return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &unfilled) !=
         FALSE;
}

int RunUnixShell(const std::string& command, const std::string& base, std::string* output) {
  const std::string status = base + ".status";
  const std::string log = base + ".log";
  DeleteFileA(status.c_str());
  DeleteFileA(log.c_str());
  const std::string unixStatus = UnixPathOf(status);
  const std::string unixLog = UnixPathOf(log);
  if (unixStatus.empty() || unixLog.empty()) return -1;
  // The status file appears whole, by a rename, once the command ended.
  const std::string line = "/bin/sh -c \"(" + command + ") >'" + unixLog + "' 2>&1; echo $? >'" + unixStatus +
                           ".part'; mv '" + unixStatus + ".part' '" + unixStatus + "'\"";
  if (!StartUnixCommand(line)) return -1;
  for (int waited = 0; waited < 30000 && !Present(status); waited += 5) Sleep(5);
  if (!Present(status)) return -1;
  if (output) *output = Contents(log);
  const int result = std::atoi(Contents(status).c_str());
  DeleteFileA(status.c_str());
  DeleteFileA(log.c_str());
  return result;
}

std::string UnixPathOf(const std::string& path) {
  using ToUnixFn = char*(CDECL*)(LPCWSTR);
  const auto toUnix = reinterpret_cast<ToUnixFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix) return std::string();
  wchar_t widePath[MAX_PATH];
  if (!MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH)) return std::string();
  char* unixPath = toUnix(widePath);
  if (!unixPath) return std::string();
  std::string result = unixPath;
  HeapFree(GetProcessHeap(), 0, unixPath);
  return result;
}

bool StartUnixLink(const std::string& link, const std::string& target) {
  // The parent's unix path: Wine maps a missing last component only sometimes.
  const size_t slash = link.find_last_of('\\');
  if (slash == std::string::npos) return false;
  const std::string unixParent = UnixPathOf(link.substr(0, slash));
  const std::string unixTarget = UnixPathOf(target);
  if (unixParent.empty() || unixTarget.empty()) return false;
  return StartUnixCommand("/bin/ln -s \"" + unixTarget + "\" \"" + unixParent + "/" + link.substr(slash + 1) + "\"");
}

bool StartUnixRemove(const std::string& path) {
  const std::string unixPath = UnixPathOf(path);
  if (unixPath.empty() || unixPath == "/") return false;
  return StartUnixCommand("/bin/rm -rf -- \"" + unixPath + "\"");
}

std::string RecycleBinFilesFolder() {
  char buffer[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA("WINEHOMEDIR", buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::string();
  std::string home = buffer;
  if (home.rfind("\\??\\", 0) == 0) home = home.substr(4);
  return home + "\\.local\\share\\Trash\\files";
}

bool SetAppWindowsVersion(const std::string& exeName, const std::string& version) {
  const std::string key = "Software\\Wine\\AppDefaults\\" + exeName;
  HKEY handle = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const LONG result = RegSetValueExA(handle, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                                     static_cast<DWORD>(version.size() + 1));
  RegCloseKey(handle);
  return result == ERROR_SUCCESS;
}

SmallDrive::SmallDrive(const std::string& folder, unsigned megabytes, const std::string& workFolder)
    : mountPoint_(UnixPathOf(folder)), workFolder_(workFolder) {
  if (mountPoint_.empty()) {
    reason_ = "not running under Wine";
    return;
  }
  // A mount left by a test that was killed would hide the real folder.
  Shell("mountpoint -q '" + mountPoint_ + "' && umount -l '" + mountPoint_ + "'");
  std::string output;
  const int status =
      Shell("mount -t tmpfs -o size=" + std::to_string(megabytes) + "m launcher-test '" + mountPoint_ + "'", &output);
  mounted_ = status == 0;
  if (!mounted_) reason_ = "cannot mount a tmpfs here (status " + std::to_string(status) + "): " + output;
}

SmallDrive::~SmallDrive() {
  if (!mounted_) return;
  if (Shell("umount '" + mountPoint_ + "'") != 0) Shell("umount -l '" + mountPoint_ + "'");
}

bool SmallDrive::Resize(unsigned megabytes) {
  return mounted_ && Shell("mount -o remount,size=" + std::to_string(megabytes) + "m '" + mountPoint_ + "'") == 0;
}

// Runs `command` with the unix shell and waits up to 30 s for it: its exit
// status, or -1 when it cannot run here or did not end in time. The command
// must not hold double quotes.
int SmallDrive::Shell(const std::string& command, std::string* output) {
  return RunUnixShell(command, workFolder_ + "\\shell" + std::to_string(++serial_), output);
}

}  // namespace wine_host

#pragma once
// Everything the tests know about running under Wine on a unix host. The
// rest of the suite is plain Windows code; on Windows these report that they
// cannot help (empty paths, false, a drive that is not mounted).

#include <string>

namespace wine_host {

// The unix path of a Windows path; empty when not under Wine.
std::string UnixPathOf(const std::string& path);

// Starts a unix program (a command line whose program is a unix path),
// detached: the caller waits for its effect.
bool StartUnixCommand(const std::string& command);

// Starts /bin/ln -s for a unix link at `link` to `target` (Wine shows it as
// a reparse point). Detached: the caller waits for the link to appear.
bool StartUnixLink(const std::string& link, const std::string& target);

// Starts /bin/rm -rf on `path`, which removes what Windows calls cannot (a
// dangling link) and never follows links. Detached: the caller waits for the
// path to go, and must not start it for a path already gone.
bool StartUnixRemove(const std::string& path);

// Runs `command` in /bin/sh and waits for it (at most 30 s); its exit
// status, -1 when it could not run. `base` is a Windows path prefix for the
// status and log files; `output` receives what it printed.
int RunUnixShell(const std::string& command, const std::string& base, std::string* output = nullptr);

// The files folder of the Recycle Bin of this process's HOME
// ($HOME/.local/share/Trash/files); empty when not under Wine.
std::string RecycleBinFilesFolder();

// Makes Wine report `version` ("nt40", "win98", "winxp") to programs named
// `exeName`.
bool SetAppWindowsVersion(const std::string& exeName, const std::string& version);

// A small tmpfs mounted over `folder` while the object lives, so that a test
// can fill that folder's drive. Mounting needs root: where the host does not
// allow it, Mounted() is false and Reason() says why. The unix shell's
// status files go to `workFolder`.
class SmallDrive {
 public:
  SmallDrive(const std::string& folder, unsigned megabytes, const std::string& workFolder);
  ~SmallDrive();
  SmallDrive(const SmallDrive&) = delete;
  SmallDrive& operator=(const SmallDrive&) = delete;
  bool Mounted() const { return mounted_; }
  const std::string& Reason() const { return reason_; }
  // Gives the drive a new size, keeping what it holds.
  bool Resize(unsigned megabytes);

 private:
  int Shell(const std::string& command, std::string* output = nullptr);

  std::string mountPoint_;
  std::string workFolder_;
  std::string reason_;
  int serial_ = 0;
  bool mounted_ = false;
};

}  // namespace wine_host

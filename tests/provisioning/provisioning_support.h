#pragma once
// Helpers for the first-start tests: installs of the test's own company,
// access lists and writable files as the tests check them.

#include <gtest/gtest.h>

#include <string>

#include "tests/support/launcher_test.h"

namespace provisioning_support {

// Removes a link itself, never what it points to.
void RemoveLink(const std::string& link);

// Whether the access list of `path` lets everyone read, write, execute and
// delete it: a null access list, or an allowing entry for S-1-1-0 with all of
// those rights.
bool EveryoneHasFullAccess(const std::string& path);

bool IsWritable(const std::string& path);

// A file of `bytes` zero bytes, made without writing them.
void MakeLargeFile(const std::string& path, long long bytes);

std::string VersionXml(const std::string& x, const std::string& y);

// The launcher fixture in application-data mode: an install of this
// test's company, and its data folder as an earlier start left it.
class CompanyTest : public testing_support::LauncherTest {
 protected:
  testing_support::Install MakeGameInstall(const std::string& name = "install",
                                           const std::string& exeName = "launcher.exe") const;
  using LauncherTest::ProvisionDataFolder;
  void ProvisionDataFolder() const { ProvisionDataFolder(DataFolder(), AppDataSettings()); }
};

}  // namespace provisioning_support

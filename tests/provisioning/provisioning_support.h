#pragma once
// Helpers for the first-start tests: a company folder of the test's own under
// the application-data folder, links planted as Wine shows them, access lists.

#include <gtest/gtest.h>

#include <string>

#include "tests/support/harness.h"

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

// A test with its own scratch folder and company folder, removed before and after.
class CompanyTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Settings() const;
  std::string DataFolder() const;
  // An install folder named `name` in the scratch folder, for this company.
  testing_support::Install MakeGameInstall(const std::string& name = "install",
                                           const std::string& exeName = "launcher.exe");
  // A data folder that already holds the game and a saved game.
  void ProvisionDataFolder();
  // Runs the launcher in the install folder; the game returns 0 at once.
  long Run(const testing_support::Install& install, const std::string& exe = "");
  // The folder the single game run happened in.
  std::string RanIn();

  std::string scratch, record, company, companyFolder;
};

}  // namespace provisioning_support

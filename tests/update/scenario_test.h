#pragma once
// Three starts that change the data folder, laid out afresh for each case:
// a staged update, a first-start copy and a refresh copy. Each knows the
// data folder's old version and what the new one must be.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/launcher_test.h"
#include "tests/support/rival.h"
#include "tests/support/tree.h"

namespace update_testing {

enum class Scenario { StagedUpdate, FirstStart, RefreshCopy };

const char* ScenarioName(Scenario scenario);

class ScenarioTest : public testing_support::LauncherTest {
 protected:
  // Lays `scenario` out afresh: the install folder (with the launcher's
  // test build when `faultBuild`), the data folder's old version, the new
  // one it must become, and a folder outside that nothing may change.
  void Prepare(Scenario scenario, bool faultBuild = false);

  // Empty when the data folder is the old or the new version. With
  // `pending`, the launcher's own state left for the next start is set
  // aside, and so is a read-only bit that a failed opening-up left behind.
  std::string OldOrNew(bool pending) const;

  // Empty when no file of the old version is missing from the data folder.
  std::string NoFileLost() const;

  void ExpectNothingOutsideChanged() const;

  std::string Outside() const { return testing_support::Join(scratch, "outside"); }

  testing_support::Install install;
  testing_support::Tree before, after, installBefore, outsideBefore;
};

}  // namespace update_testing

// The launcher's test build fails, or ends its own process, at the k-th
// change it makes to the file system, through a staged update, a first-start
// copy and a refresh copy, at the changes ChangesToSweep picks. After the fault, and after the clean start that
// follows, the data folder is the old or the new version, the game runs, and
// nothing outside the data folder changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/update/scenario_test.h"

using namespace testing_support;
using namespace update_testing;

namespace {

enum class Fault { Fail, Exit };

class FaultPoints : public ScenarioTest, public ::testing::WithParamInterface<std::tuple<Scenario, Fault>> {
 protected:
  void Prepare() { ScenarioTest::Prepare(std::get<0>(GetParam()), true); }

  long RunWithFault(long at, Fault fault, const std::string& countFile = std::string()) {
    SetEnvironmentVariableA("LAUNCHER_FAULT_AT", std::to_string(at).c_str());
    SetEnvironmentVariableA("LAUNCHER_FAULT_MODE", fault == Fault::Exit ? "exit" : "fail");
    SetEnvironmentVariableA("LAUNCHER_FAULT_COUNT", countFile.empty() ? nullptr : countFile.c_str());
    const long code = Run(install);
    for (const char* name : {"LAUNCHER_FAULT_AT", "LAUNCHER_FAULT_MODE", "LAUNCHER_FAULT_COUNT"}) {
      SetEnvironmentVariableA(name, nullptr);
    }
    return code;
  }
};

TEST_P(FaultPoints, EveryStepEndsOldOrNew) {
  const Fault fault = std::get<1>(GetParam());
  Prepare();
  const std::string countFile = Join(scratch, "count.txt");
  ASSERT_EQ(0, RunWithFault(0, fault, countFile));
  ASSERT_EQ(DataFolder(), RanIn());
  EXPECT_EQ("", TreeDifference(WithoutTopLevel(ReadTree(DataFolder()), {"game"}), after)) << "without a fault";
  const std::vector<std::string> kinds = ReadKinds(countFile);
  const long steps = static_cast<long>(kinds.size());
  // What a copy makes is handed over to be flushed at once, and every flush
  // has ended before anything is committed or moved in.
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    if (kinds[i] != "copy") continue;
    EXPECT_TRUE(i + 1 < kinds.size() && kinds[i + 1] == "flush") << "the copy at change " << i + 1;
    const auto flushed = std::find(kinds.begin() + i, kinds.end(), "flushed");
    EXPECT_TRUE(flushed != kinds.end() && std::find_if(kinds.begin() + i, flushed, [](const std::string& kind) {
                                            return kind == "commit" || kind.compare(0, 6, "rename") == 0;
                                          }) == flushed)
        << "the copy at change " << i + 1 << " is flushed before the first commit or move";
  }
  ASSERT_GE(steps, 8) << "changes counted";
  const std::vector<long> changes = ChangesToSweep(kinds);
  std::printf("faults at %zu of %ld changes\n", changes.size(), steps);

  for (long k : changes) {
    SCOPED_TRACE("fault at change " + std::to_string(k) + " of " + std::to_string(steps));
    Prepare();
    const long code = RunWithFault(k, fault);
    if (fault == Fault::Fail) {
      EXPECT_EQ(0, code);
      EXPECT_EQ(1u, Runs().size()) << "the game ran";
      EXPECT_EQ("", OldOrNew(true)) << "after the failed change";
    } else {
      EXPECT_EQ(99, code) << "ended at the fault";
      EXPECT_TRUE(Runs().empty());
    }
    DeleteFileA(record.c_str());
    ASSERT_EQ(0, Run(install)) << "the clean start that follows";
    EXPECT_EQ(1u, Runs().size()) << "the game ran";
    DeleteFileA(record.c_str());
    EXPECT_EQ("", OldOrNew(false)) << "after the clean start";
    ExpectNothingOutsideChanged();
    if (HasFatalFailure()) return;
  }
}

std::string CaseName(const ::testing::TestParamInfo<FaultPoints::ParamType>& info) {
  return std::string(ScenarioName(std::get<0>(info.param))) +
         (std::get<1>(info.param) == Fault::Exit ? "_Exit" : "_Fail");
}

INSTANTIATE_TEST_SUITE_P(EveryChange, FaultPoints,
                         ::testing::Combine(::testing::Values(Scenario::StagedUpdate, Scenario::FirstStart,
                                                              Scenario::RefreshCopy),
                                            ::testing::Values(Fault::Fail, Fault::Exit)),
                         CaseName);

}  // namespace

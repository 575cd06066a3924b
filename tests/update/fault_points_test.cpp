// The launcher's test build fails, or ends its own process, at the k-th
// change it makes to the file system, for every k, through a staged update,
// a first-start copy and a refresh copy. After the fault, and after the clean
// start that follows, the data folder is the old or the new version, the
// game runs, and nothing outside the data folder changed.
#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include "tests/support/launcher_test.h"
#include "tests/support/tree.h"
#include "tests/update/update_support.h"

using namespace testing_support;
using namespace update_testing;

namespace {

enum class Scenario { StagedUpdate, FirstStart, RefreshCopy };
enum class Fault { Fail, Exit };

std::string Version(int x, int y) {
  return "<version x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\"/>";
}

// A read-only file arrives writable: the copy is opened up, and a staged
// file replaces the old one as it was staged.
Tree Writable(Tree tree) {
  for (auto& [path, content] : tree) {
    if (content.compare(0, std::string(kReadOnlyMark).size(), kReadOnlyMark) == 0) {
      content.erase(0, std::string(kReadOnlyMark).size());
    }
  }
  return tree;
}

Tree Merged(Tree base, const Tree& over) {
  for (const auto& [path, content] : over) base[path] = content;
  return base;
}

const Tree kRelease10 = {{"properties", kFolderEntry},
                         {"properties\\version.xml", Version(1, 0)},
                         {"levels", kFolderEntry},
                         {"levels\\a.dat", std::string(kReadOnlyMark) + "level a 1.0"},
                         {"sub", kFolderEntry},
                         {"sub\\deep", kFolderEntry},
                         {"sub\\deep\\b.dat", "b 1.0"}};
const Tree kRelease11Changes = {{"properties\\version.xml", Version(1, 1)},
                                {"levels\\a.dat", "level a 1.1"},
                                {"levels\\n.dat", "level n 1.1"},
                                {"newdir", kFolderEntry},
                                {"newdir\\deep", kFolderEntry},
                                {"newdir\\deep\\c.txt", "c 1.1"}};

class FaultPoints : public LauncherTest, public ::testing::WithParamInterface<std::tuple<Scenario, Fault>> {
 protected:
  Install install;
  Tree before, after, installBefore, outsideBefore;

  std::string Data() const { return DataFolder(); }

  // Lays the scenario out afresh: the install folder, the data folder's old
  // version, and what the new one must be.
  void Prepare() {
    RemoveTree(companyFolder);
    RemoveTree(Join(scratch, "install"));
    const std::string xml = AppDataSettings({{"update_semaphore", "ready"}});
    install = MakeInstall(Join(scratch, "install"), xml);
    ASSERT_TRUE(CopyFileA(Join(TestBinaryFolder(), "launcher_faults.exe").c_str(), install.exe.c_str(), FALSE));
    const Scenario scenario = std::get<0>(GetParam());
    WriteTree(install.folder, scenario == Scenario::RefreshCopy ? Merged(kRelease10, kRelease11Changes) : kRelease10);
    if (scenario != Scenario::FirstStart) {
      ProvisionDataFolder(Data(), xml);
      WriteTree(Data(), kRelease10);
    }
    before = ReadTree(Data());
    if (scenario == Scenario::StagedUpdate) {
      WriteTree(Join(Data(), "game"), {{"levels\\a.dat.zip", Gzip("level a 1.1")},
                                       {"levels\\n.dat.zip", Gzip("level n 1.1")},
                                       {"properties\\version.xml", Version(1, 1)},
                                       {"newdir\\deep\\c.txt", "c 1.1"},
                                       {"ready", ""}});
      after = Merged(before, Merged(kRelease11Changes, {{"ready", ""}}));
    } else {
      after = Writable(Merged(before, WithoutTopLevel(ReadTree(install.folder), {"launcher.exe"})));
    }
    installBefore = ReadTree(install.folder);
    WriteTree(Join(scratch, "outside"), {{"keep.txt", "outside"}, {"sub\\keep.txt", "outside"}});
    outsideBefore = ReadTree(Join(scratch, "outside"));
  }

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

  // The data folder is the old or the new version. With `pending`, right
  // after a fault, the launcher's own state left for the next start is set
  // aside, and so is a read-only bit that a failed opening-up left behind.
  std::string OldOrNew(bool pending) const {
    Tree now = ReadTree(Data());
    if (pending) now = Writable(WithoutTopLevel(now, {"game", "~upd", "~upd.journal", "~upd.journal.tmp", "~new"}));
    const std::string fromOld = TreeDifference(now, pending ? Writable(before) : before);
    const std::string fromNew = TreeDifference(now, pending ? Writable(after) : after);
    if (fromOld.empty() || fromNew.empty()) return std::string();
    return "not the old version:\n" + fromOld + "not the new version:\n" + fromNew;
  }

  void ExpectNothingOutsideChanged() const {
    EXPECT_EQ("", TreeDifference(ReadTree(install.folder), installBefore)) << "the install folder";
    EXPECT_EQ("", TreeDifference(ReadTree(Join(scratch, "outside")), outsideBefore)) << "outside";
  }
};

TEST_P(FaultPoints, EveryStepEndsOldOrNew) {
  const Fault fault = std::get<1>(GetParam());
  Prepare();
  const std::string countFile = Join(scratch, "count.txt");
  ASSERT_EQ(0, RunWithFault(0, fault, countFile));
  ASSERT_EQ(Data(), RanIn());
  EXPECT_EQ("", TreeDifference(WithoutTopLevel(ReadTree(Data()), {"game"}), after)) << "without a fault";
  const long steps = std::stol(ReadFile(countFile));
  ASSERT_GE(steps, 8) << "changes counted";
  std::printf("faults at each of %ld changes\n", steps);

  for (long k = 1; k <= steps; ++k) {
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
  const char* const scenarios[] = {"StagedUpdate", "FirstStart", "RefreshCopy"};
  return std::string(scenarios[static_cast<int>(std::get<0>(info.param))]) +
         (std::get<1>(info.param) == Fault::Exit ? "_Exit" : "_Fail");
}

INSTANTIATE_TEST_SUITE_P(EveryChange, FaultPoints,
                         ::testing::Combine(::testing::Values(Scenario::StagedUpdate, Scenario::FirstStart,
                                                              Scenario::RefreshCopy),
                                            ::testing::Values(Fault::Fail, Fault::Exit)),
                         CaseName);

}  // namespace

#include "tests/update/scenario_test.h"


#include "tests/provisioning/provisioning_support.h"
#include "tests/update/update_support.h"

using namespace testing_support;

namespace update_testing {

namespace {

std::string Version(int x, int y) {
  return "<version x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\"/>";
}

// A read-only file arrives writable: the copy is opened up, and a staged
// file replaces the old one as it was staged.
Tree Writable(Tree tree) {
  const std::string mark = kReadOnlyMark;
  for (auto& entry : tree) {
    if (entry.second.compare(0, mark.size(), mark) == 0) entry.second.erase(0, mark.size());
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

}  // namespace

const char* ScenarioName(Scenario scenario) {
  const char* const names[] = {"StagedUpdate", "FirstStart", "RefreshCopy"};
  return names[static_cast<int>(scenario)];
}

void ScenarioTest::Prepare(Scenario scenario, bool faultBuild) {
  RemoveTree(companyFolder);
  RemoveTree(Join(scratch, "install"));
  RemoveTree(Outside());
  const std::string xml = AppDataSettings({{"update_semaphore", "ready"}});
  install = MakeInstall(Join(scratch, "install"), xml);
  if (faultBuild) {
    ASSERT_TRUE(CopyFileA(Join(TestBinaryFolder(), "launcher_faults.exe").c_str(), install.exe.c_str(), FALSE));
  }
  WriteTree(install.folder, scenario == Scenario::RefreshCopy ? Merged(kRelease10, kRelease11Changes) : kRelease10);
  if (scenario != Scenario::FirstStart) {
    ProvisionDataFolder(DataFolder(), xml);
    WriteTree(DataFolder(), kRelease10);
  }
  before = ReadTree(DataFolder());
  if (scenario == Scenario::StagedUpdate) {
    WriteTree(Join(DataFolder(), "game"), {{"levels\\a.dat.zip", Gzip("level a 1.1")},
                                           {"levels\\n.dat.zip", Gzip("level n 1.1")},
                                           {"properties\\version.xml", Version(1, 1)},
                                           {"newdir\\deep\\c.txt", "c 1.1"},
                                           {"ready", ""}});
    after = Merged(before, Merged(kRelease11Changes, {{"ready", ""}}));
  } else {
    after = Writable(Merged(before, WithoutTopLevel(ReadTree(install.folder), {"launcher.exe"})));
  }
  installBefore = ReadTree(install.folder);
  WriteTree(Outside(), {{"keep.dat", std::string(kReadOnlyMark) + "outside"}, {"sub\\keep.txt", "outside"}});
  outsideBefore = ReadTree(Outside());
}

std::string ScenarioTest::OldOrNew(bool pending) const {
  Tree now = ReadTree(DataFolder());
  if (pending) now = Writable(WithoutTopLevel(now, {"game", "~upd", "~upd.journal", "~upd.journal.tmp", "~new"}));
  const std::string fromOld = TreeDifference(now, pending ? Writable(before) : before);
  const std::string fromNew = TreeDifference(now, pending ? Writable(after) : after);
  if (fromOld.empty() || fromNew.empty()) return std::string();
  return "not the old version:\n" + fromOld + "not the new version:\n" + fromNew;
}

std::string ScenarioTest::NoFileLost() const {
  const Tree now = ReadTree(DataFolder());
  std::string lost;
  for (const auto& entry : before) {
    if (now.count(entry.first) == 0) lost += "lost: " + entry.first + "\n";
  }
  return lost;
}

void ScenarioTest::ExpectNothingOutsideChanged() const {
  EXPECT_EQ("", TreeDifference(ReadTree(install.folder), installBefore)) << "the install folder";
  EXPECT_EQ("", TreeDifference(ReadTree(Outside()), outsideBefore)) << "outside";
  EXPECT_FALSE(provisioning_support::EveryoneHasFullAccess(Join(Outside(), "keep.dat"))) << "outside";
  EXPECT_FALSE(provisioning_support::EveryoneHasFullAccess(Outside())) << "outside";
}

}  // namespace update_testing

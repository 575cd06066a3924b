// An update that cannot be applied completely for a reason of the machine's
// (a locked file, a path over the limit) leaves the data folder exactly as
// it was; names and markers that only look right are never acted on.
#include "tests/update/staging_fixture.h"

#include "fs/walk.h"
#include "update/unpack.h"

using namespace testing_support;
using namespace update_testing;

namespace {

class WholeUpdate : public StagingTest {
 protected:
  // The data folder's version, and an update of every file of it.
  void StageUpdateOverOldVersion() {
    WriteFile(InData("a.txt"), "old a");
    WriteFile(InData("b.txt"), "old b");
    WriteFile(InData("sub\\c.txt"), "old c");
    Stage("a.txt", "new a");
    Stage("b.txt.zip", Gzip("new b"));
    Stage("sub\\c.txt", "new c");
    Stage("sub\\d.txt.zip", Gzip("new d"));
    StageMarker();
  }
  void ExpectOldVersion() {
    EXPECT_EQ("old a", ReadFile(InData("a.txt")));
    EXPECT_EQ("old b", ReadFile(InData("b.txt")));
    EXPECT_EQ("old c", ReadFile(InData("sub\\c.txt")));
    EXPECT_FALSE(Exists(InData("sub\\d.txt")));
    EXPECT_TRUE(FilesEndingWith(data, ".zip").empty());
    EXPECT_FALSE(Exists(InData("update.flag")));
  }
  void ExpectNewVersion() {
    EXPECT_EQ("new a", ReadFile(InData("a.txt")));
    EXPECT_EQ("new b", ReadFile(InData("b.txt")));
    EXPECT_EQ("new c", ReadFile(InData("sub\\c.txt")));
    EXPECT_EQ("new d", ReadFile(InData("sub\\d.txt")));
    EXPECT_TRUE(Exists(InData("update.flag")));
  }
};

// Held open by this test, without sharing, while the launcher runs.
class HeldOpen {
 public:
  explicit HeldOpen(const std::string& path)
      : handle_(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~HeldOpen() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

}  // namespace

TEST_F(WholeUpdate, LockedFileInTheDataFolderKeepsTheOldVersion) {
  StageUpdateOverOldVersion();
  {
    const HeldOpen lock(InData("sub\\c.txt"));
    ASSERT_TRUE(lock.Held());
    EXPECT_EQ(0, Run());
  }
  ExpectOldVersion();
  ExpectStagingDiscarded();
  StageUpdateOverOldVersion();
  EXPECT_EQ(0, Run());
  ExpectNewVersion();
}

TEST_F(WholeUpdate, LockedStagedFileKeepsTheOldVersion) {
  StageUpdateOverOldVersion();
  {
    const HeldOpen lock(InStaging("sub\\c.txt"));
    ASSERT_TRUE(lock.Held());
    EXPECT_EQ(0, Run());
  }
  ExpectOldVersion();
}

// The unpacking's temporary file beside a packed file this deep would pass
// the platform limit, though the file itself would fit in the data folder.
TEST_F(WholeUpdate, PathOverTheLimitKeepsTheOldVersion) {
  StageUpdateOverOldVersion();
  std::string deep = "deep";
  while (InStaging(deep).size() < 230) deep += "\\" + std::string(20, 'd');
  std::string name = std::string(250 - InStaging(deep).size() - 5, 'f') + ".zip";
  Stage(deep + "\\" + name, Gzip("deep"));
  ASSERT_TRUE(Exists(InStaging(deep + "\\" + name)));
  EXPECT_EQ(0, Run());
  ExpectOldVersion();
  EXPECT_FALSE(Exists(InData("deep")));
  ExpectStagingDiscarded();
}

// A packed file whose unpacked name would carry the suffix reserved for the
// launcher's temporary files: it arrives under its packed name, as damaged
// files do, and no file with the reserved suffix is ever installed.
TEST_F(WholeUpdate, ReservedTemporaryNameIsNeverInstalled) {
  const std::string reserved = std::string("x") + kUnpackTemporarySuffix;
  Stage(reserved + ".zip", Gzip("packed"));
  Stage("sub\\" + reserved + ".zip", "plain");
  Stage("y.txt", "y");
  StageMarker();
  EXPECT_EQ(0, Run());
  EXPECT_TRUE(FilesEndingWith(data, kUnpackTemporarySuffix).empty());
  EXPECT_EQ(Gzip("packed"), ReadFile(InData(reserved + ".zip")));
  EXPECT_EQ("plain", ReadFile(InData("sub\\" + reserved + ".zip")));
  EXPECT_EQ("y", ReadFile(InData("y.txt")));
  ExpectStagingDiscarded();
}

// A device name exists in every folder, a wildcard matches any entry: only
// an entry the staging folder really holds counts as the marker.
TEST_F(WholeUpdate, DeviceNameOrWildcardAsMarkerIsNeverPresent) {
  for (const char* marker : {"CON", "nul", "NUL.txt", "aux", "COM1", "LPT1", "CONOUT$", "*", "a?.txt", "sub\\NUL"}) {
    SCOPED_TRACE(marker);
    WriteFile(InData("game.xml"), SettingsXml({{"use_app_data_folder", "false"}, {"update_semaphore", marker}}));
    Stage("staged.txt", "staged");
    Stage("ab.txt", "ab");
    MakeFolders(InStaging("sub"));
    EXPECT_EQ(0, Run());
    EXPECT_FALSE(Exists(InData("staged.txt")));
    EXPECT_FALSE(Exists(staging));
  }
}

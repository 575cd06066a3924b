// An update that cannot be applied completely for a reason of the machine's
// (a locked file, a path over the limit) leaves the data folder exactly as
// it was; names and markers that only look right are never acted on.
#include "tests/update/staging_fixture.h"

#include <functional>
#include <memory>

#include "tests/support/wine_host.h"
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
  // Short levels, so that room for a name is left wherever the scratch tree is.
  std::string deep = "deep";
  while (InStaging(deep).size() < 220) deep += "\\" + std::string(10, 'd');
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

// A device name or a wildcard as the marker installs nothing (every such
// name is a row of the unit table StagedMarkerExists).
TEST_F(WholeUpdate, DeviceNameOrWildcardAsMarkerIsNeverPresent) {
  for (const char* marker : {"NUL.txt", "a?.txt"}) {
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

namespace {

// Application-data mode with the data folder on a small drive of its own.
class UpdateOnSmallDrive : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    data = DataFolder();
    staging = Join(data, "game");
    drive = std::make_unique<wine_host::SmallDrive>(CommonAppData(), 4, scratch);
    if (!drive->Mounted()) GTEST_SKIP() << drive->Reason();
    const std::string settings = AppDataSettings({{"update_semaphore", "update.flag"}});
    install = MakeInstall(Join(scratch, "install"), settings);
    ProvisionDataFolder(data, settings);
  }
  void TearDown() override {
    LauncherTest::TearDown();
    drive.reset();
  }

  std::unique_ptr<wine_host::SmallDrive> drive;
  std::string data, staging;
  Install install;
};

}  // namespace

// A packed file that unpacks to more than the drive holds: nothing of the
// update is installed, and the packed file does not arrive as if damaged.
TEST_F(UpdateOnSmallDrive, FullDiskKeepsTheOldVersion) {
  WriteFile(Join(data, "a.txt"), "old a");
  WriteFile(Join(staging, "a.txt"), "new a");
  WriteFile(Join(staging, "big.bin.zip"), Gzip(std::string(8 << 20, '\0'), 9));
  WriteFile(Join(staging, "update.flag"), "ready");
  EXPECT_EQ(0, Run(install));
  EXPECT_EQ("old a", ReadFile(Join(data, "a.txt")));
  EXPECT_FALSE(Exists(Join(data, "big.bin")));
  EXPECT_FALSE(Exists(Join(data, "big.bin.zip")));
  EXPECT_FALSE(Exists(Join(data, "update.flag")));
  EXPECT_FALSE(Exists(staging));
}

namespace {

class KilledUpdate : public WholeUpdate {
 protected:
  static constexpr int kFiles = 120;
  static std::string Name(int i) { return "f" + std::to_string(i) + ".bin"; }
  static std::string Content(int version, int i) {
    // Each version its own size: the polls below look at sizes only, since a
    // file this test held open could not be replaced.
    return "v" + std::to_string(version) + std::string((i % 2 ? 40000 : 3000) + version, static_cast<char>('a' + i % 26));
  }
  void StageAll() {
    for (int i = 0; i < kFiles; ++i) {
      WriteFile(InData(Name(i)), Content(1, i));
      if (i % 2) {
        Stage(Name(i) + ".zip", Gzip(Content(2, i)));
      } else {
        Stage(Name(i), Content(2, i));
      }
    }
    StageMarker();
  }
  static size_t SizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
  }
  int Unpacked() {
    int count = 0;
    for (int i = 1; i < kFiles; i += 2) count += Exists(InStaging(Name(i))) ? 1 : 0;
    return count;
  }
  int Installed() {
    int count = 0;
    for (int i = 0; i < kFiles; ++i) count += ReadFile(InData(Name(i))) == Content(2, i) ? 1 : 0;
    return count;
  }
};

}  // namespace

// The launcher killed while it unpacks and while it moves: after the next
// start the data folder holds the whole new version, nothing packed or
// temporary, and no staging folder.
TEST_F(KilledUpdate, KilledAnywhereEndsWholeAfterTheNextStart) {
  const std::vector<std::pair<const char*, std::function<bool()>>> points = {
      {"unpacking", [&] { return Unpacked() >= 1; }},
      {"half unpacked", [&] { return Unpacked() >= kFiles / 4; }},
      {"moving", [&] { return Exists(InData("update.flag")) || SizeOf(InData(Name(0))) == Content(2, 0).size(); }},
  };
  for (const auto& point : points) {
    SCOPED_TRACE(point.first);
    RemoveTree(staging);
    StageAll();
    {
      const auto launcher = Start(install);
      ASSERT_TRUE(launcher->Started());
      for (int polls = 0; polls < 60000 && !launcher->Finished() && !point.second(); ++polls) Sleep(1);
      launcher->Kill();
    }
    EXPECT_EQ(0, Run());
    EXPECT_EQ(kFiles, Installed());
    EXPECT_TRUE(FilesEndingWith(data, ".zip").empty());
    EXPECT_TRUE(FilesEndingWith(data, kUnpackTemporarySuffix).empty());
    EXPECT_TRUE(Exists(InData("update.flag")));
    EXPECT_FALSE(Exists(staging));
    DeleteFileA(InData("update.flag").c_str());
  }
}

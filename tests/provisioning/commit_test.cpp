// The first-start and refresh copy: it starts only when the installation
// fits below the data folder (paths and free space) and no file to replace is
// in use, and its version file, written last, is its commit point.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "tests/provisioning/provisioning_support.h"
#include "tests/support/wine_host.h"

using namespace testing_support;
using namespace provisioning_support;

namespace {

class CopyCommit : public CompanyTest {
 protected:
  // An installed version 2 and, when `provisioned`, a data folder that holds
  // version 1 of the same files and a saved game.
  Install InstallVersion2(bool provisioned) {
    const Install install = MakeGameInstall();
    WriteFile(Join(install.folder, "properties\\version.xml"), VersionXml("2", "0"));
    WriteFile(Join(install.folder, "asset.txt"), "asset v2");
    if (provisioned) {
      ProvisionDataFolder();
      WriteFile(Join(DataFolder(), "properties\\version.xml"), VersionXml("1", "0"));
      WriteFile(Join(DataFolder(), "asset.txt"), "asset version 1");
    }
    return install;
  }
  void ExpectVersion1Kept() {
    EXPECT_EQ(VersionXml("1", "0"), ReadFile(Join(DataFolder(), "properties\\version.xml")));
    EXPECT_EQ("asset version 1", ReadFile(Join(DataFolder(), "asset.txt")));
  }
  void ExpectVersion2Copied() {
    EXPECT_EQ(VersionXml("2", "0"), ReadFile(Join(DataFolder(), "properties\\version.xml")));
    EXPECT_EQ("asset v2", ReadFile(Join(DataFolder(), "asset.txt")));
  }
  // `file` held open by another program while the launcher starts: no copy
  // starts, the game runs on the version the data folder holds, and the next
  // start copies.
  void ExpectHeldFileDefersTheCopy(const Install& install, const std::string& file) {
    {
      const HANDLE lock = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(INVALID_HANDLE_VALUE, lock);
      EXPECT_EQ(0, Run(install));
      CloseHandle(lock);
    }
    EXPECT_EQ(DataFolder(), RanIn());
    ExpectVersion1Kept();
    EXPECT_EQ(0, Run(install));
    ExpectVersion2Copied();
  }
};

// A product name long enough that one ordinary asset of the installation
// would pass the platform limit below the data folder, though it fits in the
// install folder.
class LongDataFolder : public CopyCommit {
 protected:
  std::string Settings() const {
    return SettingsXml({{"company", company}, {"product", LongProduct()}, {"lang", "en"}});
  }
  std::string LongProduct() const { return std::string(210 - companyFolder.size(), 'p'); }
  std::string LongDataFolderPath() const { return Join(Join(companyFolder, LongProduct()), "en"); }
  Install MakeDeepInstall() {
    const Install install = MakeInstall(Join(scratch, "install"), Settings());
    deepAsset = "assets\\" + std::string(60, 'a') + ".dat";
    WriteFile(Join(install.folder, deepAsset), "deep");
    WriteFile(Join(install.folder, "properties\\version.xml"), VersionXml("2", "0"));
    return install;
  }
  std::string deepAsset;
};

}  // namespace

TEST_F(LongDataFolder, InstallationThatDoesNotFitBelowTheDataFolderRunsFromTheInstallFolder) {
  const Install install = MakeDeepInstall();
  ASSERT_LT(Join(install.folder, deepAsset).size(), static_cast<size_t>(MAX_PATH));
  ASSERT_GE(Join(LongDataFolderPath(), deepAsset).size(), static_cast<size_t>(MAX_PATH));
  EXPECT_EQ(0, Run(install));
  EXPECT_EQ(install.folder, RanIn());
  EXPECT_FALSE(Exists(companyFolder)) << "nothing under the application-data folder is touched";
  EXPECT_EQ((std::vector<std::string>{std::string(60, 'a') + ".dat"}), ListFolder(Join(install.folder, "assets")));
}

TEST_F(LongDataFolder, RefreshThatDoesNotFitLeavesTheDataFolderAlone) {
  const Install install = MakeDeepInstall();
  const std::string data = LongDataFolderPath();
  ProvisionDataFolder(data, Settings());
  WriteFile(Join(data, "properties\\version.xml"), VersionXml("1", "0"));
  EXPECT_EQ(0, Run(install));
  EXPECT_EQ(install.folder, RanIn());
  EXPECT_EQ(VersionXml("1", "0"), ReadFile(Join(data, "properties\\version.xml")));
  EXPECT_EQ((std::vector<std::string>{"game.dll", "game.xml", "properties", "saves"}), ListFolder(data));
}

TEST_F(CopyCommit, VersionFileArrivesWithTheRestOfTheCopy) {
  const Install install = InstallVersion2(false);
  WriteFile(Join(install.folder, "properties\\other.xml"), "other");
  WriteFile(Join(install.folder, "properties\\more.xml"), "more");
  EXPECT_EQ(0, Run(install));
  EXPECT_EQ(DataFolder(), RanIn());
  ExpectVersion2Copied();
  EXPECT_EQ((std::vector<std::string>{"more.xml", "other.xml", "version.xml"}),
            ListFolder(Join(DataFolder(), "properties")));
  EXPECT_TRUE(EveryoneHasFullAccess(Join(DataFolder(), "properties\\version.xml")));
}

// A file of the old version in use: the refresh waits for the next start.
TEST_F(CopyCommit, FileInUseDefersTheRefresh) {
  const Install install = InstallVersion2(true);
  ExpectHeldFileDefersTheCopy(install, Join(DataFolder(), "asset.txt"));
}

// A file of the installation that cannot be read now: the copy is made
// again at the next start.
TEST_F(CopyCommit, IncompleteCopyIsMadeAgainAtTheNextStart) {
  const Install install = InstallVersion2(true);
  ExpectHeldFileDefersTheCopy(install, Join(install.folder, "asset.txt"));
}

// On a first start, a file of the installation that cannot be read stops
// the copy where it is met: nothing moves in, nothing of the copy stays, the
// game runs from the install folder, and the next start copies.
TEST_F(CopyCommit, UnreadableFileOnAFirstStartRunsFromTheInstallFolder) {
  const Install install = InstallVersion2(false);
  {
    const HANDLE lock =
        CreateFileA(Join(install.folder, "asset.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    EXPECT_EQ(0, Run(install));
    CloseHandle(lock);
  }
  EXPECT_EQ(install.folder, RanIn());
  EXPECT_FALSE(Exists(Join(DataFolder(), "game.dll")));
  EXPECT_FALSE(Exists(Join(DataFolder(), "~new")));
  EXPECT_EQ(0, Run(install));
  EXPECT_EQ(DataFolder(), RanIn());
  ExpectVersion2Copied();
}

// A company, product or language folder that is a dangling link reads as
// missing, yet no folder can be made there.
TEST_F(CopyCommit, DanglingLinkAsALevelRunsFromTheInstallFolder) {
  const Install install = InstallVersion2(false);
  const std::string gone = Join(scratch, "gone");
  for (const std::string& level : {companyFolder, Join(companyFolder, "Game"), DataFolder()}) {
    SCOPED_TRACE(level);
    RemoveTree(companyFolder);
    MakeFolders(gone);
    MakeFolders(level.substr(0, level.find_last_of('\\')));
    ASSERT_TRUE(PlantLink(level, gone));
    RemoveTree(gone);
    ASSERT_FALSE(Exists(level));
    EXPECT_EQ(0, Run(install));
    EXPECT_EQ(install.folder, RanIn());
    EXPECT_FALSE(Exists(gone));
    RemoveLink(level);
  }
}

namespace {

// The data folder's drive is a small tmpfs of its own.
class SmallDrive : public CopyCommit {
 protected:
  void SetUp() override {
    CopyCommit::SetUp();
    drive = std::make_unique<wine_host::SmallDrive>(CommonAppData(), 4, scratch);
    if (!drive->Mounted()) GTEST_SKIP() << drive->Reason();
  }
  void TearDown() override {
    CopyCommit::TearDown();
    drive.reset();
  }
  std::unique_ptr<wine_host::SmallDrive> drive;
};

}  // namespace

TEST_F(SmallDrive, FirstStartThatDoesNotFitRunsFromTheInstallFolder) {
  const Install install = InstallVersion2(false);
  MakeLargeFile(Join(install.folder, "big.bin"), 6 << 20);
  EXPECT_EQ(0, Run(install));
  EXPECT_EQ(install.folder, RanIn());
  EXPECT_FALSE(Exists(companyFolder));
}

TEST_F(SmallDrive, RefreshThatDoesNotFitKeepsTheOldVersionUntilThereIsSpace) {
  const Install install = InstallVersion2(true);
  MakeLargeFile(Join(DataFolder(), "big.bin"), 1 << 20);
  MakeLargeFile(Join(install.folder, "big.bin"), 6 << 20);
  EXPECT_EQ(0, Run(install));
  EXPECT_EQ(DataFolder(), RanIn());
  ExpectVersion1Kept();
  WIN32_FILE_ATTRIBUTE_DATA big;
  ASSERT_TRUE(GetFileAttributesExA(Join(DataFolder(), "big.bin").c_str(), GetFileExInfoStandard, &big));
  EXPECT_EQ(static_cast<DWORD>(1 << 20), big.nFileSizeLow) << "not truncated";

  ASSERT_TRUE(drive->Resize(16));
  EXPECT_EQ(0, Run(install));
  EXPECT_EQ(DataFolder(), RanIn());
  ExpectVersion2Copied();
  ASSERT_TRUE(GetFileAttributesExA(Join(DataFolder(), "big.bin").c_str(), GetFileExInfoStandard, &big));
  EXPECT_EQ(static_cast<DWORD>(6 << 20), big.nFileSizeLow);
}

namespace {

// An installation of many files, and a data folder of its older version.
class KilledCopy : public CopyCommit {
 protected:
  static constexpr int kFolders = 10;
  static constexpr int kFilesPerFolder = 100;

  static std::string AssetName(int folder, int file) {
    return "assets" + std::to_string(folder) + "\\file" + std::to_string(file) + ".dat";
  }
  static std::string AssetContent(int version, int folder, int file) {
    // Each version its own size, so that a look at the size tells them apart.
    return "v" + std::to_string(version) + " " + AssetName(folder, file) + std::string(2048 + version, 'a' + file % 26);
  }
  void WriteAssets(const std::string& folder, int version) {
    for (int f = 0; f < kFolders; ++f) {
      for (int i = 0; i < kFilesPerFolder; ++i) WriteFile(Join(folder, AssetName(f, i)), AssetContent(version, f, i));
    }
  }
  int AssetsOfVersion2(bool compareContent = false) {
    int count = 0;
    for (int f = 0; f < kFolders; ++f) {
      for (int i = 0; i < kFilesPerFolder; ++i) {
        const std::string path = Join(DataFolder(), AssetName(f, i));
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) continue;
        if (data.nFileSizeLow != AssetContent(2, f, i).size()) continue;
        if (!compareContent || ReadFile(path) == AssetContent(2, f, i)) ++count;
      }
    }
    return count;
  }
  bool Version2Committed() {
    return ReadFile(Join(DataFolder(), "properties\\version.xml")) == VersionXml("2", "0");
  }
};

}  // namespace

// The launcher killed early in a refresh, halfway, and as the version file
// arrives: the next start always ends with the whole new version.
TEST_F(KilledCopy, RefreshKilledAnywhereEndsWholeAfterTheNextStart) {
  const Install install = InstallVersion2(false);
  WriteAssets(install.folder, 2);
  const std::vector<std::pair<const char*, std::function<bool()>>> points = {
      {"first file copied", [&] { return AssetsOfVersion2() >= 1; }},
      {"half copied", [&] { return AssetsOfVersion2() >= kFolders * kFilesPerFolder / 2; }},
      {"version file written", [&] { return Version2Committed(); }},
  };
  for (const auto& point : points) {
    SCOPED_TRACE(point.first);
    RemoveTree(companyFolder);
    ProvisionDataFolder();
    WriteFile(Join(DataFolder(), "properties\\version.xml"), VersionXml("1", "0"));
    WriteAssets(DataFolder(), 1);
    DeleteFileA(record.c_str());
    {
      const auto launcher = Start(install);
      ASSERT_TRUE(launcher->Started());
      for (int polls = 0; polls < 60000 && !launcher->Finished() && !point.second(); ++polls) Sleep(1);
      launcher->Kill();
    }
    DeleteFileA(record.c_str());
    EXPECT_EQ(0, Run(install));
    EXPECT_EQ(DataFolder(), RanIn());
    EXPECT_TRUE(Version2Committed());
    EXPECT_EQ(kFolders * kFilesPerFolder, AssetsOfVersion2(true));
    EXPECT_EQ("asset v2", ReadFile(Join(DataFolder(), "asset.txt")));
  }
}

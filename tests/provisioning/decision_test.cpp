// When the launcher refills the data folder: an empty saves folder, or an
// installed version newer than the data folder's. Each case is one real
// launcher run; a file only the install folder holds shows whether it copied.
#include <gtest/gtest.h>

#include "tests/provisioning/provisioning_support.h"

using namespace testing_support;
using namespace provisioning_support;

namespace {

const char kMarker[] = "copied.txt";

class Decision : public CompanyTest {
 protected:
  // Runs the launcher over a data folder that already holds the game, with
  // the given version files ("" for none); true when it copied.
  bool Copies(const std::string& installVersion, const std::string& dataVersion, bool savedGame = true) {
    RemoveTree(companyFolder);
    RemoveTree(Join(scratch, "install"));
    DeleteFileA(record.c_str());
    const Install install = MakeGameInstall();
    WriteFile(Join(install.folder, kMarker), "x");
    ProvisionDataFolder();
    if (!savedGame) DeleteFileA(Join(DataFolder(), "saves\\slot1.sav").c_str());
    if (!installVersion.empty()) WriteFile(Join(install.folder, "properties\\version.xml"), installVersion);
    if (!dataVersion.empty()) WriteFile(Join(DataFolder(), "properties\\version.xml"), dataVersion);
    EXPECT_EQ(0, Run(install));
    EXPECT_EQ(DataFolder(), RanIn());
    return Exists(Join(DataFolder(), kMarker));
  }
};

std::string Xml(const std::string& body) { return "<?xml version=\"1.0\"?>\n" + body + "\n"; }

}  // namespace

TEST_F(Decision, SavesFolderMissingOrEmptyCopiesAnyEntryDoesNot) {
  const std::string saves = Join(DataFolder(), "saves");
  EXPECT_FALSE(Copies("", "")) << "a saved game";

  EXPECT_TRUE(Copies("", "", false)) << "an empty saves folder";

  RemoveTree(saves);
  MakeFolders(Join(saves, "empty"));
  DeleteFileA(Join(DataFolder(), kMarker).c_str());
  Run(MakeGameInstall());
  EXPECT_FALSE(Exists(Join(DataFolder(), kMarker))) << "a saves folder holding only an empty folder is not empty";

  RemoveTree(saves);
  DeleteFileA(Join(DataFolder(), kMarker).c_str());
  Run(MakeGameInstall());
  EXPECT_TRUE(Exists(Join(DataFolder(), kMarker))) << "no saves folder";
}

// The version rules row by row are the unit table InstalledVersionIsNewer;
// here one case each that the launcher itself applies them.
TEST_F(Decision, NewerInstallVersionCopiesNumerically) {
  EXPECT_TRUE(Copies(VersionXml("1", "10"), VersionXml("1", "9")));
  EXPECT_FALSE(Copies(VersionXml("1", "4"), VersionXml("2", "0"))) << "never back to an older install";
}

TEST_F(Decision, MissingOrUnreadableVersionOnEitherSideNeverCopies) {
  EXPECT_FALSE(Copies("", VersionXml("1", "0")));
  EXPECT_FALSE(Copies("", ""));
  EXPECT_FALSE(Copies("<version x=\"2\" y=", VersionXml("1", "0")));
  EXPECT_FALSE(Copies(VersionXml("2", "0"), "<version x=\"1\" y="));
  EXPECT_FALSE(Copies(Xml("<version x=\"2\"/>"), VersionXml("1", "0"))) << "no y";
  EXPECT_FALSE(Copies(VersionXml("2", "0"), Xml("<settings x=\"1\" y=\"0\"/>")));
}

// The version file is the last file a copy writes: a data folder without one
// holds a copy that never finished, whatever its saves folder holds.
TEST_F(Decision, DataFolderWithoutAVersionFileIsCopiedAgain) {
  EXPECT_TRUE(Copies(VersionXml("2", "0"), ""));
  EXPECT_TRUE(Copies(VersionXml("1", "0"), ""));
  EXPECT_EQ(VersionXml("1", "0"), ReadFile(Join(DataFolder(), "properties\\version.xml")));
}

TEST_F(Decision, DataVersionFileThatIsAFolderNeverCopies) {
  const Install install = MakeGameInstall();
  WriteFile(Join(install.folder, kMarker), "x");
  WriteFile(Join(install.folder, "properties\\version.xml"), VersionXml("9", "0"));
  ProvisionDataFolder();
  MakeFolders(Join(DataFolder(), "properties\\version.xml"));
  EXPECT_EQ(0, Run(install));
  EXPECT_FALSE(Exists(Join(DataFolder(), kMarker)));
}

TEST_F(Decision, VersionValuesReadAsBaseTenIntegers) {
  EXPECT_TRUE(Copies(VersionXml("010", "0"), VersionXml("9", "0"))) << "decimal, not octal";
  EXPECT_FALSE(Copies(VersionXml("99999999999", "0"), VersionXml("2147483647", "0"))) << "saturates";
}

TEST_F(Decision, VersionElementByNameInAnyCaseAttributesExact) {
  EXPECT_TRUE(Copies(Xml("<VERSION x=\"2\" y=\"0\"/>"), VersionXml("1", "0")));
  EXPECT_FALSE(Copies(Xml("<game><version x=\"9\" y=\"9\"/></game>"), VersionXml("1", "0")))
      << "only top-level elements";
}

// A data folder that lost its game.dll gets it back from the installation,
// as an interrupted copy would; the player's saves and own files stay.
TEST_F(Decision, MissingGameModuleIsCopiedBackKeepingThePlayersFiles) {
  const Install install = MakeGameInstall();
  ProvisionDataFolder();
  WriteFile(Join(DataFolder(), "player.cfg"), "mine");
  ASSERT_TRUE(DeleteFileA(Join(DataFolder(), "game.dll").c_str()));
  EXPECT_EQ(0, Run(install));
  EXPECT_EQ(DataFolder(), RanIn());
  EXPECT_TRUE(Exists(Join(DataFolder(), "game.dll")));
  EXPECT_EQ("saved", ReadFile(Join(DataFolder(), "saves\\slot1.sav")));
  EXPECT_EQ("mine", ReadFile(Join(DataFolder(), "player.cfg")));
}

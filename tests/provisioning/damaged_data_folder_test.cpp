// A data folder whose game.dll does not load, or whose saves folder was
// emptied after an update: the game still runs, a data folder of the
// installation's own version is repaired from it, and a data folder an
// update made newer never gets the older installation copied over it. A
// game.xml planted in the data folder never names where the repair writes.
#include <gtest/gtest.h>

#include "tests/provisioning/provisioning_support.h"

using namespace testing_support;
using namespace provisioning_support;

namespace {

enum class GameModule { Intact, Empty, CutShort, Folder, Missing };

struct Row {
  const char* name;
  GameModule module;
  const char* dataMinor;  // the data folder's version is 1.<dataMinor>; the installation's 1.0
  bool savesEmptied;
  bool repaired;  // the data folder's game.dll is the installation's afterwards
  bool runsInData;
  bool plantedSettings = false;  // the data folder's game.xml names another company
};

const Row kRows[] = {
    {"empty game.dll, same version", GameModule::Empty, "0", false, true, true},
    {"game.dll cut short, same version", GameModule::CutShort, "0", false, true, true},
    {"game.dll a folder, same version", GameModule::Folder, "0", false, true, true},
    {"empty game.dll, data folder updated", GameModule::Empty, "1", false, false, false},
    {"no game.dll, data folder updated", GameModule::Missing, "1", false, false, false},
    {"saves emptied, data folder updated", GameModule::Intact, "1", true, false, true},
    {"empty game.dll, same version, game.xml of another company", GameModule::Empty, "0", false, true, true, true},
    {"game.xml of another company alone", GameModule::Intact, "0", false, false, true, true},
};

using DamagedDataFolder = CompanyTest;

TEST_F(DamagedDataFolder, GameRunsAndTheDataFolderIsRepairedButNeverMadeOlder) {
  const std::string installedGame = ReadFile(TestGameDll());
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    RemoveTree(companyFolder);
    RemoveTree(Join(scratch, "install"));
    const Install install = MakeGameInstall();
    WriteFile(Join(install.folder, "properties\\version.xml"), VersionXml("1", "0"));
    WriteFile(Join(install.folder, "install-only.txt"), "from the installation");
    ProvisionDataFolder();
    const std::string dataVersion = VersionXml("1", row.dataMinor);
    WriteFile(Join(DataFolder(), "properties\\version.xml"), dataVersion);
    WriteFile(Join(DataFolder(), "from-update.txt"), "an update's file");
    const std::string module = Join(DataFolder(), "game.dll");
    switch (row.module) {
      case GameModule::Intact: break;
      case GameModule::Empty: WriteFile(module, ""); break;
      case GameModule::CutShort: WriteFile(module, installedGame.substr(0, installedGame.size() / 3)); break;
      case GameModule::Folder: RemoveTree(module); MakeFolders(module); break;
      case GameModule::Missing: RemoveTree(module); break;
    }
    if (row.savesEmptied) RemoveTree(Join(DataFolder(), "saves"));
    // Another company's folder, which the planted game.xml names.
    const std::string otherCompany = company + " other";
    const std::string otherFolder = Join(CommonAppData(), otherCompany);
    RemoveTree(otherFolder);
    WriteFile(Join(otherFolder, "secret.txt"), "another company's");
    if (row.plantedSettings) {
      WriteFile(Join(DataFolder(), "game.xml"),
                SettingsXml({{"company", otherCompany}, {"product", "Game"}, {"lang", "en"}}));
    }
    const std::string moduleBefore = row.module == GameModule::Folder || row.module == GameModule::Missing
                                         ? std::string()
                                         : ReadFile(module);

    ASSERT_EQ(0, Run(install)) << "the game ran and ended with 0";
    EXPECT_EQ(row.runsInData ? DataFolder() : install.folder, RanIn());
    EXPECT_EQ(dataVersion, ReadFile(Join(DataFolder(), "properties\\version.xml"))) << "the data folder's version";
    EXPECT_EQ("an update's file", ReadFile(Join(DataFolder(), "from-update.txt")));
    if (row.repaired) {
      EXPECT_TRUE(installedGame == ReadFile(module)) << "repaired from the installation";
    } else if (!moduleBefore.empty()) {
      EXPECT_TRUE(moduleBefore == ReadFile(module)) << "left as it was";
      EXPECT_FALSE(Exists(Join(DataFolder(), "install-only.txt"))) << "nothing of the older installation copied";
    }
    EXPECT_EQ(std::vector<std::string>{"secret.txt"}, ListFolder(otherFolder)) << "another company's folder";
    EXPECT_FALSE(EveryoneHasFullAccess(Join(otherFolder, "secret.txt"))) << "another company's file opened up";
    RemoveTree(otherFolder);
    if (HasFailure()) return;
  }
}

}  // namespace

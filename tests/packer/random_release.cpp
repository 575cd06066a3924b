#include "tests/packer/random_release.h"

#include <cstdlib>
#include <random>

#include "packer/names.h"
#include "packer/staged_file.h"
#include "tests/packer/packer_support.h"

namespace packer_testing {


namespace {

// Alternatives within a group differ only in letter case: at most one of a
// group is in a folder. No two members of the pool can clash once packed.
const std::vector<std::vector<std::string>> kNamePool = {
    {"a"},         {"a.zip"},        {"b.zip.zip"},         {"c.zip", "C.ZIP", "c.Zip"}, {"c"},
    {"readme.txt", "README.TXT"},    {"level.dat"},         {"level.dat.zip.zip"},       {"name with spaces.txt"},
    {".hidden"},   {".zip"},         {"empty.bin"},         {"levels", "Levels"},        {"sub.zip"},
    {"deep"},      {"data.pak"}};

class Generator {
 public:
  explicit Generator(unsigned seed) : random_(seed) {}

  unsigned Below(unsigned bound) { return static_cast<unsigned>(random_() % bound); }
  bool Chance(unsigned percent) { return Below(100) < percent; }

  std::string Content() {
    const unsigned seed = static_cast<unsigned>(random_());
    switch (Below(7)) {
      case 0: return std::string();
      case 1: return "text " + std::to_string(seed) + "\n";
      case 2: return Compressible(1 + Below(20000), seed);
      case 3: return Incompressible(1 + Below(4000), seed);
      case 4: return packer::GzipBytes(Compressible(1 + Below(3000), seed));
      case 5: return ZipArchiveBytes(seed);
      default: return Compressible(1 + Below(300), seed);
    }
  }

  // A name of the pool that no entry of `folder` has in any letter case.
  std::string FreeName(const Tree& tree, const std::string& folder) {
    for (int attempt = 0; attempt < 20; ++attempt) {
      const auto& group = kNamePool[Below(static_cast<unsigned>(kNamePool.size()))];
      bool taken = false;
      for (const std::string& name : group) taken = taken || tree.count(Join(folder, name)) != 0;
      if (!taken) return group[Below(static_cast<unsigned>(group.size()))];
    }
    return std::string();
  }

  // Adds `count` random files and folders below `folder`.
  void Fill(Tree& tree, const std::string& folder, int depth, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
      const std::string name = FreeName(tree, folder);
      if (name.empty()) return;
      const std::string path = Join(folder, name);
      if (depth < 3 && Chance(25)) {
        AddFolder(tree, path);
        Fill(tree, path, depth + 1, Below(4));
      } else {
        AddFile(tree, path, Content());
      }
    }
  }

  std::vector<std::string> Folders(const Tree& tree) {
    std::vector<std::string> folders = {std::string()};
    for (const auto& entry : tree) {
      if (IsFolderEntry(entry.second)) folders.push_back(entry.first);
    }
    return folders;
  }

  static std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "\\" + name;
  }

 private:
  std::mt19937 random_;
};

bool IsEssential(const std::string& path) {
  return path == "game.dll" || path == "game.xml" || path == "properties" || path == "properties\\version.xml";
}

}  // namespace

ReleasePair RandomReleasePair(unsigned seed, const RandomReleaseOptions& options) {
  Generator generator(seed);
  ReleasePair pair;
  const int minor = static_cast<int>(generator.Below(50));
  pair.previous = MinimalRelease(minor, options.previousGameDll);
  AddFile(pair.previous, "game.xml", options.gameXml);
  generator.Fill(pair.previous, std::string(), 0, 3 + generator.Below(8));

  pair.next = pair.previous;
  AddFile(pair.next, "game.dll", options.nextGameDll);
  AddFile(pair.next, "properties\\version.xml", VersionXml(1, minor + 1 + static_cast<int>(generator.Below(3))));
  for (auto& entry : pair.next) {
    if (!IsFolderEntry(entry.second) && !IsEssential(entry.first) && generator.Chance(40)) {
      entry.second = generator.Content();
    }
  }
  const std::vector<std::string> folders = generator.Folders(pair.next);
  for (unsigned i = generator.Below(4); i > 0; --i) {
    generator.Fill(pair.next, folders[generator.Below(static_cast<unsigned>(folders.size()))], 1, 1);
  }
  if (options.deleteFiles) {
    std::vector<std::string> candidates;
    for (const auto& entry : pair.next) {
      if (!IsFolderEntry(entry.second) && !IsEssential(entry.first) && pair.previous.count(entry.first)) {
        candidates.push_back(entry.first);
      }
    }
    for (unsigned i = 1 + generator.Below(2); i > 0 && !candidates.empty(); --i) {
      const unsigned pick = generator.Below(static_cast<unsigned>(candidates.size()));
      pair.next.erase(candidates[pick]);
      pair.deleted.push_back(candidates[pick]);
      candidates.erase(candidates.begin() + pick);
    }
  }
  return pair;
}

namespace {

// Each group a hostile kind; a pair picks from a few of them. Names the
// Windows build machine cannot create at all (":", "*", ...) have their own
// table in the packer's tests.
const std::vector<std::vector<std::string>> kHostileNames = {
    {"a b.txt", " lead.txt", "trail .dat", "two  spaces"},
    {".hidden", "a..b", "..two", "dot.", "...", "x.zip "},
    {"CON", "nul.txt", "nul .txt", "Aux.dat", "COM1", "lpt9.log"},
    {"Readme.txt", "README.TXT", "readme.txt"},
    {"caf\xC3\xA9.txt", "CAF\xC3\x89.txt", "\xE6\x97\xA5\xE6\x9C\xAC.txt", "M\xC3\x9ASICA",
     "m\xC3\xBAsica", "a\xEF\xBC\xBC" "b.txt", "\xEF\xBD\x83\xEF\xBD\x8F\xEF\xBD\x8E.txt",
     "\xCE\xB1\xCE\xB2.dat", "\xD0\xB4\xD0\xB0.dat", "\xF0\x9F\x8E\xAE.dat"},
    // 134 characters: at the limit below the assumed install folder, over it in a folder
    {std::string(100, 'l') + ".dat", std::string(130, 'm') + ".dat", std::string(256, 'n')},
    {"x.zip", "x.zip.zip", "y.ZIP", ".zip", "z.Zip", "w.unpacking~launcher"},
    {"~upd", "~upd.journal", "~UPD.journal.tmp"},
};

}  // namespace

ReleasePair HostileReleasePair(unsigned seed, const RandomReleaseOptions& options) {
  std::mt19937 random(seed);
  const auto below = [&](std::size_t bound) { return static_cast<std::size_t>(random() % bound); };
  ReleasePair pair;
  pair.previous = MinimalRelease(0, options.previousGameDll);
  AddFile(pair.previous, "game.xml", options.gameXml);
  AddFile(pair.previous, "levels\\level1.dat", Compressible(2000, seed));
  pair.next = pair.previous;
  AddFile(pair.next, "game.dll", options.nextGameDll);
  AddFile(pair.next, "properties\\version.xml", VersionXml(1, 1));
  AddFile(pair.next, "levels\\level1.dat", Compressible(2000, seed + 1));
  for (std::size_t count = 1 + below(3); count > 0; --count) {
    const auto& group = kHostileNames[below(kHostileNames.size())];
    const std::string name = group[below(group.size())];
    const std::string folder = below(3) == 0 ? "levels\\" : "";
    const std::string path = folder + name;
    if (below(4) == 0 && name.size() < 100) {
      AddFile(pair.next, path + "\\inner.txt", "inside " + name);
    } else {
      AddFile(pair.next, path, below(2) ? Compressible(3000, seed + static_cast<unsigned>(count)) : "small");
    }
  }
  return pair;
}

std::vector<unsigned> PropertySeeds(unsigned cases) {
  const char* seedText = std::getenv("PACKER_PROPERTY_SEED");
  const char* casesText = std::getenv("PACKER_PROPERTY_CASES");
  const unsigned first = seedText ? static_cast<unsigned>(std::strtoul(seedText, nullptr, 10)) : 1u;
  const unsigned count = casesText ? static_cast<unsigned>(std::strtoul(casesText, nullptr, 10)) : cases;
  std::vector<unsigned> seeds;
  for (unsigned i = 0; i < count; ++i) seeds.push_back(first + i);
  return seeds;
}

}  // namespace packer_testing

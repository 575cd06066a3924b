// The update planner both the launcher and the packer's dry run take their
// plans from: a table over what one staged entry meets in the data folder
// and over paths, then random listings against what any plan must keep.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "rungame_plan.h"

namespace {

struct Planned {
  int problem = RUNGAME_PLAN_OK;
  std::size_t refused = 0;
  std::vector<RunGamePlanStep> steps;
};

Planned PlanOf(const std::vector<RunGameStagedItem>& items, std::size_t dataFolderLength) {
  Planned planned;
  planned.steps.resize(items.size());
  std::size_t count = 99;
  planned.problem = rungame_plan_update(items.data(), items.size(), dataFolderLength, planned.steps.data(), &count,
                                        &planned.refused);
  planned.steps.resize(planned.problem == RUNGAME_PLAN_OK ? count : 0);
  return planned;
}

// What one staged entry becomes, by what the data folder holds at its path;
// kind 0: merged into the folder there, no step.
struct FactRow {
  int held;
  bool isFolder;
  int problem;
  int kind;
};

const FactRow kFacts[] = {
    {RUNGAME_HELD_NOTHING, false, RUNGAME_PLAN_OK, RUNGAME_ADD_FILE},
    {RUNGAME_HELD_NOTHING, true, RUNGAME_PLAN_OK, RUNGAME_ADD_FOLDER},
    {RUNGAME_HELD_FOLDER, false, RUNGAME_PLAN_IN_THE_WAY, 0},
    {RUNGAME_HELD_FOLDER, true, RUNGAME_PLAN_OK, 0},
    {RUNGAME_HELD_PLAIN_FILE, false, RUNGAME_PLAN_OK, RUNGAME_REPLACE_EXISTING},
    {RUNGAME_HELD_PLAIN_FILE, true, RUNGAME_PLAN_IN_THE_WAY, 0},
    {RUNGAME_HELD_OTHER, false, RUNGAME_PLAN_IN_THE_WAY, 0},
    {RUNGAME_HELD_OTHER, true, RUNGAME_PLAN_IN_THE_WAY, 0},
};

}  // namespace

TEST(UpdatePlan, EachFactForFileAndFolderMarkerOrNot) {
  for (const FactRow& row : kFacts) {
    for (const bool marker : {false, true}) {
      SCOPED_TRACE("held " + std::to_string(row.held) + (row.isFolder ? " folder" : " file") +
                   (marker ? " marker" : ""));
      // A file listed after it shows whether the entry moves last.
      const Planned planned = PlanOf({{"x", row.isFolder, marker, row.held}, {"y.txt", 0, 0, RUNGAME_HELD_NOTHING}}, 20);
      ASSERT_EQ(row.problem, planned.problem);
      if (row.problem != RUNGAME_PLAN_OK) {
        EXPECT_EQ(0u, planned.refused);
        continue;
      }
      std::vector<std::pair<std::size_t, int>> expected = {{1, RUNGAME_ADD_FILE}};
      if (row.kind != 0) expected.insert(marker ? expected.end() : expected.begin(), {0, row.kind});
      std::vector<std::pair<std::size_t, int>> actual;
      for (const RunGamePlanStep& step : planned.steps) actual.push_back({step.item, step.kind});
      EXPECT_EQ(expected, actual);
    }
  }
}

TEST(UpdatePlan, PathsAndTheirLengths) {
  // 100 + "\~upd\" + 154 = 260 bytes: no room left for the terminator.
  const std::string fits(153, 'f');
  const std::string over(154, 'f');
  struct Row {
    std::string path;
    bool isFolder;
    std::size_t dataFolderLength;
    int problem;
  } const rows[] = {
      {"a.txt", false, 100, RUNGAME_PLAN_OK},
      {"levels\\a b.dat", false, 100, RUNGAME_PLAN_OK},
      {"sub\\game", true, 100, RUNGAME_PLAN_OK},  // the launcher's names count at the top only
      {"game", true, 100, RUNGAME_PLAN_BAD_PATH},
      {"GAME\\x.txt", false, 100, RUNGAME_PLAN_BAD_PATH},
      {"~upd.journal", false, 100, RUNGAME_PLAN_BAD_PATH},
      {"~UPD", true, 100, RUNGAME_PLAN_BAD_PATH},
      {"", false, 100, RUNGAME_PLAN_BAD_PATH},
      {"a\\\\b", false, 100, RUNGAME_PLAN_BAD_PATH},
      {"a\\..\\b", false, 100, RUNGAME_PLAN_BAD_PATH},
      {"con.txt", false, 100, RUNGAME_PLAN_BAD_PATH},
      {"dot.", false, 100, RUNGAME_PLAN_BAD_PATH},
      {"c:x", false, 100, RUNGAME_PLAN_BAD_PATH},
      {std::string(256, 'n'), false, 0, RUNGAME_PLAN_BAD_PATH},
      {fits, false, 100, RUNGAME_PLAN_OK},
      {over, false, 100, RUNGAME_PLAN_TOO_LONG},
      {fits, false, 101, RUNGAME_PLAN_TOO_LONG},
      // A new folder: 100 + "\" + 147 = 248 bytes, the longest CreateDirectoryA makes is 247.
      {std::string(146, 'd'), true, 100, RUNGAME_PLAN_OK},
      {std::string(147, 'd'), true, 100, RUNGAME_PLAN_FOLDER_TOO_LONG},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path.substr(0, 40) + " below " + std::to_string(row.dataFolderLength));
    const Planned planned =
        PlanOf({{"first.txt", 0, 0, RUNGAME_HELD_NOTHING}, {row.path.c_str(), row.isFolder, 0, RUNGAME_HELD_NOTHING}},
               row.dataFolderLength);
    EXPECT_EQ(row.problem, planned.problem);
    if (row.problem != RUNGAME_PLAN_OK) {
      EXPECT_EQ(1u, planned.refused);
    }
    EXPECT_EQ(row.problem == RUNGAME_PLAN_OK,
              rungame_is_plannable_path(row.path.c_str(), row.dataFolderLength, 4) &&
                  (!row.isFolder || row.dataFolderLength + 1 + row.path.size() < RUNGAME_MAX_FOLDER_PATH));
  }
}

TEST(UpdatePlan, NothingToMoveIsNoPlan) {
  EXPECT_EQ(RUNGAME_PLAN_NOTHING, PlanOf({}, 10).problem);
  EXPECT_EQ(RUNGAME_PLAN_NOTHING, PlanOf({{"levels", 1, 0, RUNGAME_HELD_FOLDER}}, 10).problem);
  const Planned merged = PlanOf({{"levels", 1, 0, RUNGAME_HELD_FOLDER}, {"levels\\a", 0, 0, RUNGAME_HELD_NOTHING}}, 10);
  ASSERT_EQ(RUNGAME_PLAN_OK, merged.problem);
  ASSERT_EQ(1u, merged.steps.size());
  EXPECT_EQ(1u, merged.steps[0].item);
}

namespace {

// A random listing, parents before what they hold, some names bad anywhere
// or at the top only, some long; random facts and a random data folder depth.
struct Listing {
  std::vector<std::string> paths;
  std::vector<RunGameStagedItem> items;
  std::vector<bool> badName;
  std::size_t dataFolderLength = 0;
};

Listing RandomListing(std::mt19937& random) {
  static const char* const kNames[] = {"a", "B.txt", "levels", "x.dat", "sub dir", "game", "con", "end.", "~upd"};
  const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  Listing listing;
  listing.dataFolderLength = 150 + pick(100);
  const std::size_t count = pick(12);
  std::vector<std::size_t> folders;  // indices of folder items
  std::set<std::string> used;
  for (std::size_t i = 0; i < count; ++i) {
    const bool under = !folders.empty() && pick(2) == 0;
    const std::size_t parent = under ? folders[pick(folders.size())] : 0;
    std::string name = kNames[pick(sizeof kNames / sizeof kNames[0])];
    if (pick(6) == 0) name = std::string(20 + pick(60), 'l');
    if (pick(3) != 0) name += std::to_string(i);  // "game7" is a plain name
    const std::string path = under ? listing.paths[parent] + "\\" + name : name;
    if (!used.insert(path).second) continue;
    const bool bad = name == "con" || name == "end." || (!under && (name == "game" || name == "~upd"));
    listing.badName.push_back(bad || (under && listing.badName[parent]));
    const bool isFolder = pick(2) == 0;
    if (isFolder) folders.push_back(listing.paths.size());
    listing.paths.push_back(path);
    listing.items.push_back({nullptr, isFolder, 0, static_cast<int>(pick(4))});
  }
  for (std::size_t i = 0; i < listing.items.size(); ++i) listing.items[i].path = listing.paths[i].c_str();
  // The marker, when there is one: a file at the top.
  for (RunGameStagedItem& item : listing.items) {
    if (!item.isFolder && std::string(item.path).find('\\') == std::string::npos && pick(2) == 0) {
      item.isMarker = 1;
      break;
    }
  }
  return listing;
}

// Whether the item can take its place, by the rules as they are written down.
bool CanTakeItsPlace(const Listing& listing, std::size_t i) {
  const RunGameStagedItem& item = listing.items[i];
  const std::size_t length = listing.paths[i].size();
  if (listing.badName[i] || listing.dataFolderLength + length + 6 >= 260) return false;
  if (item.isFolder) {
    return item.held == RUNGAME_HELD_FOLDER ||
           (item.held == RUNGAME_HELD_NOTHING && listing.dataFolderLength + 1 + length < 248);
  }
  return item.held == RUNGAME_HELD_NOTHING || item.held == RUNGAME_HELD_PLAIN_FILE;
}

}  // namespace

TEST(UpdatePlan, RandomListingsKeepThePlansPromises) {
  std::mt19937 random(20261209);
  for (int round = 0; round < 3000; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const Listing listing = RandomListing(random);
    const Planned planned = PlanOf(listing.items, listing.dataFolderLength);
    std::size_t firstRefused = listing.items.size();
    for (std::size_t i = listing.items.size(); i-- > 0;) {
      if (!CanTakeItsPlace(listing, i)) firstRefused = i;
    }
    if (firstRefused < listing.items.size()) {
      ASSERT_NE(RUNGAME_PLAN_OK, planned.problem);
      ASSERT_NE(RUNGAME_PLAN_NOTHING, planned.problem);
      ASSERT_EQ(firstRefused, planned.refused);
      continue;
    }
    if (planned.problem == RUNGAME_PLAN_NOTHING) {
      for (const RunGameStagedItem& item : listing.items) ASSERT_TRUE(item.isFolder && item.held == RUNGAME_HELD_FOLDER);
      continue;
    }
    ASSERT_EQ(RUNGAME_PLAN_OK, planned.problem);
    // Each item once, but for folders merged into; in the order listed, the
    // marker last; a replacement only of what may be replaced.
    std::vector<int> seen(listing.items.size(), 0);
    std::size_t previous = 0;
    for (std::size_t s = 0; s < planned.steps.size(); ++s) {
      const RunGamePlanStep& step = planned.steps[s];
      const RunGameStagedItem& item = listing.items.at(step.item);
      ++seen[step.item];
      if (item.isMarker) {
        ASSERT_EQ(planned.steps.size() - 1, s);
      } else {
        ASSERT_TRUE(s == 0 || step.item > previous);
        previous = step.item;
      }
      const int expected = item.isFolder ? RUNGAME_ADD_FOLDER
                           : item.held == RUNGAME_HELD_PLAIN_FILE ? RUNGAME_REPLACE_EXISTING
                                                                  : RUNGAME_ADD_FILE;
      ASSERT_EQ(expected, step.kind);
    }
    for (std::size_t i = 0; i < listing.items.size(); ++i) {
      const bool merged = listing.items[i].isFolder && listing.items[i].held == RUNGAME_HELD_FOLDER;
      ASSERT_EQ(merged ? 0 : 1, seen[i]) << listing.paths[i];
    }
  }
}

TEST(UpdatePlan, WhatAStagedFileUnpacksTo) {
  const std::pair<const char*, const char*> rows[] = {
      {"a.zip", "a"},
      {"levels\\x.dat.zip", "levels\\x.dat"},
      {"x.zip.zip", "x.zip"},
      {"x.ZIP", nullptr},
      {".zip", nullptr},
      {"dir.zip\\x", nullptr},
      {"a.unpacking~launcher.zip", nullptr},  // its output would be taken for a leftover
      {"a.COPYING~LAUNCHER.zip", nullptr},
  };
  for (const auto& row : rows) {
    const std::size_t length = rungame_unpacked_length(row.first);
    EXPECT_EQ(row.second ? std::string(row.second) : std::string(), std::string(row.first, length)) << row.first;
  }
}

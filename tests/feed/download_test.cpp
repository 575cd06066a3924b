// The game-side download from a feed that a real nginx serves on the
// loopback address, with the faults a server and a network make. The
// server (feed-server.sh) serves T:\feed-server\www; each test publishes
// its own feed below it and downloads into a data folder of its own.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "include/rungame_download.h"
#include "include/rungame_signed.h"
#include "packer/feed_prune.h"
#include "packer/files.h"
#include "packer/keys.h"
#include "packer/publish.h"
#include "packer/record.h"
#include "packer/sha256.h"
#include "tests/feed/feed_support.h"
#include "tests/packer/packer_support.h"
#include "tests/support/harness.h"
#include "tests/support/wine_host.h"

namespace {

using feed_testing::GameBytes;
using feed_testing::Release;
using packer_testing::Tree;

const char kRoot[] = "T:\\feed-server";

// The server's base URL: plain HTTP, or one of its HTTPS servers
// ("url-https", "url-https-wrong-name", "url-https-untrusted").
std::string ServerUrl(const std::string& which = "url") {
  std::ifstream file(std::string(kRoot) + "\\" + which);
  std::string url;
  std::getline(file, url);
  return url;
}

// The server's test authority trusted by this account, as a studio's host
// is by every player's machine, for as long as it lives. The store is
// closed at once: only then is what was added written where a chain looks.
class TestAuthorityTrusted {
 public:
  TestAuthorityTrusted()
      : authority_(packer::ReadHostFile(std::string(kRoot) + "\\tls\\authority.der", 1 << 16).value_or("")) {
    EXPECT_TRUE(Change([this](HCERTSTORE store) {
      return CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, Bytes(), Size(), CERT_STORE_ADD_REPLACE_EXISTING,
                                              nullptr) != 0;
    }));
  }
  ~TestAuthorityTrusted() {
    (void)Change([this](HCERTSTORE store) {
      const PCCERT_CONTEXT wanted = CertCreateCertificateContext(X509_ASN_ENCODING, Bytes(), Size());
      const PCCERT_CONTEXT found =
          wanted ? CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr) : nullptr;
      if (wanted) CertFreeCertificateContext(wanted);
      return found != nullptr && CertDeleteCertificateFromStore(found) != 0;  // frees `found`
    });
  }
  TestAuthorityTrusted(const TestAuthorityTrusted&) = delete;
  TestAuthorityTrusted& operator=(const TestAuthorityTrusted&) = delete;

 private:
  const BYTE* Bytes() const { return reinterpret_cast<const BYTE*>(authority_.data()); }
  DWORD Size() const { return static_cast<DWORD>(authority_.size()); }
  template <typename Act>
  static bool Change(const Act& act) {
    const HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "Root");
    if (store == nullptr) return false;
    const bool changed = act(store);
    CertCloseStore(store, 0);
    return changed;
  }
  std::string authority_;
};

std::string AccessLog() {
  std::ifstream file(std::string(kRoot) + "\\access.log", std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// A 1 MB level, and the same with 1 % of it changed in three places; a new
// level that does not compress, so that a slow server takes its time; a
// file and its folder that the new release removes.
const std::string kLevel = GameBytes(1024 * 1024, 7);
std::string Changed(std::string bytes) {
  for (std::size_t at : {100000u, 500000u, 900000u}) {
    for (std::size_t i = 0; i < 3500; ++i) bytes[at + i] = static_cast<char>(bytes[at + i] ^ 0x5a);
  }
  return bytes;
}
const Tree kOld = Release(0, {{"levels\\level1.dat", kLevel}, {"readme.txt", "one"}, {"retired\\old.txt", "old"}});
const Tree kNew = Release(1, {{"levels\\level1.dat", Changed(kLevel)},
                              {"readme.txt", "one"},
                              {"levels\\level2.dat", packer_testing::Incompressible(600 * 1024, 8)}});

// One test's feed, served below the web root, and its data folder at the
// old release.
struct Player {
  explicit Player(const std::string& suffix = "") : name(TestName() + suffix) { Start(); }
  static std::string TestName() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }

  std::string name;
  std::string www = std::string(kRoot) + "\\www\\" + name;
  std::string folder = std::string(kRoot) + "\\players\\" + name;
  std::string data = folder + "\\data";
  packer::KeyPair key = feed_testing::TestKey(1);
  std::string publicKey = packer::PublicKeyHex(key.publicKey);
  int published = 0;

  void Start() {
    EXPECT_FALSE(ServerUrl().empty()) << "no server: run through CTest, which starts it";
    // An earlier run's planted unix link is removed as a link from the unix
    // side: under Wine deleting it would delete what it points to.
    const std::string unixFolder = wine_host::UnixPathOf(folder);
    if (!unixFolder.empty()) wine_host::RunUnixShell("rm -rf '" + unixFolder + "'", folder + "-shell");
    EXPECT_TRUE(packer::RemoveHostTree(www) && packer::RemoveHostTree(folder));
    EXPECT_TRUE(packer::MakeHostFolder(std::string(kRoot) + "\\players") && packer::MakeHostFolder(folder));
    packer_testing::WriteTree(data, kOld);
  }
  // With `recorded`, the release carries its signed record, which the data
  // folder gets too, as the first-start copy brings it. The record's bytes.
  std::string Publish(const Tree& release, const packer::KeyPair& by, bool recorded = false) {
    const std::string source = folder + "\\release" + std::to_string(published++);
    packer_testing::WriteTree(source, release);
    std::string record, summary, error;
    if (recorded) {
      EXPECT_TRUE(packer::WriteReleaseRecord(source, by, summary, error)) << error;
      record = packer::ReadHostFile(source + "\\" RUNGAME_RECORD_PATH, 1 << 20).value_or("");
      packer_testing::AddFile(kept, RUNGAME_RECORD_PATH, record);
    }
    PublishSource(source, by);
    return record;
  }
  void PublishSource(const std::string& source, const packer::KeyPair& by) {
    packer::PublishSummary summary;
    std::string error;
    ASSERT_TRUE(packer::Publish(source, www, "stable", by, summary, error)) << error;
  }
  std::string Url(const std::string& prefix = "", const std::string& server = "url") const {
    return ServerUrl(server) + "/" + prefix + name;
  }
  int Download(const std::string& prefix, RunGameFeedUpdate& update, RunGameFeedProgress progress = nullptr,
               void* context = nullptr, const std::string& server = "url") {
    return RunGameDownloadUpdate(Url(prefix, server).c_str(), nullptr, data.c_str(), publicKey.c_str(), "update.ready",
                                 progress, context, nullptr, &update);
  }
  // The data folder without the download's own folder.
  Tree kept;  // what the player's data folder keeps besides the release
  Tree Data() const {
    Tree tree = packer_testing::ReadTree(data);
    for (auto it = tree.begin(); it != tree.end();) {
      it = it->first.rfind(RUNGAME_DOWNLOAD_FOLDER, 0) == 0 ? tree.erase(it) : std::next(it);
    }
    return tree;
  }
  // What a download of kNew onto kOld stages: the changed files, and the
  // marker (the step's signed manifest, checked on its own).
  Tree Staged() const {
    Tree tree = kOld;
    const auto marker = packer::ReadHostFile(data + "\\game\\update.ready", 1 << 20);
    packer_testing::AddFile(tree, "game\\update.ready", marker.value_or("(missing)"));
    for (const char* path : {"levels\\level1.dat", "levels\\level2.dat", "properties\\version.xml"}) {
      packer_testing::AddFile(tree, std::string("game\\") + path, kNew.at(path));
    }
    return tree;
  }
};

TEST(FeedDownload, OnlyTheChangedChunksTravelAndTheUpdateIsStaged) {
  Player player;
  player.Publish(kOld, player.key);
  player.Publish(kNew, player.key);
  RunGameFeedUpdate update;
  ASSERT_EQ(RUNGAME_FEED_OK, RunGameCheckForUpdate(player.Url().c_str(), "stable", player.data.c_str(),
                                                   player.publicKey.c_str(), &update))
      << update.reason;
  EXPECT_STREQ("1.1", update.version);
  // Three changed places of the level, the new level, the version file.
  EXPECT_LT(update.downloadBytes, (600u + 500) * 1024) << update.chunkCount;
  EXPECT_GT(update.downloadBytes, 600u * 1024);
  EXPECT_EQ("", packer_testing::TreeDifference(player.Data(), kOld)) << "a check changes nothing";

  std::pair<unsigned long long, unsigned long long> seen{0, 0};  // done, total as last told
  const auto progress = [](void* context, unsigned long long done, unsigned long long total) {
    auto* seen = static_cast<std::pair<unsigned long long, unsigned long long>*>(context);
    EXPECT_LE(done, total);
    EXPECT_GE(done, seen->first);
    *seen = {done, total};
    return 1;
  };
  ASSERT_EQ(RUNGAME_FEED_OK, player.Download("", update, progress, &seen)) << update.reason;
  EXPECT_EQ("", packer_testing::TreeDifference(player.Data(), player.Staged()));
  // The marker is the step's signed manifest: a launcher built with the key
  // installs it.
  EXPECT_EQ(RUNGAME_SIGNED_OK, RunGameCheckSignedUpdate((player.data + "\\game").c_str(), player.data.c_str(),
                                                        "update.ready", player.publicKey.c_str()));
  const std::string marker = player.Staged().at("game\\update.ready");
  EXPECT_NE(std::string::npos, marker.find("\nremove 3 " + packer::Sha256Hex("old") + " retired\\old.txt\n"
                                           "remove-folder retired\n")) << marker;
  EXPECT_EQ(std::make_pair(update.downloadBytes, update.downloadBytes), seen);
  EXPECT_EQ(packer::EntryKind::Missing, packer::KindOf(player.data + "\\" RUNGAME_DOWNLOAD_FOLDER));
  // The new chunks lie side by side in the new version's pack: a few
  // ranged requests, none a chunk.
  const std::string log = AccessLog();
  EXPECT_NE(std::string::npos, log.find("206 \"GET /" + player.name + "/packs/1.1.pack"));
  EXPECT_EQ(std::string::npos, log.find("\"GET /" + player.name + "/chunks/"));
}

// Every fault leaves the data folder as it was, with a reason; what can
// pass, passes on the next call. Over HTTPS only a certificate that
// verifies passes: there is no option to skip the check.
TEST(FeedDownload, FaultsOfTheServerLeaveTheDataFolderAlone) {
  const struct {
    const char* prefix;
    int result;
    const char* reason;
    const char* server;
  } faults[] = {
      {"status/404/", RUNGAME_FEED_UNREACHABLE, "404", "url"},
      {"status/500/", RUNGAME_FEED_UNREACHABLE, "500", "url"},
      {"status/503/", RUNGAME_FEED_UNREACHABLE, "503", "url"},
      {"loop/", RUNGAME_FEED_UNREACHABLE, "redirect", "url"},
      {"shortlength/", RUNGAME_FEED_REFUSED, "does not match", "url"},
      {"wrongbytes/", RUNGAME_FEED_REFUSED, "does not match", "url"},
      {"cut/", RUNGAME_FEED_UNREACHABLE, "cut", "url"},
      {"", RUNGAME_FEED_UNREACHABLE, "certificate does not verify", "url-https-untrusted"},
      {"", RUNGAME_FEED_UNREACHABLE, "certificate does not verify", "url-https-wrong-name"},
      {"redirect/", RUNGAME_FEED_OK, "", "url"},
      {"", RUNGAME_FEED_OK, "", "url-https"},
  };
  const TestAuthorityTrusted trusted;
  Player player;
  player.Publish(kOld, player.key);
  player.Publish(kNew, player.key);
  for (const auto& fault : faults) {
    RunGameFeedUpdate update;
    EXPECT_EQ(fault.result, player.Download(fault.prefix, update, nullptr, nullptr, fault.server))
        << fault.prefix << fault.server << ": " << update.reason;
    EXPECT_NE(std::string::npos, std::string(update.reason).find(fault.reason)) << fault.prefix << ": " << update.reason;
    if (fault.result != RUNGAME_FEED_OK) {
      EXPECT_EQ("", packer_testing::TreeDifference(player.Data(), kOld)) << fault.prefix;
    }
  }
  EXPECT_EQ("", packer_testing::TreeDifference(player.Data(), player.Staged()));
  // The cut chunks were resumed by range, not fetched again whole.
  EXPECT_NE(std::string::npos, AccessLog().find("206 \"GET /" + player.name + "/chunks/"));
}

// A data file that changes or goes while the update downloads: nothing is
// staged, and the reason names the file and what befell it, not the file
// made from it.
TEST(FeedDownload, ADataFileChangedOrGoneDuringTheDownloadIsNamed) {
  const struct {
    const char* name;
    bool removed;
    const char* reason;
  } rows[] = {{"changed", false, "levels\\level1.dat changed"},
              {"gone", true, "levels\\level1.dat went missing"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Player player(row.name);
    Tree next = kNew;
    packer_testing::AddFile(next, "levels\\copy.dat", kLevel);  // its chunks come from the old level1.dat
    player.Publish(kOld, player.key);
    player.Publish(next, player.key);
    struct Change {
      std::string path;
      std::string bytes;
      bool removed;
      bool made = false;
    } change{player.data + "\\levels\\level1.dat", GameBytes(1024 * 1024, 9), row.removed};
    const auto changeOnce = [](void* context, unsigned long long done, unsigned long long total) {
      Change& change = *static_cast<Change*>(context);
      if (done > 0 && done < total && !change.made) {
        if (change.removed) {
          DeleteFileA(change.path.c_str());
        } else {
          std::ofstream(change.path, std::ios::binary | std::ios::trunc) << change.bytes;
        }
        change.made = true;
      }
      return 1;
    };
    RunGameFeedUpdate update;
    // Slowly: the file changes while chunks still arrive, before it is read.
    EXPECT_EQ(RUNGAME_FEED_REFUSED, player.Download("slow/", update, changeOnce, &change)) << update.reason;
    ASSERT_TRUE(change.made);
    EXPECT_NE(std::string::npos, std::string(update.reason).find(row.reason)) << update.reason;
    Tree changed = kOld;
    if (row.removed) {
      changed.erase("levels\\level1.dat");
    } else {
      changed["levels\\level1.dat"] = change.bytes;
    }
    EXPECT_EQ("", packer_testing::TreeDifference(player.Data(), changed));
  }
}

// A data folder damaged after its version was installed is put back from
// the feed: exactly the files that differ are staged, made of the chunks the
// data folder lacks, under the version's signed record, which the launcher's
// rules pass as a repair; an intact folder needs none; a version without a
// record, or one the channel does not list, is refused with the reason.
TEST(FeedDownload, ARepairBringsBackExactlyTheDamagedFilesOfTheSameVersion) {
  const struct {
    const char* name;
    std::vector<std::string> damaged;  // changed, or removed (the second)
    int result;
  } rows[] = {
      {"intact", {}, RUNGAME_FEED_UP_TO_DATE},
      {"a level changed and a file gone", {"levels\\level1.dat", "readme.txt"}, RUNGAME_FEED_OK},
      {"the record gone", {"", RUNGAME_RECORD_PATH}, RUNGAME_FEED_OK},
  };
  const auto repair = [](const Player& player, RunGameFeedUpdate& update) {
    return RunGameRepairFromFeed(player.Url().c_str(), nullptr, player.data.c_str(), player.publicKey.c_str(),
                                 "update.ready", nullptr, nullptr, nullptr, &update);
  };
  Player player;
  const std::string record = player.Publish(kOld, player.key, true);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(packer::RemoveHostTree(player.data));
    packer_testing::WriteTree(player.data, kOld);
    packer_testing::WriteTree(player.data, player.kept);
    Tree expected = packer_testing::ReadTree(player.data);
    if (row.damaged.size() > 0 && !row.damaged[0].empty()) {
      packer_testing::WriteTree(player.data, {{row.damaged[0], Changed(kOld.at(row.damaged[0]))}});
    }
    if (row.damaged.size() > 1) DeleteFileA((player.data + "\\" + row.damaged[1]).c_str());
    RunGameFeedUpdate update;
    ASSERT_EQ(row.result, repair(player, update)) << update.reason;
    if (row.result != RUNGAME_FEED_OK) {
      EXPECT_EQ(packer::EntryKind::Missing, packer::KindOf(player.data + "\\game"));
      continue;
    }
    EXPECT_LT(update.downloadBytes, 500u * 1024) << "the chunks around the changes travel, not the level";
    // The staged files, each the release's, and the record as the marker.
    for (const std::string& path : row.damaged) {
      if (path.empty()) continue;
      EXPECT_EQ(expected.at(path), packer::ReadHostFile(player.data + "\\game\\" + path, 4 << 20).value_or(""));
    }
    EXPECT_EQ(record, packer::ReadHostFile(player.data + "\\game\\update.ready", 1 << 20).value_or(""));
    EXPECT_EQ(RUNGAME_SIGNED_OK, RunGameCheckSignedUpdate((player.data + "\\game").c_str(), player.data.c_str(),
                                                          "update.ready", player.publicKey.c_str()));
    // Other bytes under the record are no repair.
    packer_testing::WriteTree(player.data + "\\game", {{"readme.txt", "not the studio's"}});
    EXPECT_EQ(RUNGAME_SIGNED_FILES_DIFFER, RunGameCheckSignedUpdate((player.data + "\\game").c_str(),
                                                                    player.data.c_str(), "update.ready",
                                                                    player.publicKey.c_str()));
  }

  Player unrecorded("-unrecorded");
  unrecorded.Publish(kOld, unrecorded.key);
  RunGameFeedUpdate update;
  packer_testing::WriteTree(unrecorded.data, {{"readme.txt", "damaged"}});
  EXPECT_EQ(RUNGAME_FEED_REFUSED, repair(unrecorded, update));
  EXPECT_NE(std::string::npos, std::string(update.reason).find("has no signed record")) << update.reason;
  Player moved("-moved");
  moved.Publish(kOld, moved.key, true);
  packer_testing::WriteTree(moved.data, kNew);
  EXPECT_EQ(RUNGAME_FEED_REFUSED, repair(moved, update));
  EXPECT_NE(std::string::npos, std::string(update.reason).find("does not list the data folder's version"))
      << update.reason;
}

TEST(FeedDownload, AFeedNotToBeTrustedIsRefused) {
  Player player;
  const packer::KeyPair other = feed_testing::TestKey(2);
  player.Publish(kOld, other);
  RunGameFeedUpdate update;
  EXPECT_EQ(RUNGAME_FEED_REFUSED, player.Download("", update));
  EXPECT_NE(std::string::npos, std::string(update.reason).find("index is refused")) << update.reason;

  // An old index served again to a player who has moved on.
  Player replayed("-replayed");
  replayed.Publish(kOld, replayed.key);
  packer_testing::WriteTree(replayed.data, kNew);
  EXPECT_EQ(RUNGAME_FEED_REFUSED, replayed.Download("", update));
  EXPECT_NE(std::string::npos, std::string(update.reason).find("older than the installed 1.1")) << update.reason;
  EXPECT_EQ(RUNGAME_FEED_REFUSED, RunGameCheckForUpdate(replayed.Url().c_str(), nullptr, replayed.data.c_str(),
                                                        replayed.publicKey.c_str(), &update));
  EXPECT_EQ("", packer_testing::TreeDifference(player.Data(), kOld));
}

TEST(FeedDownload, ACancelledOrStarvedDownloadResumesWhereItStopped) {
  Player player;
  player.Publish(kOld, player.key);
  player.Publish(kNew, player.key);
  const auto check = [&player] {
    RunGameFeedUpdate update;
    EXPECT_EQ(RUNGAME_FEED_OK, RunGameCheckForUpdate(player.Url().c_str(), nullptr, player.data.c_str(),
                                                     player.publicKey.c_str(), &update));
    return update.chunkCount;
  };
  const unsigned long before = check();
  RunGameFeedUpdate update;
  const auto stopAfterOne = [](void*, unsigned long long done, unsigned long long) { return done == 0 ? 1 : 0; };
  EXPECT_EQ(RUNGAME_FEED_CANCELLED, player.Download("slow/", update, stopAfterOne));
  EXPECT_EQ("", packer_testing::TreeDifference(player.Data(), kOld));
  const unsigned long after = check();
  EXPECT_LT(after, before) << "the chunks fetched before are kept";
  EXPECT_GT(after, 0u) << "cancelled before the end";
  ASSERT_EQ(RUNGAME_FEED_OK, player.Download("", update)) << update.reason;
  EXPECT_EQ("", packer_testing::TreeDifference(player.Data(), player.Staged()));

  // A chunk the feed lacks: the server says 404, nothing is staged.
  Player lacking("-lacking");
  lacking.Publish(kOld, lacking.key);
  lacking.Publish(kNew, lacking.key);
  ASSERT_TRUE(packer::RemoveHostTree(lacking.www + "\\packs"));
  std::vector<packer::HostEntry> fans;
  ASSERT_TRUE(packer::ListHostFolder(lacking.www + "\\chunks", fans));
  for (const auto& fan : fans) {
    std::vector<packer::HostEntry> chunks;
    ASSERT_TRUE(packer::ListHostFolder(lacking.www + "\\chunks\\" + fan.name, chunks));
    for (const auto& chunk : chunks) ASSERT_TRUE(packer::RemoveHostTree(lacking.www + "\\chunks\\" + fan.name + "\\" + chunk.name));
  }
  EXPECT_EQ(RUNGAME_FEED_UNREACHABLE, lacking.Download("", update));
  EXPECT_NE(std::string::npos, std::string(update.reason).find("404")) << update.reason;
  EXPECT_EQ("", packer_testing::TreeDifference(lacking.Data(), kOld));
}

// A cancel is heard within a moment whatever the server does: silent
// before its headers (on a chunk, or on the index itself), silent half-way
// through a body, or dripping a byte at a time. The call returns cancelled
// long before the server or WinHTTP's timeouts would end the request, with
// the data folder as it was, and the next call downloads the update.
struct Canceller {
  volatile long flag = 0;
  LARGE_INTEGER at{};
};

DWORD WINAPI RaiseLater(void* context) {
  auto* canceller = static_cast<Canceller*>(context);
  Sleep(1500);
  QueryPerformanceCounter(&canceller->at);
  InterlockedExchange(&canceller->flag, 1);
  return 0;
}

TEST(FeedDownload, ACancelIsHeardAtOnceWhateverTheServerDoes) {
  const char* const stalls[] = {"stallheaders/", "stallall/", "stallbody/", "drip/"};
  Player player;
  player.Publish(kOld, player.key);
  player.Publish(kNew, player.key);
  for (const char* stall : stalls) {
    SCOPED_TRACE(stall);
    Canceller canceller;
    // The flag is raised from another thread once the call is under way.
    const HANDLE raise = CreateThread(nullptr, 0, RaiseLater, &canceller, 0, nullptr);
    ASSERT_NE(nullptr, raise);
    RunGameFeedUpdate update;
    const int result = RunGameDownloadUpdate(player.Url(stall).c_str(), nullptr, player.data.c_str(),
                                             player.publicKey.c_str(), "update.ready", nullptr, nullptr,
                                             &canceller.flag, &update);
    LARGE_INTEGER returned, frequency;
    QueryPerformanceCounter(&returned);
    QueryPerformanceFrequency(&frequency);
    WaitForSingleObject(raise, INFINITE);
    CloseHandle(raise);
    const double ms = 1000.0 * static_cast<double>(returned.QuadPart - canceller.at.QuadPart) /
                      static_cast<double>(frequency.QuadPart);
    std::printf("cancel on %s heard in %.0f ms\n", stall, ms);
    EXPECT_EQ(RUNGAME_FEED_CANCELLED, result) << update.reason;
    // The server stays silent for a minute and WinHTTP waits 30 s: far
    // below either, the call did not wait for the request to end.
    EXPECT_LT(ms, 10000.0);
    EXPECT_EQ("", packer_testing::TreeDifference(player.Data(), kOld));
  }
  RunGameFeedUpdate update;
  ASSERT_EQ(RUNGAME_FEED_OK, player.Download("", update)) << update.reason;
  EXPECT_EQ("", packer_testing::TreeDifference(player.Data(), player.Staged()));
}

// Bytes nginx sent of `name`'s chunks and packs, by the access log from
// byte `from` on (a request the client broke off counts what it got).
unsigned long long ChunkBytesSent(const std::string& name, std::size_t from) {
  std::istringstream log(AccessLog().substr(from));
  unsigned long long sent = 0;
  for (std::string line; std::getline(log, line);) {
    const std::size_t at = line.find(" sent=");
    if (line.find("/" + name + "/") == std::string::npos || at == std::string::npos ||
        (line.find("/chunks/") == std::string::npos && line.find("/packs/") == std::string::npos)) {
      continue;
    }
    sent += std::strtoull(line.c_str() + at + 6, nullptr, 10);
  }
  return sent;
}

// A game killed while it downloads (the bench program, on the slow server)
// leaves what it fetched whole: the next call fetches the rest, and again
// only the chunks its connections had begun.
TEST(FeedDownload, AKilledDownloadStartsAgainWhereItStopped) {
  Player whole("-whole");
  whole.Publish(kOld, whole.key);
  whole.Publish(kNew, whole.key);
  std::size_t mark = AccessLog().size();
  RunGameFeedUpdate update;
  ASSERT_EQ(RUNGAME_FEED_OK, whole.Download("", update)) << update.reason;
  const unsigned long long once = ChunkBytesSent(whole.name, mark);

  Player player;
  player.Publish(kOld, player.key);
  player.Publish(kNew, player.key);
  mark = AccessLog().size();
  std::string command = "\"" + testing_support::Join(testing_support::TestBinaryFolder(), "download_bench.exe") + "\" feed " + player.Url("slow/") +
                        " \"" + player.data + "\" " + player.publicKey;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  // Killed once its store holds some 300 KiB of the 800 KiB.
  const std::string store = player.data + "\\" RUNGAME_DOWNLOAD_FOLDER;
  unsigned long long kept = 0;
  for (unsigned long waited = 0; kept < 300 * 1024 && waited < 60000 * testing_support::TimeScale(); waited += 50) {
    Sleep(50);
    std::vector<packer::HostEntry> entries;
    (void)packer::ListHostFolder(store, entries);
    for (const auto& entry : entries) kept = entry.name.rfind("chunks", 0) == 0 ? std::max(kept, entry.size) : kept;
  }
  TerminateProcess(process.hProcess, 9);
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  ASSERT_GE(kept, 300u * 1024) << "the killed download kept too little";
  ASSERT_EQ(RUNGAME_FEED_OK, player.Download("", update)) << update.reason;
  EXPECT_EQ("", packer_testing::TreeDifference(player.Data(), player.Staged()));
  const unsigned long long twice = ChunkBytesSent(player.name, mark);
  std::printf("after a kill: %llu bytes of chunks fetched for %llu, %llu again\n", twice, once,
              twice > once ? twice - once : 0);
  // What the killed call kept is not fetched again: only the chunks its
  // connections had begun.
  EXPECT_LT(twice > once ? twice - once : 0, kept / 2);
}

// A studio publishes 1.2 and prunes the feed to it while a player's
// download of 1.1 runs: the download ends with 1.1 staged whole, or with a
// reason to try again and nothing staged, never a mix; the next one brings
// 1.2.
TEST(FeedDownload, APruneDuringADownloadEndsWithAWholeVersionOrATryAgain) {
  // With its pack, 1.1 comes in a request or two, all under way before the
  // prune, which the server finishes; without it (a feed uploaded without
  // its packs), chunk by chunk, and the chunks the prune removed are gone.
  for (const bool packed : {true, false}) {
    SCOPED_TRACE(packed ? "packed" : "chunk by chunk");
    Player player(packed ? "" : "-unpacked");
    player.Publish(kOld, player.key);
    player.Publish(kNew, player.key);
    if (!packed) ASSERT_TRUE(packer::RemoveHostTree(player.www + "\\packs\\1.1.pack"));
    Tree newest = kNew;
    newest["levels\\level2.dat"] = packer_testing::Incompressible(600 * 1024, 9);
    newest["properties\\version.xml"] = Release(2, {}).at("properties\\version.xml");
    struct Studio {
      Player* player;
      const Tree* newest;
      bool pruned = false;
    } studio{&player, &newest};
    const auto pruneOnce = [](void* context, unsigned long long done, unsigned long long) {
      Studio& studio = *static_cast<Studio*>(context);
      if (done > 0 && !studio.pruned) {
        studio.pruned = true;
        studio.player->Publish(*studio.newest, studio.player->key);
        packer::PruneSummary summary;
        std::string error;
        EXPECT_TRUE(packer::PruneFeed(studio.player->www, studio.player->key, 1, summary, error)) << error;
        EXPECT_GT(summary.filesRemoved, 0u);
      }
      return 1;
    };
    RunGameFeedUpdate update;
    const int raced = player.Download("slow/", update, pruneOnce, &studio);
    ASSERT_TRUE(studio.pruned);
    std::printf("the raced download: %s\n", raced == RUNGAME_FEED_OK ? "1.1 staged whole" : update.reason);
    if (raced == RUNGAME_FEED_OK) {
      EXPECT_TRUE(packed) << "chunks the prune removed cannot have come";
      EXPECT_EQ("", packer_testing::TreeDifference(player.Data(), player.Staged())) << "1.1 whole";
    } else {
      EXPECT_EQ("", packer_testing::TreeDifference(player.Data(), kOld)) << update.reason;
      EXPECT_NE(std::string::npos, std::string(update.reason).find("404")) << update.reason;
      ASSERT_EQ(RUNGAME_FEED_OK, player.Download("", update)) << update.reason;
      EXPECT_EQ(newest.at("levels\\level2.dat"), player.Data().at("game\\levels\\level2.dat"));
    }
  }
}

// A pack is only a faster way to the chunks: whatever keeps a run from
// giving them, the chunk store gives them, and nothing else is staged.
TEST(FeedDownload, ChunksAPackDoesNotGiveComeFromTheChunkStore) {
  enum Damage { kNone, kRemoved, kEveryByteChanged };
  const struct {
    const char* suffix;
    const char* prefix;
    Damage pack;
  } rows[] = {
      {"-unpacked", "", kRemoved},         // a feed uploaded without its packs
      {"-spoilt", "", kEveryByteChanged},  // a pack damaged on the server
      {"-norange", "norange/", kNone},     // a server that ignores ranges
  };
  // The player holds the new first level: every run of the pack starts
  // past its first byte, which a server ignoring ranges never gives.
  const std::string newLevel = kNew.at("levels\\level1.dat");
  for (const auto& row : rows) {
    Player player(row.suffix);
    player.Publish(kOld, player.key);
    player.Publish(kNew, player.key);
    const std::string pack = player.www + "\\packs\\1.1.pack";
    std::string bytes = packer::ReadHostFile(pack, 64 << 20).value_or("");
    ASSERT_FALSE(bytes.empty()) << row.suffix;
    for (char& byte : bytes) byte = static_cast<char>(~byte);
    if (row.pack != kNone) {
      ASSERT_TRUE(packer::RemoveHostTree(pack));
    }
    if (row.pack == kEveryByteChanged) {
      packer_testing::WriteTree(player.www + "\\packs", {{"1.1.pack", bytes}});
    }
    packer_testing::WriteTree(player.data, {{"levels\\level1.dat", newLevel}});
    RunGameFeedUpdate update;
    ASSERT_EQ(RUNGAME_FEED_OK, player.Download(row.prefix, update)) << row.suffix << ": " << update.reason;
    Tree staged = player.Staged();
    staged["levels\\level1.dat"] = newLevel;
    EXPECT_EQ("", packer_testing::TreeDifference(player.Data(), staged)) << row.suffix;
    EXPECT_NE(std::string::npos, AccessLog().find("200 \"GET /" + std::string(row.prefix) + player.name + "/chunks/"))
        << row.suffix;
  }
}

// What lies in the download folder is a stranger's until checked: a store
// file that is a link to a file elsewhere is never written through, forged
// records and a forged part are fetched again, a file where a folder goes
// is replaced.
TEST(FeedDownload, AStrangersDownloadFolderIsCheckedNotTrusted) {
  Player player;
  player.Publish(kOld, player.key);
  player.Publish(kNew, player.key);
  const std::string downloads = player.data + "\\" RUNGAME_DOWNLOAD_FOLDER;
  const std::string victim = player.folder + "\\victim.txt";
  const std::string level2 = kNew.at("levels\\level2.dat");
  const feed_testing::Cut cut = feed_testing::CutInto(level2);
  const std::string first = packer::BytesToHex(reinterpret_cast<const std::uint8_t*>(cut.hashes[0].data()), 32);
  Tree outside, planted;
  packer_testing::AddFile(outside, "victim.txt", "a player's own file");
  packer_testing::WriteTree(player.folder, outside);
  ASSERT_TRUE(packer::MakeHostFolder(downloads));
  ASSERT_TRUE(feed_testing::MakeLink(downloads + "\\chunks-0.bin", victim));
  // A record named as the first chunk, with other bytes; a part of garbage.
  std::string forged = cut.hashes[0] + std::string("\x10\x00\x00\x00", 4) + std::string(16, 'x');
  packer_testing::AddFile(planted, "chunks-1.bin", forged);
  packer_testing::AddFile(planted, first + ".part", "garbage");
  packer_testing::AddFile(planted, "update", "");
  packer_testing::WriteTree(downloads, planted);

  RunGameFeedUpdate update;
  ASSERT_EQ(RUNGAME_FEED_OK, player.Download("", update)) << update.reason;
  EXPECT_EQ("", packer_testing::TreeDifference(player.Data(), player.Staged()));
  EXPECT_EQ("a player's own file", packer::ReadHostFile(victim, 1 << 20).value_or("(gone)"));
}

}  // namespace

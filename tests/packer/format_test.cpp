// The update format's one reader, as every program meets it: each manifest
// of the table read by the format itself, by the packer and inside a signed
// envelope; the entry check against random listings; the version file read
// by TinyXML (the launcher's way) and by the plain-C reader, on random texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <random>

#include <sodium.h>

#include "packer/keys.h"
#include "packer/manifest.h"
#include "packer/sha256.h"
#include "rules/config_files.h"
#include "rungame_format.h"

using namespace packer;

namespace {

const std::string kDigest = Sha256Hex("");
const std::string kHead = "rungame-update-manifest 1\nfrom 1.0\nto 1.1\nmarker update.ready\n";

// `body` signed with `pair`, in the envelope the packer writes.
std::string Envelope(const std::string& body, const KeyPair& pair, const std::string& keyId) {
  const std::string part = "rungame-signed-update 1\nkey " + keyId + "\n" + body;
  unsigned char secret[crypto_sign_SECRETKEYBYTES];
  PublicKey derived{};
  crypto_sign_seed_keypair(derived.data(), secret, pair.seed.data());
  unsigned char signature[crypto_sign_BYTES];
  crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(part.data()), part.size(), secret);
  return part + "signature " + BytesToHex(signature, sizeof signature) + "\n";
}

struct ManifestRow {
  const char* name;
  std::string text;
  int problem;
  bool signedOpens;  // the same text inside a signed envelope
};

std::vector<ManifestRow> ManifestRows() {
  const std::string file = "file 0 " + kDigest + " ";
  return {
      {"Intact", kHead + "folder a\n" + file + "a\\b.txt\n", RUNGAME_MANIFEST_OK, true},
      {"CrLf", "rungame-update-manifest 1\r\nfrom 1.0\r\nto 1.1\r\nmarker m\r\n" + file + "a.txt\r\n",
       RUNGAME_MANIFEST_OK, false},
      {"CaseTwins", kHead + file + "a.txt\n" + file + "A.TXT\n", RUNGAME_MANIFEST_LISTED_TWICE, false},
      {"Duplicate", kHead + file + "a.txt\n" + file + "a.txt\n", RUNGAME_MANIFEST_LISTED_TWICE, false},
      {"FolderTwiceInCase", kHead + "folder a\nfolder A\n", RUNGAME_MANIFEST_LISTED_TWICE, false},
      {"FolderListedAfter", kHead + file + "a\\b.txt\nfolder a\n", RUNGAME_MANIFEST_NO_FOLDER, false},
      {"FolderNotListed", kHead + file + "a\\b.txt\n", RUNGAME_MANIFEST_NO_FOLDER, false},
      {"FolderIsAFile", kHead + file + "a\n" + file + "a\\b.txt\n", RUNGAME_MANIFEST_NO_FOLDER, false},
      {"TemporaryName", kHead + file + "a.dat.unpacking~launcher\n", RUNGAME_MANIFEST_BAD_PATH, false},
      {"DeviceName", kHead + file + "nul.txt\n", RUNGAME_MANIFEST_BAD_PATH, false},
      {"DotDot", kHead + file + "..\\outside.txt\n", RUNGAME_MANIFEST_BAD_PATH, false},
      {"Rooted", kHead + file + "\\rooted.txt\n", RUNGAME_MANIFEST_BAD_PATH, false},
      {"Drive", kHead + file + "C:\\x.txt\n", RUNGAME_MANIFEST_BAD_PATH, false},
      {"ForwardSlash", kHead + "folder a/b\n", RUNGAME_MANIFEST_BAD_PATH, false},
      {"ReservedTop", kHead + "folder game\n", RUNGAME_MANIFEST_BAD_PATH, false},
      {"NoFrom", "rungame-update-manifest 1\nto 1.1\nmarker m\n", RUNGAME_MANIFEST_NO_VERSION, false},
      {"NoTo", "rungame-update-manifest 1\nfrom 1.0\nmarker m\n", RUNGAME_MANIFEST_NO_VERSION, false},
      {"SecondTo", kHead + "to 9.9\n", RUNGAME_MANIFEST_TWICE, false},
      {"SecondMarker", kHead + "marker other.ready\n", RUNGAME_MANIFEST_TWICE, false},
      {"NoMarker", "rungame-update-manifest 1\nfrom 1.0\nto 1.1\n", RUNGAME_MANIFEST_NO_MARKER, false},
      {"MarkerWithAPath", "rungame-update-manifest 1\nfrom 1.0\nto 1.1\nmarker a\\b\n", RUNGAME_MANIFEST_BAD_MARKER,
       false},
      {"VersionNotANumber", "rungame-update-manifest 1\nfrom 1.x\nto 1.1\nmarker m\n", RUNGAME_MANIFEST_BAD_VERSION,
       false},
      {"UpperCaseDigest", kHead + "file 0 " + std::string(64, 'A') + " a.txt\n", RUNGAME_MANIFEST_BAD_DIGEST, false},
      {"HugeSize", kHead + "file 99999999999999999999 " + kDigest + " a.txt\n", RUNGAME_MANIFEST_BAD_SIZE, false},
      {"UnknownLine", kHead + "delete game.dll\n", RUNGAME_MANIFEST_UNKNOWN_LINE, false},
      {"Nul", kHead + std::string("folder a\0b\n", 11), RUNGAME_MANIFEST_NUL, false},
      {"OtherHeader", "rungame-update-manifest 2\nfrom 1.0\nto 1.1\nmarker m\n", RUNGAME_MANIFEST_NO_HEADER, false},
      {"Empty", "", RUNGAME_MANIFEST_NO_HEADER, false},
      {"Removals", kHead + "folder a\n" + file + "a\\b.txt\nremove 0 " + kDigest + " a\\old.txt\nremove-folder gone\n",
       RUNGAME_MANIFEST_OK, true},
      {"RemovedAndListed", kHead + file + "a.txt\nremove 0 " + kDigest + " A.TXT\n", RUNGAME_MANIFEST_REMOVED_ENTRY,
       false},
      {"RemovedTwice", kHead + "remove-folder a\nremove 0 " + kDigest + " A\n", RUNGAME_MANIFEST_REMOVED_ENTRY, false},
      {"MarkerRemoved", kHead + "remove 0 " + kDigest + " update.ready\n", RUNGAME_MANIFEST_REMOVED_ENTRY, false},
      {"RemovalOutside", kHead + "remove 0 " + kDigest + " ..\\x.txt\n", RUNGAME_MANIFEST_BAD_PATH, false},
      {"RemovalReservedTop", kHead + "remove-folder ~upd\n", RUNGAME_MANIFEST_BAD_PATH, false},
      {"RemovalWithoutDigest", kHead + "remove a.txt\n", RUNGAME_MANIFEST_BAD_SIZE, false},
  };
}

}  // namespace

TEST(Format, EveryManifestReaderAgrees) {
  const KeyPair pair = MakeKeyPair();
  for (const ManifestRow& row : ManifestRows()) {
    RunGameManifest read{};
    EXPECT_EQ(row.problem, rungame_read_manifest(row.text.data(), row.text.size(), &read, nullptr)) << row.name;
    rungame_free_manifest(&read);
    std::string error;
    EXPECT_EQ(row.problem == RUNGAME_MANIFEST_OK, ParseManifest(row.text, error).has_value()) << row.name << error;
    const std::string marker = Envelope(row.text, pair, KeyId(pair.publicKey));
    RunGameManifest opened{};
    EXPECT_EQ(row.signedOpens, rungame_open_signed_manifest(marker.data(), marker.size(), pair.publicKey.data(),
                                                            &opened) != 0)
        << row.name;
    rungame_free_manifest(&opened);
  }
  // The "key" line names the key that signed it, no other.
  const std::string intact = ManifestRows()[0].text;
  for (const std::string& keyId : {KeyId(pair.publicKey), std::string(16, 'a')}) {
    const std::string marker = Envelope(intact, pair, keyId);
    RunGameManifest opened{};
    EXPECT_EQ(keyId != std::string(16, 'a'),
              rungame_open_signed_manifest(marker.data(), marker.size(), pair.publicKey.data(), &opened) != 0);
    rungame_free_manifest(&opened);
  }
}

TEST(Format, TheWriterWritesWhatTheReaderReads) {
  std::mt19937 random(24);
  for (int round = 0; round < 200; ++round) {
    Manifest manifest;
    manifest.from = std::to_string(random() % 5) + "." + std::to_string(random() % 20);
    manifest.to = "9." + std::to_string(random() % 20);
    manifest.marker = "update.ready";
    const int folders = static_cast<int>(random() % 4);
    for (int f = 0; f < folders; ++f) manifest.entries.push_back({true, 0, "", "dir" + std::to_string(f)});
    const int files = static_cast<int>(random() % 6);
    for (int i = 0; i < files; ++i) {
      const std::string folder = folders > 0 && random() % 2 ? "dir" + std::to_string(random() % folders) + "\\" : "";
      const std::uint64_t size = random() % 3 == 0 ? (std::uint64_t(1) << 40) + random() : random() % 1000;
      manifest.entries.push_back({false, size, Sha256Hex(std::to_string(round * 10 + i)), folder + "f" + std::to_string(i) + ".dat"});
    }
    const int removals = static_cast<int>(random() % 3);
    for (int i = 0; i < removals; ++i) {
      manifest.removals.push_back({i == 1, i == 1 ? 0 : random() % 1000, i == 1 ? "" : Sha256Hex("gone"),
                                   "gone" + std::to_string(i)});
    }
    std::string error;
    const auto read = ParseManifest(FormatManifest(manifest), error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(FormatManifest(manifest), FormatManifest(*read));
  }
}

namespace {

// A manifest's text from entries (folders before what they hold).
struct Listing {
  std::vector<std::string> folders;
  std::vector<std::pair<std::string, std::string>> files;  // path, content
};

std::string ManifestOf(const Listing& listing) {
  std::string text = kHead;
  for (const std::string& folder : listing.folders) text += "folder " + folder + "\n";
  for (const auto& file : listing.files) {
    text += "file " + std::to_string(file.second.size()) + " " + Sha256Hex(file.second) + " " + file.first + "\n";
  }
  return text;
}

RunGameStagedEntry StagedFile(const std::string& path, const std::string& content) {
  RunGameStagedEntry entry{};
  entry.path = path.c_str();
  entry.size = content.size();
  entry.readable = 1;
  crypto_hash_sha256(entry.sha256, reinterpret_cast<const unsigned char*>(content.data()), content.size());
  return entry;
}

std::vector<int> Problems(RunGameManifest& manifest, const std::vector<RunGameStagedEntry>& staged) {
  std::vector<int> problems;
  const auto note = [](void* context, int problem, const char*, const RunGameManifestEntry*) {
    static_cast<std::vector<int>*>(context)->push_back(problem);
  };
  const std::size_t count = rungame_check_entries(&manifest, staged.data(), staged.size(), "update.ready", note, &problems);
  EXPECT_EQ(count, problems.size());
  return problems;
}

}  // namespace

// A listing staged exactly as listed passes, with the marker and the
// launcher's temporary files beside it; each single change is told as the
// one problem it is.
TEST(Format, TheEntryCheckTellsEachChange) {
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    Listing listing;
    const int folders = 1 + static_cast<int>(random() % 3);
    for (int f = 0; f < folders; ++f) listing.folders.push_back("d" + std::to_string(f));
    const int files = 1 + static_cast<int>(random() % 5);
    for (int i = 0; i < files; ++i) {
      listing.files.push_back({(random() % 2 ? "d" + std::to_string(random() % folders) + "\\" : "") + "f" +
                                   std::to_string(i) + ".dat",
                               std::string(random() % 50, static_cast<char>('a' + i))});
    }
    const std::string text = ManifestOf(listing);
    RunGameManifest manifest{};
    ASSERT_EQ(RUNGAME_MANIFEST_OK, rungame_read_manifest(text.data(), text.size(), &manifest, nullptr)) << text;
    std::vector<std::string> paths;  // owns what `staged` points into
    paths.reserve(folders + files + 8);
    std::vector<RunGameStagedEntry> staged;
    for (const std::string& folder : listing.folders) {
      paths.push_back(folder);
      RunGameStagedEntry entry{};
      entry.path = paths.back().c_str();
      entry.isFolder = 1;
      staged.push_back(entry);
    }
    for (const auto& file : listing.files) {
      paths.push_back(file.first);
      staged.push_back(StagedFile(paths.back(), file.second));
    }
    paths.push_back("UPDATE.READY");
    staged.push_back(StagedFile(paths.back(), "signed"));
    paths.push_back(listing.files[0].first + ".unpacking~launcher");
    staged.push_back(StagedFile(paths.back(), "partial"));
    std::shuffle(staged.begin(), staged.end(), random);
    EXPECT_EQ(std::vector<int>(), Problems(manifest, staged)) << text;

    const std::size_t pick = random() % staged.size();
    RunGameStagedEntry& changed = staged[pick];
    const std::string name = changed.path;
    if (name == "UPDATE.READY" || name.find('~') != std::string::npos) {
      rungame_free_manifest(&manifest);
      continue;
    }
    int expected = 0;
    switch (random() % 6) {
      case 0:
        staged.erase(staged.begin() + static_cast<std::ptrdiff_t>(pick));
        expected = RUNGAME_ENTRY_MISSING;
        // A folder's files go with it, each missing too.
        for (auto it = staged.begin(); it != staged.end();) {
          it = std::string(it->path).rfind(name + "\\", 0) == 0 ? staged.erase(it) : it + 1;
        }
        break;
      case 1:
        paths.push_back(name + "x");
        staged.push_back(StagedFile(paths.back(), ""));
        expected = RUNGAME_ENTRY_NOT_LISTED;
        break;
      case 2:
        changed.isFolder = !changed.isFolder;
        expected = RUNGAME_ENTRY_WRONG_KIND;
        break;
      case 3:  // a folder has no size of its own
        ++changed.size;
        expected = changed.isFolder ? 0 : RUNGAME_ENTRY_SIZE_DIFFERS;
        break;
      case 4:
        changed.sha256[random() % 32] ^= 1;
        expected = changed.isFolder ? 0 : RUNGAME_ENTRY_DIGEST_DIFFERS;
        break;
      default: {
        std::string upper = name;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        paths.push_back(upper);
        changed.path = paths.back().c_str();
        expected = RUNGAME_ENTRY_WRONG_NAME;
        break;
      }
    }
    const std::vector<int> problems = Problems(manifest, staged);
    if (expected == 0) {
      EXPECT_EQ(std::vector<int>(), problems) << name;
    } else {
      ASSERT_FALSE(problems.empty()) << name << " " << expected;
      EXPECT_EQ(expected, problems.front()) << name;
    }
    rungame_free_manifest(&manifest);
  }
}

namespace {

// A random version file: the launcher's element among others, its numbers
// spelt with references, signs, spaces, digits beyond 32 bits.
std::string RandomVersionText(std::mt19937& random) {
  static const char* const numbers[] = {"1", "0", "-0", "+7", " \t12", "007", "1.9", "beta", "",
                                        "99999999999999999999", "-2147483649", "2147483647", "&#49;&#50;",
                                        "&#x2D;3", "&#x2b;4", "&amp;1", "&lt;", " &#32;5", "1 ", "&#0;9", "&#x;"};
  static const char* const names[] = {"version", "VERSION", "Version", "versions", "v"};
  static const char* const around[] = {"", "<?xml version=\"1.0\"?>", "<!-- <version x='9' y='9'/> -->", "<a/>",
                                       "<a><version x='8' y='8'/></a>", "\xEF\xBB\xBF", "<b>text</b>", "text",
                                       "<?xml version='1.0' encoding='ISO-8859-1'?>", "<c></d>"};
  const auto number = [&] { return std::string(numbers[random() % (sizeof numbers / sizeof *numbers)]); };
  const auto quote = [&] { return random() % 2 ? std::string("\"") : std::string("'"); };
  std::string text = around[random() % (sizeof around / sizeof *around)];
  const int elements = 1 + static_cast<int>(random() % 3);
  for (int e = 0; e < elements; ++e) {
    text += std::string("<") + names[random() % (sizeof names / sizeof *names)];
    const std::string q = quote();
    if (random() % 5) text += " x=" + q + number() + q;
    if (random() % 5) text += " y=" + q + number() + q;
    if (random() % 8 == 0) text += " x='2'";
    text += random() % 2 ? "/>" : "></version>";
    if (random() % 4 == 0) text += around[random() % (sizeof around / sizeof *around)];
  }
  return text;
}

}  // namespace

namespace {

// The version as TinyXML reads it, the launcher's way, and as the plain-C reader does.
std::optional<std::pair<long, long>> ByTinyXml(const std::string& text) {
  if (const auto elements = ParseTopLevelElements(text)) {
    if (const auto version = rules::FindVersion(*elements)) return std::make_pair(version->x, version->y);
  }
  return std::nullopt;
}

std::optional<std::pair<long, long>> ByPlainReader(const std::string& text) {
  long x = 0, y = 0;
  if (!rungame_read_version_text(text.data(), text.size(), &x, &y)) return std::nullopt;
  return std::make_pair(x, y);
}

}  // namespace

TEST(Format, EveryVersionReaderAgrees) {
  using Pair = std::optional<std::pair<long, long>>;
  const struct {
    std::string text;
    Pair version;
  } rows[] = {
      {"<version x=\"1\" y=\"4\"/>", std::make_pair(1L, 4L)},
      {"<?xml version=\"1.0\"?>\n<!-- <version x='9' y='9'/> -->\n<VERSION y='2' x='3'></VERSION>", std::make_pair(3L, 2L)},
      {"<game><version x=\"9\" y=\"9\"/></game><version x=\"1\" y=\"0\"/>", std::make_pair(1L, 0L)},
      {"<version x=\"1\"/><version x=\"2\" y=\"5\"/>", std::make_pair(2L, 5L)},
      {"<version x=\"&#49;&#x30;\" y=\"&#x2D;3\"/>", std::make_pair(10L, -3L)},
      {"<version x=\"+1\" y=\"-0\"/>", std::make_pair(1L, 0L)},
      {"<version x=\" \v\f1\" y=\"\t0 \"/>", std::make_pair(1L, 0L)},
      {"<version x=\"99999999999\" y=\"-99999999999\"/>", std::make_pair(2147483647L, -2147483647L - 1)},
      {"<version x=\"beta\" y=\"1.9\"/>", std::make_pair(0L, 1L)},
      {"<version x=\"007\" y=\"&amp;1\"/>", std::make_pair(7L, 0L)},
      {"<version X=\"1\" Y=\"2\"/>", std::nullopt},
      {"<version x=\"1\" y=\"2", std::nullopt},
      {"<version x=\"0\" y=\"9\"/><a></b>", std::nullopt},
      {"<version x=\"0\" y=\"9\" x=\"1\"/>", std::nullopt},
      {"<a/>text<version x=\"0\" y=\"9\"/>", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.version, ByTinyXml(row.text)) << row.text;
    EXPECT_EQ(row.version, ByPlainReader(row.text)) << row.text;
  }
}

TEST(Format, TinyXmlAndThePlainReaderReadOneVersion) {
  std::mt19937 random(2024);
  int found = 0;
  for (int round = 0; round < 4000; ++round) {
    const std::string text = RandomVersionText(random);
    const auto plain = ByPlainReader(text);
    ASSERT_EQ(ByTinyXml(text), plain) << text;
    found += plain.has_value();
  }
  // Both answers are common: the texts are neither all refused nor all read.
  EXPECT_GT(found, 300);
  EXPECT_LT(found, 3000);
}

// Hex has one spelling: what rungame_hex writes reads back, and any other
// text (an upper-case digit, a stray character, the wrong length) is refused.
TEST(Format, HexReadsBackWhatItWroteAndNothingElse) {
  std::mt19937 random(11);
  for (int round = 0; round < 200; ++round) {
    std::vector<unsigned char> bytes(1 + random() % 40);
    for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(random());
    std::string hex(2 * bytes.size() + 1, '\0');
    rungame_hex(bytes.data(), bytes.size(), &hex[0]);
    hex.pop_back();
    std::vector<unsigned char> back(bytes.size());
    ASSERT_TRUE(rungame_parse_hex(hex.data(), hex.size(), back.data(), back.size())) << hex;
    EXPECT_EQ(bytes, back);
    EXPECT_FALSE(rungame_parse_hex(hex.data(), hex.size() - 1, back.data(), back.size()));
    std::string spoilt = hex;
    const std::size_t at = random() % spoilt.size();
    spoilt[at] = "AFg: "[random() % 5];
    EXPECT_FALSE(rungame_parse_hex(spoilt.data(), spoilt.size(), back.data(), back.size())) << spoilt;
  }
}

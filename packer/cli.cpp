#include "packer/cli.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <optional>

#include "packer/checks.h"
#include "packer/dry_run.h"
#include "packer/feed_folder.h"
#include "packer/feed_prune.h"
#include "packer/feed_verify.h"
#include "packer/files.h"
#include "packer/keys.h"
#include "packer/manifest.h"
#include "packer/plan.h"
#include "packer/publish.h"
#include "packer/record.h"
#include "packer/release.h"
#include "packer/sha256.h"
#include "packer/signature.h"
#include "packer/verify.h"
#include "packer/write_update.h"

namespace packer {

namespace {

const char kUsage[] =
    "usage: packer pack <previous release> <new release> <update folder> [--manifest <file>] [--allow-deleted]\n"
    "                   [--allow-long-paths] [--sign <secret key file>]\n"
    "       packer verify <update folder> [--manifest <file>] [--key <public key file>]\n"
    "       packer publish <release> <feed folder> --key <secret key file> [--channel <name>]\n"
    "       packer verify <feed folder> --public-key <public key file or 64 hex digits>\n"
    "       packer prune <feed folder> --key <secret key file> --keep <versions>\n"
    "       packer keygen <secret key file> <public key file>\n"
    "       packer record <release> --key <secret key file>\n"
    "       packer dry-run <update folder> [--manifest <file>] [--onto <data folder>] [--marker <name>]\n"
    "pack writes the update folder (laid out as the staging folder \"game\" must be) and its manifest,\n"
    "by default <update folder>.manifest beside it; --sign makes its marker the manifest signed with the key.\n"
    "publish adds the release to the feed folder's channel (default \"stable\") as signed, chunked files\n"
    "any static web server serves; verify --public-key checks such a folder.\n"
    "record writes the release's signed record of its files, properties\\release.signed, which a launcher\n"
    "built with the key checks the game's modules against: run it on every release before pack or publish.\n"
    "Exit codes: 0 done or intact, 1 refused or not intact, 2 usage.\n";

// Signing a release without its record: the update or feed is made, but
// what it brings never runs under a keyed launcher.
void WarnOfRecord(const std::string& release, const PublicKey& key, const char* prefix, std::ostream& out) {
  const std::string problem = ReleaseRecordProblem(release, key);
  if (problem.empty()) return;
  out << prefix << "warning: " << problem << ": a launcher built with the key runs this version's game from the "
      << "install folder, and installs no update after it\n";
}

struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // "--flag" -> "" for flags
};

// nullopt on an unknown option or one missing its value.
std::optional<Arguments> ParseArguments(const std::vector<std::string>& words, const std::vector<std::string>& valued,
                                        const std::vector<std::string>& flags) {
  Arguments parsed;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word.size() < 2 || word.compare(0, 2, "--") != 0) {
      parsed.positional.push_back(WithoutTrailingSeparators(word));
    } else if (std::find(valued.begin(), valued.end(), word) != valued.end() && i + 1 < words.size()) {
      // Every valued option is a path, but --marker and --channel, names.
      parsed.options[word] = word == "--marker" || word == "--channel" ? words[i + 1] : WithoutTrailingSeparators(words[i + 1]);
      ++i;
    } else if (std::find(flags.begin(), flags.end(), word) != flags.end()) {
      parsed.options[word] = std::string();
    } else {
      return std::nullopt;
    }
  }
  return parsed;
}

std::string Option(const Arguments& arguments, const std::string& name, const std::string& fallback) {
  const auto found = arguments.options.find(name);
  return found == arguments.options.end() ? fallback : found->second;
}

// The manifest named, read and parsed; nullopt, said on `err`, when it
// cannot be read (missing, no plain file: never a FIFO) or is no manifest.
std::optional<Manifest> LoadManifest(const std::string& path, std::ostream& err) {
  const std::optional<std::string> text = ReadHostFile(path, kMaxManifestBytes);
  if (!text) {
    err << "packer: cannot read the manifest " << path << " (missing, not a plain file, or over "
        << kMaxManifestBytes / (1024 * 1024) << " MiB)\n";
    return std::nullopt;
  }
  std::string error;
  auto manifest = ParseManifest(*text, error);
  if (!manifest) err << "packer: " << path << ": " << error << "\n";
  return manifest;
}

// Shows "written n of m files" on a terminal once a pack takes more than a
// moment, rewriting one line; clears it at the end.
class ProgressLine {
 public:
  ProgressLine(bool enabled, std::ostream& err) : enabled_(enabled), err_(err) {}
  ~ProgressLine() {
    if (shown_) err_ << "\r" << std::string(width_, ' ') << "\r" << std::flush;
  }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  void Update(std::size_t done, std::size_t total) {
    Show([&] { return "packer: written " + std::to_string(done) + " of " + std::to_string(total) + " files"; });
  }
  // The line `say` makes, unless one was shown a moment ago.
  void Show(const std::function<std::string()>& say) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - start_ < std::chrono::milliseconds(500) || (shown_ && now - last_ < std::chrono::milliseconds(100))) {
      return;
    }
    const std::string line = say();
    width_ = std::max(width_, line.size());
    err_ << "\r" << line << std::flush;
    shown_ = true;
    last_ = now;
  }

 private:
  bool enabled_;
  std::ostream& err_;
  bool shown_ = false;
  std::size_t width_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_;
};

std::string Bytes(std::uint64_t bytes) {
  if (bytes < 10 * 1024) return std::to_string(bytes) + " bytes";
  if (bytes < 10 * 1024 * 1024) return std::to_string(bytes / 1024) + " KiB";
  return std::to_string(bytes / (1024 * 1024)) + " MiB";
}

// The secret key the option `name` names; nullopt, the refusal told on
// `err`, when it cannot be read.
std::optional<KeyPair> SecretKeyOption(const Arguments& arguments, const char* name, std::ostream& err) {
  std::string error;
  std::optional<KeyPair> key = LoadSecretKey(Option(arguments, name, std::string()), error);
  if (!key) err << "packer: " << error << "\n";
  return key;
}

int Pack(const Arguments& arguments, const CliOptions& cli, std::ostream& out, std::ostream& err) {
  if (arguments.positional.size() != 3) {
    err << kUsage;
    return kExitUsage;
  }
  const std::string& previous = arguments.positional[0];
  const std::string& next = arguments.positional[1];
  const std::string& update = arguments.positional[2];
  const std::string manifestPath = Option(arguments, "--manifest", DefaultManifestPath(update));
  for (const std::string* folder : {&previous, &next}) {
    if (KindOf(*folder) != EntryKind::Folder) {
      err << "packer: " << *folder << " is not a folder\n";
      return kExitRefused;
    }
  }
  // Written into a release, the update would ship as game data with the
  // next release (and change the release while it is being read).
  for (const std::string* output : {&update, &manifestPath}) {
    const std::string where = CanonicalHostPath(*output);
    if (where.empty()) {
      err << "packer: cannot tell where " << *output << " lies; name it without \"..\" beyond existing folders\n";
      return kExitRefused;
    }
    for (const std::string* folder : {&previous, &next}) {
      if (IsSameOrBelow(where, CanonicalHostPath(*folder))) {
        err << "packer: " << *output << " lies inside the release " << *folder
            << "; write the update outside both releases\n";
        return kExitRefused;
      }
    }
  }
  std::vector<HostEntry> existing;
  if (KindOf(update) != EntryKind::Missing && !(ListHostFolder(update, existing) && existing.empty())) {
    err << "packer: " << update << " already exists and is not an empty folder\n";
    return kExitRefused;
  }
  if (KindOf(manifestPath) != EntryKind::Missing) {
    err << "packer: " << manifestPath << " already exists\n";
    return kExitRefused;
  }
  std::optional<KeyPair> signer;
  if (arguments.options.count("--sign")) {
    signer = SecretKeyOption(arguments, "--sign", err);
    if (!signer) return kExitRefused;
  }

  if (signer) WarnOfRecord(next, signer->publicKey, "  ", out);
  PlanOptions options;
  options.signedUpdate = signer.has_value();
  options.allowDeleted = arguments.options.count("--allow-deleted") != 0;
  options.allowLongPaths = arguments.options.count("--allow-long-paths") != 0;
  const Plan plan = PlanUpdate(previous, next, options);
  out << "packer: " << ToString(plan.from) << " -> " << ToString(plan.to) << ", marker \"" << plan.marker << "\"\n";
  std::size_t added = 0;
  for (const PlannedFile& file : plan.files) added += file.isNew ? 1 : 0;
  out << "  " << added << " new files, " << plan.files.size() - added << " changed, " << plan.unchanged
      << " unchanged, " << plan.deleted.size() << " gone\n";
  for (const Finding& finding : plan.findings) {
    (finding.refusal ? err : out) << (finding.refusal ? "  refused: " : "  warning: ") << finding.text << "\n";
  }
  if (plan.Refused()) {
    err << "packer: refused; nothing written\n";
    return kExitRefused;
  }
  WriteSummary summary;
  std::string error;
  bool written;
  {
    ProgressLine progress(cli.progress, err);
    written = WriteUpdate(plan, next, update, manifestPath, summary, error, signer ? &*signer : nullptr,
                          [&](std::size_t done, std::size_t total) { progress.Update(done, total); });
  }
  if (!written) {
    err << "packer: " << error << "; nothing written\n";
    return kExitRefused;
  }
  out << "wrote " << update << ": " << summary.packed << " packed and " << summary.plain << " plain files and the marker ("
      << Bytes(summary.releaseBytes) << " as released, " << Bytes(summary.stagedBytes) << " to download)\n";
  out << "wrote " << manifestPath << "\n";
  if (signer) out << "signed with key " << KeyId(signer->publicKey) << " (the marker holds the signed manifest)\n";
  return kExitDone;
}

// The update's marker read as a signed manifest: its problems, if any, and
// the manifest to check the folder against (with the marker itself listed).
std::optional<Manifest> SignedListing(const std::string& update, const std::string& marker, const PublicKey& key,
                                      std::vector<std::string>& problems) {
  const std::string markerPath = HostJoin(update, marker);
  const std::optional<std::string> content = ReadHostFile(markerPath, kMaxManifestBytes);
  const bool ok = content.has_value();
  const std::string text = content.value_or(std::string());
  std::string error = "cannot read the marker " + marker;
  std::optional<Manifest> signedManifest = ok ? OpenSignedManifest(text, key, error) : std::nullopt;
  if (signedManifest && signedManifest->marker != marker) {
    error = "the signed manifest names another marker: " + signedManifest->marker;
    signedManifest.reset();
  }
  if (!signedManifest) {
    problems.push_back("not signed  " + error);
    return std::nullopt;
  }
  signedManifest->entries.push_back({false, text.size(), Sha256Hex(text), marker});
  return signedManifest;
}

int Verify(const Arguments& arguments, std::ostream& out, std::ostream& err) {
  if (arguments.positional.size() != 1) {
    err << kUsage;
    return kExitUsage;
  }
  const std::string& update = arguments.positional[0];
  const auto manifest = LoadManifest(Option(arguments, "--manifest", DefaultManifestPath(update)), err);
  if (!manifest) return kExitRefused;
  VerifyReport report = VerifyUpdate(update, *manifest);
  if (arguments.options.count("--key")) {
    std::string keyError;
    const auto key = LoadPublicKey(Option(arguments, "--key", std::string()), keyError);
    if (!key) {
      err << "packer: " << keyError << "\n";
      return kExitRefused;
    }
    const auto signedManifest = SignedListing(update, manifest->marker, *key, report.problems);
    if (signedManifest) {
      const VerifyReport signedReport = VerifyUpdate(update, *signedManifest);
      for (const std::string& problem : signedReport.problems) report.problems.push_back(problem + " (signed)");
      if (signedManifest->to != manifest->to) report.problems.push_back("not signed  the signed version differs");
    }
    if (report.problems.empty()) out << "signed by key " << KeyId(*key) << "\n";
  }
  for (const std::string& problem : report.problems) out << "  " << problem << "\n";
  if (!report.problems.empty()) {
    out << update << ": NOT intact (" << report.problems.size() << " problems in " << report.checked << " entries)\n";
    return kExitRefused;
  }
  out << update << ": intact (" << report.checked << " entries)\n";
  return kExitDone;
}

int PublishCommand(const Arguments& arguments, const CliOptions& cli, std::ostream& out, std::ostream& err) {
  if (arguments.positional.size() != 2 || !arguments.options.count("--key")) {
    err << kUsage;
    return kExitUsage;
  }
  const auto key = SecretKeyOption(arguments, "--key", err);
  if (!key) return kExitRefused;
  std::string error;
  const std::string channel = Option(arguments, "--channel", "stable");
  const std::string& feed = arguments.positional[1];
  WarnOfRecord(arguments.positional[0], key->publicKey, "packer: ", out);
  PublishSummary summary;
  bool published;
  {
    ProgressLine progress(cli.progress, err);
    published = Publish(arguments.positional[0], feed, channel, *key, summary, error,
                        [&](const char* step, std::uint64_t done, std::uint64_t total) {
                          progress.Show([&] {
                            return std::string("packer: ") + step + " " + std::to_string(done >> 20) +
                                   (total != 0 ? " of " + std::to_string(total >> 20) : std::string()) + " MiB";
                          });
                        });
  }
  if (!published) {
    err << "packer: " << error << "\n";
    return kExitRefused;
  }
  const std::string version = ToString(summary.version);
  if (summary.republished) {
    out << "packer: version " << version << " is already published to channel " << channel;
    if (summary.unchanged) out << "; nothing changed";
    if (summary.newChunks != 0) {
      out << "; wrote back " << summary.newChunks << (summary.newChunks == 1 ? " lost chunk" : " lost chunks");
    }
    if (summary.manifestRestored) out << "; wrote back its manifest";
    if (summary.markersRestored != 0) {
      out << "; wrote back " << summary.markersRestored
          << (summary.markersRestored == 1 ? " update marker" : " update markers");
    }
    if (summary.packsAdded) {
      out << "; added its pack list, " << summary.packedChunks << " chunks packed (" << Bytes(summary.packBytes) << ")";
    }
    out << "\n";
    return kExitDone;
  }
  out << "published " << version << " to channel " << channel << " of " << feed << ": " << summary.files
      << " files (" << Bytes(summary.releaseBytes) << ") in " << summary.chunks << " chunks, " << summary.newChunks
      << " of them new (" << Bytes(summary.newChunkBytes) << " stored), " << summary.packedChunks << " packed ("
      << Bytes(summary.packBytes) << "); signed with key " << KeyId(key->publicKey)
      << "\n";
  return kExitDone;
}

int VerifyFeedCommand(const Arguments& arguments, std::ostream& out, std::ostream& err) {
  if (arguments.positional.size() != 1) {
    err << kUsage;
    return kExitUsage;
  }
  std::string error;
  const auto key = PublicKeyArgument(Option(arguments, "--public-key", std::string()), error);
  if (!key) {
    err << "packer: " << error << "\n";
    return kExitRefused;
  }
  const std::string& feed = arguments.positional[0];
  const FeedReport report = VerifyFeed(feed, *key);
  for (const std::string& problem : report.problems) out << "  " << problem << "\n";
  const std::string counts = std::to_string(report.channels) + " channels, " + std::to_string(report.versions) +
                             " versions, " + std::to_string(report.files) + " files, " +
                             std::to_string(report.chunks) + " chunks";
  if (!report.problems.empty()) {
    out << feed << ": NOT intact (" << report.problems.size() << " problems; " << counts << ")\n";
    return kExitRefused;
  }
  for (const std::string& orphan : report.orphans) out << "  orphan  " << orphan << "\n";
  out << feed << ": intact, signed by key " << KeyId(*key) << " (" << counts << ")";
  if (!report.orphans.empty()) {
    out << "; " << report.orphans.size() << " files (" << Bytes(report.orphanBytes)
        << ") no listed version needs: packer prune removes them";
  }
  out << "\n";
  return kExitDone;
}

int PruneCommand(const Arguments& arguments, std::ostream& out, std::ostream& err) {
  const std::string keepText = Option(arguments, "--keep", std::string());
  if (arguments.positional.size() != 1 || !arguments.options.count("--key") || keepText.empty() ||
      keepText.find_first_not_of("0123456789") != std::string::npos || keepText.size() > 6 ||
      std::stoul(keepText) == 0) {
    err << kUsage;
    return kExitUsage;
  }
  const auto key = SecretKeyOption(arguments, "--key", err);
  if (!key) return kExitRefused;
  std::string error;
  const std::string& feed = arguments.positional[0];
  PruneSummary summary;
  if (!PruneFeed(feed, *key, std::stoul(keepText), summary, error)) {
    err << "packer: " << error << "; nothing removed\n";
    return kExitRefused;
  }
  out << "pruned " << feed << ": " << summary.versionsDropped << " versions no longer listed, "
      << summary.filesRemoved << " files removed (" << Bytes(summary.bytesRemoved) << ")\n";
  return kExitDone;
}

int DryRun(const Arguments& arguments, std::ostream& out, std::ostream& err) {
  if (arguments.positional.size() != 1) {
    err << kUsage;
    return kExitUsage;
  }
  const std::string& update = arguments.positional[0];
  Tree staging;
  Tree data;
  std::string error;
  if (KindOf(update) != EntryKind::Folder || !ReadHostTree(update, true, staging, error)) {
    err << "packer: cannot read the update folder " << update << (error.empty() ? "" : ": " + error) << "\n";
    return kExitRefused;
  }
  const std::string onto = Option(arguments, "--onto", std::string());
  if (!onto.empty() && !ReadHostTree(onto, false, data, error)) {
    err << "packer: cannot read the data folder " << onto << ": " << error << "\n";
    return kExitRefused;
  }
  // The manifest given, or the one beside the update folder: the folder is
  // judged against it first, as a game does before staging.
  const bool manifestGiven = arguments.options.count("--manifest") != 0;
  const std::string manifestPath = Option(arguments, "--manifest", DefaultManifestPath(update));
  std::optional<Manifest> manifest;
  if (manifestGiven || KindOf(manifestPath) != EntryKind::Missing) {
    manifest = LoadManifest(manifestPath, err);
    if (!manifest) return kExitRefused;
    const VerifyReport report = VerifyUpdate(update, *manifest, &staging);
    for (const std::string& problem : report.problems) out << "  " << problem << "\n";
    if (!report.problems.empty()) {
      out << update << ": NOT as " << manifestPath << " lists it; a game would not stage it\n";
      return kExitRefused;
    }
  }
  // The marker name as the launcher would know it: given, else the data
  // folder's game.xml (read in every cycle after the first), else the manifest's.
  std::string marker = Option(arguments, "--marker", std::string());
  std::string source = "--marker";
  if (!arguments.options.count("--marker")) {
    if (!onto.empty()) {
      marker = ReadReleaseSetting(onto, "update_semaphore");
      source = onto + "'s game.xml";
    } else if (manifest) {
      marker = manifest->marker;
      source = manifestPath;
    } else {
      err << "packer: no marker name: give --marker, --onto or a manifest\n";
      return kExitUsage;
    }
  }
  out << "marker \"" << marker << "\" (from " << source << ")\n";
  // The launcher's path limits count the player's data folder: the deepest
  // its settings give (the data folder's game.xml, else the update's).
  const PlayerFolder deepest = DeepestPlayerFolder(onto.empty() ? update : onto);
  out << "data folder " << deepest.where << " (" << deepest.length << " characters)\n";
  const DryRunReport outcome =
      DryRunUpdate(std::move(staging), data, marker, deepest.length, manifest ? &*manifest : nullptr);
  for (const std::string& step : outcome.steps) out << "  " << step << "\n";
  if (!outcome.installed || !outcome.complete) {
    out << "the launcher would " << (outcome.installed ? "install it only in part" : "not install it") << "\n";
    return kExitRefused;
  }
  out << "the launcher would install it completely\n";
  return kExitDone;
}

int Keygen(const Arguments& arguments, std::ostream& out, std::ostream& err) {
  if (arguments.positional.size() != 2) {
    err << kUsage;
    return kExitUsage;
  }
  const KeyPair pair = MakeKeyPair();
  std::string error;
  if (!WriteKeyPair(pair, arguments.positional[0], arguments.positional[1], error)) {
    err << "packer: " << error << "; nothing written\n";
    return kExitRefused;
  }
  out << "wrote the secret key " << arguments.positional[0] << " (keep it private) and the public key "
      << arguments.positional[1] << ", id " << KeyId(pair.publicKey) << "\n"
      << "build the launcher with -DLAUNCHER_UPDATE_PUBLIC_KEY=" << PublicKeyHex(pair.publicKey) << "\n";
  return kExitDone;
}

int RecordCommand(const Arguments& arguments, std::ostream& out, std::ostream& err) {
  if (arguments.positional.size() != 1 || !arguments.options.count("--key")) {
    err << kUsage;
    return kExitUsage;
  }
  const std::string& release = arguments.positional[0];
  const std::optional<KeyPair> signer = SecretKeyOption(arguments, "--key", err);
  if (!signer) return kExitRefused;
  std::string error;
  std::string summary;
  if (KindOf(release) != EntryKind::Folder || !WriteReleaseRecord(release, *signer, summary, error)) {
    err << "packer: " << (error.empty() ? release + " is no folder" : error) << "; no record written\n";
    return kExitRefused;
  }
  out << "wrote " << HostJoin(release, kRecordPath) << ": " << summary << ", signed by key " << KeyId(signer->publicKey)
      << "\n";
  return kExitDone;
}

}  // namespace

int RunPacker(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
              const CliOptions& options) {
  if (arguments.empty()) {
    err << kUsage;
    return kExitUsage;
  }
  const std::string command = arguments[0];
  const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
  std::optional<Arguments> parsed;
  if (command == "pack") {
    parsed = ParseArguments(rest, {"--manifest", "--sign"}, {"--allow-deleted", "--allow-long-paths"});
    if (parsed) return Pack(*parsed, options, out, err);
  } else if (command == "verify") {
    parsed = ParseArguments(rest, {"--manifest", "--key", "--public-key"}, {});
    if (parsed && parsed->options.count("--public-key")) {
      if (parsed->options.size() != 1) {
        err << "packer: --public-key verifies a feed folder; --manifest and --key, an update folder\n";
        return kExitUsage;
      }
      return VerifyFeedCommand(*parsed, out, err);
    }
    if (parsed) return Verify(*parsed, out, err);
  } else if (command == "publish") {
    parsed = ParseArguments(rest, {"--key", "--channel"}, {});
    if (parsed) return PublishCommand(*parsed, options, out, err);
  } else if (command == "prune") {
    parsed = ParseArguments(rest, {"--key", "--keep"}, {});
    if (parsed) return PruneCommand(*parsed, out, err);
  } else if (command == "keygen") {
    parsed = ParseArguments(rest, {}, {});
    if (parsed) return Keygen(*parsed, out, err);
  } else if (command == "record") {
    parsed = ParseArguments(rest, {"--key"}, {});
    if (parsed) return RecordCommand(*parsed, out, err);
  } else if (command == "dry-run") {
    parsed = ParseArguments(rest, {"--manifest", "--onto", "--marker"}, {});
    if (parsed) return DryRun(*parsed, out, err);
  } else if (command == "--help" || command == "-h" || command == "help") {
    out << kUsage;
    return kExitDone;
  }
  err << kUsage;
  return kExitUsage;
}

}  // namespace packer

#include "packer/record.h"

#include <cstdio>
#include <map>
#include <optional>

#include "packer/files.h"
#include "packer/manifest.h"
#include "packer/release.h"
#include "packer/sha256.h"
#include "packer/signature.h"
#include "rules/rungame_rules.h"

namespace packer {

namespace {

bool IsRecord(const std::string& path) { return rungame_equals_ascii_case(path.c_str(), kRecordPath) != 0; }

// The record `release` would carry: nullopt, with the reason, when the
// release cannot have one.
std::optional<Manifest> RecordOf(const std::string& release, std::string& error) {
  const std::optional<Version> version = ReadReleaseVersion(release);
  if (!version) {
    error = std::string("the release has no readable ") + RUNGAME_VERSION_FILE;
    return std::nullopt;
  }
  const ReleaseTree tree = ListRelease(release);
  if (!tree.problems.empty()) {
    error = tree.problems.front();
    return std::nullopt;
  }
  Manifest record;
  record.from = record.to = ToString(*version);
  record.marker = kRecordName;
  for (const ReleaseEntry& entry : tree.entries) {
    if (IsRecord(entry.path)) continue;
    ManifestEntry listed;
    listed.isFolder = entry.isFolder;
    listed.path = entry.path;
    if (!entry.isFolder) {
      const std::optional<FileDigest> digest = DigestFile(HostJoin(release, entry.path));
      if (!digest) {
        error = "cannot read " + entry.path;
        return std::nullopt;
      }
      listed.size = digest->size;
      listed.sha256 = digest->sha256;
    }
    record.entries.push_back(std::move(listed));
  }
  return record;
}

bool SameEntries(const Manifest& a, const Manifest& b) {
  const auto listed = [](const Manifest& manifest) {
    std::map<std::string, std::string> entries;
    for (const ManifestEntry& entry : manifest.entries) {
      entries[entry.path] = entry.isFolder ? "folder" : std::to_string(entry.size) + " " + entry.sha256;
    }
    return entries;
  };
  return listed(a) == listed(b);
}

}  // namespace

std::string ReleaseRecordProblem(const std::string& release, const PublicKey& key) {
  std::string error;
  const std::optional<Manifest> expected = RecordOf(release, error);
  if (!expected) return error;
  const std::optional<std::string> text = ReadHostFile(HostJoin(release, kRecordPath), kMaxManifestBytes);
  if (!text) return std::string("no ") + kRecordPath + " (packer record)";
  const std::optional<Manifest> signed_ = OpenSignedManifest(*text, key, error);
  if (!signed_) return std::string(kRecordPath) + ": " + error;
  if (signed_->from != expected->from || signed_->to != expected->to || signed_->marker != expected->marker) {
    return std::string(kRecordPath) + " is the record of another version";
  }
  if (!SameEntries(*signed_, *expected)) {
    return std::string(kRecordPath) + " does not list what the release holds: record it again";
  }
  return "";
}

bool WriteReleaseRecord(const std::string& release, const KeyPair& pair, std::string& summary, std::string& error) {
  const std::string path = HostJoin(release, kRecordPath);
  const std::string written = path + ".writing";
  (void)RemoveHostTree(written);  // a stopped run's
  const std::optional<Manifest> recorded = RecordOf(release, error);
  if (!recorded) return false;
  const Manifest& record = *recorded;
  std::size_t files = 0;
  for (const ManifestEntry& entry : record.entries) files += entry.isFolder ? 0 : 1;
  const std::string text = SignManifest(record, pair);
  if (KindOf(HostJoin(release, "properties")) != EntryKind::Folder) {
    error = "the release's properties is no folder";
    return false;
  }
  {
    HostFile file = CreateNewHostFile(written, false);
    const bool whole = file && std::fwrite(text.data(), 1, text.size(), file.Get()) == text.size() && file.Close();
    if (!whole || !ReplaceHostFile(written, path)) {
      (void)RemoveHostTree(written);
      error = "cannot write " + std::string(kRecordPath);
      return false;
    }
  }
  summary = "version " + record.to + ", " + std::to_string(files) + " files";
  return true;
}

}  // namespace packer

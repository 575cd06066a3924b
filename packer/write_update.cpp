#include "packer/write_update.h"

#include "packer/files.h"
#include "packer/sha256.h"
#include "packer/signature.h"
#include "packer/staged_file.h"

namespace packer {

namespace {

const char kPartialSuffix[] = ".partial~packer";

bool WriteText(const std::string& path, const std::string& text) {
  HostFile file = OpenHostFile(path, "wb");
  if (!file) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file.Get()) == text.size();
  return file.Close() && written;
}

bool WriteFiles(const Plan& plan, const std::string& newRoot, const std::string& folder, WriteSummary& summary,
                std::string& error, const KeyPair* signer, const WriteProgress& progress) {
  Manifest& manifest = summary.manifest;
  for (const std::string& path : plan.folders) {
    if (!MakeHostFolder(HostJoin(folder, path))) {
      error = "cannot create " + HostJoin(folder, path);
      return false;
    }
    manifest.entries.push_back({true, 0, std::string(), path});
  }
  for (const PlannedFile& file : plan.files) {
    const std::string source = HostJoin(newRoot, file.path);
    std::optional<FileDigest> written;
    std::string staged = file.path;
    const auto released = DigestFile(source);
    if (!released) {
      error = "cannot read " + source;
      return false;
    }
    if (file.packing != Packing::Plain) {
      staged = file.path + ".zip";
      written = WriteGzipped(source, HostJoin(folder, staged));
      if (written && file.packing == Packing::WhenSmaller && written->size >= released->size) {
        if (!RemoveHostTree(HostJoin(folder, staged))) written.reset();
        staged = file.path;
        written = written ? WritePlain(source, HostJoin(folder, staged)) : written;
      }
    } else {
      written = WritePlain(source, HostJoin(folder, staged));
    }
    if (!written) {
      error = "cannot write " + HostJoin(folder, staged);
      return false;
    }
    ++(staged == file.path ? summary.plain : summary.packed);
    summary.releaseBytes += released->size;
    summary.stagedBytes += written->size;
    manifest.entries.push_back({false, written->size, written->sha256, staged});
    if (progress) progress(summary.packed + summary.plain, plan.files.size());
  }
  if (signer) manifest.removals = plan.removals;
  // The marker last, once everything else is on disk.
  const std::string content = signer ? SignManifest(manifest, *signer) : std::string();
  if (!WriteText(HostJoin(folder, plan.marker), content)) {
    error = "cannot write the marker " + HostJoin(folder, plan.marker);
    return false;
  }
  manifest.entries.push_back({false, content.size(), Sha256Hex(content), plan.marker});
  return true;
}

// An update folder is written only where nothing is or an empty folder is.
bool IsFreeOrEmpty(const std::string& path) {
  const EntryKind kind = KindOf(path);
  if (kind == EntryKind::Missing) return true;
  std::vector<HostEntry> entries;
  return kind == EntryKind::Folder && ListHostFolder(path, entries) && entries.empty();
}

}  // namespace

bool WriteUpdate(const Plan& plan, const std::string& newRoot, const std::string& updateFolder,
                 const std::string& manifestPath, WriteSummary& summary, std::string& error, const KeyPair* signer,
                 const WriteProgress& progress) {
  const std::string partialFolder = updateFolder + kPartialSuffix;
  const std::string partialManifest = manifestPath + kPartialSuffix;
  summary = WriteSummary();
  if (!IsFreeOrEmpty(updateFolder) || KindOf(manifestPath) != EntryKind::Missing) {
    error = updateFolder + " or " + manifestPath + " already holds something";
    return false;
  }
  summary.manifest.from = ToString(plan.from);
  summary.manifest.to = ToString(plan.to);
  summary.manifest.marker = plan.marker;
  if (!MakeHostParents(partialFolder) || !MakeHostParents(partialManifest) || !RemoveHostTree(partialFolder) ||
      !RemoveHostTree(partialManifest) || !MakeHostFolder(partialFolder)) {
    error = "cannot create " + partialFolder;
    return false;
  }
  bool written = WriteFiles(plan, newRoot, partialFolder, summary, error, signer, progress);
  if (written && !WriteText(partialManifest, FormatManifest(summary.manifest))) {
    error = "cannot write " + partialManifest;
    written = false;
  }
  if (written && !(IsFreeOrEmpty(updateFolder) && RemoveHostTree(updateFolder))) {
    error = "cannot replace the empty " + updateFolder;
    written = false;
  }
  if (written && !RenameHostPath(partialFolder, updateFolder)) {
    error = "cannot rename " + partialFolder + " to " + updateFolder;
    written = false;
  }
  if (written && !RenameHostPath(partialManifest, manifestPath)) {
    error = "cannot rename " + partialManifest + " to " + manifestPath;
    (void)RemoveHostTree(updateFolder);
    written = false;
  }
  if (!written) {
    (void)RemoveHostTree(partialFolder);
    (void)RemoveHostTree(partialManifest);
  }
  return written;
}

}  // namespace packer

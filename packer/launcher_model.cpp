#include "packer/launcher_model.h"

#include <algorithm>

#include "packer/files.h"
#include "packer/names.h"
#include "packer/release.h"
#include "update/decode.h"

namespace packer {

bool FoldedLess::operator()(const std::string& a, const std::string& b) const {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const auto x = static_cast<unsigned char>(rungame_ascii_lower(a[i]));
    const auto y = static_cast<unsigned char>(rungame_ascii_lower(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

namespace {

bool Decode(const std::string& packed, std::string& unpacked) {
  std::size_t offset = 0;
  const ReadBlock read = [&](unsigned char* buffer, std::size_t size) -> long {
    const std::size_t count = std::min(size, packed.size() - offset);
    std::copy(packed.begin() + static_cast<std::ptrdiff_t>(offset),
              packed.begin() + static_cast<std::ptrdiff_t>(offset + count), buffer);
    offset += count;
    return static_cast<long>(count);
  };
  const WriteBlock write = [&](const unsigned char* data, std::size_t size) {
    unpacked.append(reinterpret_cast<const char*>(data), size);
    return true;
  };
  return DecodePackedStream(read, write);
}

// Every folder's entries, found once: folded parent path to child paths.
using ChildIndex = std::map<std::string, std::vector<std::string>, FoldedLess>;

ChildIndex IndexChildren(const Tree& tree) {
  ChildIndex index;
  for (const auto& entry : tree) index[ParentPath(entry.first)].push_back(entry.first);
  return index;
}

const std::vector<std::string>& Children(const ChildIndex& index, const std::string& folder) {
  static const std::vector<std::string> kNone;
  const auto found = index.find(folder);
  return found == index.end() ? kNone : found->second;
}

void Unpack(Tree& staging, UnpackOrder order, LauncherOutcome& outcome) {
  // The launcher drops leftovers of an interrupted unpacking first.
  for (auto it = staging.begin(); it != staging.end();) {
    if (!it->second.isFolder && rules::IsLauncherTemporaryName(BaseName(it->first))) {
      outcome.steps.push_back("remove  " + it->first + " (a leftover name, never installed)");
      it = staging.erase(it);
    } else {
      ++it;
    }
  }
  std::vector<std::string> packed;
  for (const auto& entry : staging) {
    if (!entry.second.isFolder && rules::IsPackedName(BaseName(entry.first))) packed.push_back(entry.first);
  }
  if (order == UnpackOrder::Backward) std::reverse(packed.begin(), packed.end());
  for (const std::string& path : packed) {
    const auto source = staging.find(path);
    if (source == staging.end() || source->second.isFolder) continue;
    const std::string target = path.substr(0, path.size() - 4);
    std::string unpacked;
    const auto existing = staging.find(target);
    if (existing != staging.end() && existing->second.isFolder) {
      outcome.steps.push_back("keep    " + path + " (a folder has the unpacked name; it arrives packed)");
      outcome.complete = false;
    } else if (!Decode(source->second.content, unpacked)) {
      outcome.steps.push_back("keep    " + path + " (does not unpack completely; it arrives packed)");
      outcome.complete = false;
    } else {
      outcome.steps.push_back("unpack  " + path + " -> " + target);
      if (existing != staging.end()) staging.erase(existing);
      staging.erase(path);
      staging[target] = Node{false, unpacked};
    }
  }
}

// Whether one staged entry can take its place in the data folder: files
// replace files, folders merge, never a file over a folder or back.
bool CanMoveInto(const Tree& staging, const ChildIndex& children, const std::string& path, const Tree& data,
                 LauncherOutcome& outcome) {
  const Node& node = staging.at(path);
  const auto existing = data.find(path);
  if (existing != data.end() && existing->second.isFolder != node.isFolder) {
    outcome.steps.push_back("fail    " + path + " (a " + (node.isFolder ? "file" : "folder") +
                            " of that name is in the data folder)");
    return false;
  }
  bool canMove = true;
  for (const std::string& child : Children(children, path)) {
    canMove = CanMoveInto(staging, children, child, data, outcome) && canMove;
  }
  return canMove;
}

// Moves one staged entry into the data folder as the launcher's move does.
void MoveInto(const Tree& staging, const ChildIndex& children, const std::string& path, Tree& data,
              LauncherOutcome& outcome) {
  const Node& node = staging.at(path);
  const auto existing = data.find(path);
  if (!node.isFolder) {
    outcome.steps.push_back(std::string(existing == data.end() ? "add     " : "replace ") + path);
    if (existing != data.end()) data.erase(existing);
    data[path] = node;
    return;
  }
  if (existing == data.end()) {
    outcome.steps.push_back("add     " + path + "\\ (a new folder)");
    data[path] = node;
  }
  for (const std::string& child : Children(children, path)) MoveInto(staging, children, child, data, outcome);
}

}  // namespace

LauncherOutcome ApplyLikeLauncher(const Tree& staging, const Tree& data, const std::string& marker,
                                  UnpackOrder order) {
  LauncherOutcome outcome;
  outcome.data = data;
  // The marker counts only as a plain file at the staging folder's top.
  const rules::MarkerKind markerKind = rules::ClassifyMarker(marker);
  const std::string markerEntry = markerKind == rules::MarkerKind::PlainFile ? marker : std::string();
  if (markerKind == rules::MarkerKind::NeverPresent) {
    outcome.steps.push_back("discard the staging folder: the marker \"" + marker +
                            "\" is no plain file name and never counts as present; nothing is installed");
    return outcome;
  }
  const auto markerFile = staging.find(markerEntry);
  if (!markerEntry.empty() && (markerFile == staging.end() || markerFile->second.isFolder)) {
    outcome.steps.push_back("discard the staging folder: no marker file \"" + marker + "\" in it, nothing is installed");
    return outcome;
  }
  if (staging.empty()) {
    outcome.steps.push_back("nothing staged");
    return outcome;
  }
  outcome.installed = true;
  outcome.complete = true;
  Tree unpacked = staging;
  Unpack(unpacked, order, outcome);

  const ChildIndex children = IndexChildren(unpacked);
  std::vector<std::string> top = Children(children, std::string());
  // The marker's entry moves last, only once everything else arrived.
  const auto markerIt = std::find_if(top.begin(), top.end(),
                                     [&](const std::string& name) { return FoldCase(name) == FoldCase(markerEntry); });
  std::string markerName;
  if (!markerEntry.empty() && markerIt != top.end()) {
    markerName = *markerIt;
    top.erase(markerIt);
  }
  // Checked before anything moves: an update that cannot arrive whole is not
  // installed at all, nor one that stages a name the launcher owns.
  bool canMoveAll = true;
  for (const std::string& name : Children(children, std::string())) {
    if (!rules::IsReservedTopLevelName(name)) continue;
    outcome.steps.push_back("fail    " + name + " (a name of the launcher's own at the top of the data folder)");
    canMoveAll = false;
  }
  for (const std::string& name : Children(children, std::string())) {
    canMoveAll = CanMoveInto(unpacked, children, name, outcome.data, outcome) && canMoveAll;
  }
  if (!canMoveAll) {
    outcome.complete = false;
    outcome.steps.push_back("discard the staging folder: the update cannot arrive whole, nothing is installed");
    return outcome;
  }
  for (const std::string& name : top) MoveInto(unpacked, children, name, outcome.data, outcome);
  if (!markerName.empty()) {
    MoveInto(unpacked, children, markerName, outcome.data, outcome);
    outcome.steps.back() += " (the marker, last)";
  }
  outcome.steps.push_back("discard the emptied staging folder (to the Recycle Bin)");
  return outcome;
}

bool ReadHostTree(const std::string& root, bool withContents, Tree& tree, std::string& error) {
  const ReleaseTree listed = ListRelease(root);
  if (!listed.problems.empty()) {
    error = listed.problems.front();
    return false;
  }
  for (const ReleaseEntry& entry : listed.entries) {
    Node node;
    node.isFolder = entry.isFolder;
    if (!entry.isFolder && withContents) {
      HostFile file = OpenHostFile(HostJoin(root, entry.path), "rb");
      if (!file) {
        error = entry.path + ": cannot be read";
        return false;
      }
      char buffer[65536];
      std::size_t got;
      while ((got = std::fread(buffer, 1, sizeof buffer, file.Get())) > 0) node.content.append(buffer, got);
      if (std::ferror(file.Get())) {
        error = entry.path + ": cannot be read";
        return false;
      }
    }
    tree[entry.path] = node;
  }
  return true;
}

}  // namespace packer

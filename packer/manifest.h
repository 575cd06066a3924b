#pragma once
// The manifest of an update folder: every entry with its size and SHA-256,
// so a game's downloader can check what it fetched before staging it.
//
// A text file beside the update folder (<update folder>.manifest), never in
// it, so it is never mistaken for game data. One entry a line, paths last
// (they may hold spaces), relative to the update folder with '\' separators:
//
//   rungame-update-manifest 1
//   from 1.0
//   to 1.1
//   marker update.ready
//   folder levels
//   file 1234 <sha256 hex> levels\level1.dat.zip
//   file 0 e3b0...b855 update.ready
//
// Folders come before what they hold; the marker's file comes last.
// format/rungame_format.h is the format's one reader and writer.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace packer {

extern const char kManifestHeader[];

// A manifest larger than this is not read: 64 MiB lists millions of files.
constexpr std::size_t kMaxManifestBytes = 64u * 1024 * 1024;

struct ManifestEntry {
  bool isFolder = false;
  std::uint64_t size = 0;
  std::string sha256;  // hex, files only
  std::string path;
};

struct Manifest {
  std::string from;
  std::string to;
  std::string marker;
  std::vector<ManifestEntry> entries;
  // Files of `from` that `to` lacks (their size and SHA-256 in `from`), and
  // such folders: the launcher removes them with the update.
  std::vector<ManifestEntry> removals;
};

std::string FormatManifest(const Manifest& manifest);

// The format's own writer and reader (format/rungame_format.h), in the
// packer's values. nullopt, with the reason in `error`, for text the reader
// refuses: no "from", "to" or marker line, a marker that is no plain file
// name, a path the launcher would not install as it is
// (rules::ReleaseNameProblem says why), an entry listed twice (in any letter
// case), a folder listed after what it holds or missing before it.
std::optional<Manifest> ParseManifest(const std::string& text, std::string& error);

// The manifest's default place: beside the update folder.
std::string DefaultManifestPath(const std::string& updateFolder);

}  // namespace packer

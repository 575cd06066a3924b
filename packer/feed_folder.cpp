#include "packer/feed_folder.h"

#include <cstdio>

#include "packer/files.h"

namespace packer {

const char kPartialSuffix[] = ".partial~packer";

std::string TextBytes(const FeedText& text) { return text.failed ? std::string() : std::string(text.data, text.size); }

std::string FeedPath(const std::string& feed, const std::string& url) {
  std::string relative = url;
  for (char& c : relative) c = c == '/' ? '\\' : c;
  return HostJoin(feed, relative);
}

bool WriteFeedFile(const std::string& path, const std::string& bytes, bool replace, std::string& error) {
  const auto write = [&bytes, &path](std::FILE* file, std::string& failed) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size()) return true;
    failed = "cannot write " + path + kPartialSuffix + " (is the disk full?)";
    return false;
  };
  return WriteFeedFileWith(path, write, replace, error);
}

bool WriteFeedFileWith(const std::string& path, const FeedFileWriter& write, bool replace, std::string& error) {
  const std::string partial = path + kPartialSuffix;
  // A leftover of an interrupted publish: only ever a plain file of ours.
  if (KindOf(partial) == EntryKind::File && !RemoveHostTree(partial)) {
    error = "cannot remove the leftover " + partial;
    return false;
  }
  HostFile file = CreateNewHostFile(partial, false);
  if (!file) {
    error = "cannot create " + partial;
    return false;
  }
  const std::string diskFull = "cannot write " + partial + " (is the disk full?)";
  const bool wrote = write(file.Get(), error);
  const bool written = wrote && std::fflush(file.Get()) == 0 && file.Close();
  const bool renamed = written && (replace ? ReplaceHostFile(partial, path) : RenameHostPath(partial, path));
  if (!renamed) {
    (void)file.Close();
    (void)RemoveHostTree(partial);
    if (wrote) error = written ? "cannot rename " + partial + " to " + path : diskFull;
    return false;
  }
  return true;
}

std::optional<PublicKey> PublicKeyArgument(const std::string& argument, std::string& error) {
  if (const auto key = HexToBytes<32>(argument)) return *key;
  return LoadPublicKey(argument, error);
}

}  // namespace packer

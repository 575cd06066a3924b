#pragma once
// A feed folder on the studio's disk: its relative URLs as host paths, and
// files written so that a web server serving the folder meanwhile never
// hands out half of one.

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "feed/feed_index.h"
#include "feed/feed_manifest.h"
#include "feed/feed_text.h"
#include "packer/files.h"
#include "packer/keys.h"

namespace packer {

// A struct of the feed library, owned: its `Free` runs once, at the end.
template <typename T, void (*Free)(T*)>
struct Owned {
  Owned() = default;
  ~Owned() { Free(&value); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  T value{};
};
using OwnedText = Owned<FeedText, FeedTextFree>;
using OwnedIndex = Owned<FeedIndex, FeedFreeIndex>;
using OwnedManifest = Owned<FeedManifest, FeedFreeManifest>;

// A written text's bytes; none when writing it ran out of memory.
std::string TextBytes(const FeedText& text);

// The signed feed file at `path` (at most `limit` bytes) read as `read`
// (FeedReadIndex, FeedReadManifest, FeedReadPacks) takes it with `key`;
// false with the reason otherwise.
template <typename T, void (*Free)(T*)>
[[nodiscard]] bool ReadSignedFeedFile(const std::string& path, std::size_t limit, const PublicKey& key,
                                      int (*read)(const char*, std::size_t, const unsigned char*, T*, const char**),
                                      Owned<T, Free>& owned, std::string& reason) {
  const auto text = ReadHostFile(path, limit);
  const char* why = "cannot be read";
  if (text && read(text->data(), text->size(), key.data(), &owned.value, &why)) return true;
  reason = why;
  return false;
}

// Files an interrupted write leaves behind end in this; no reader asks for one.
extern const char kPartialSuffix[];

// A feed-relative URL ("chunks/ab/ab12...") under `feed`, in the host's form.
std::string FeedPath(const std::string& feed, const std::string& url);

// `bytes` written to `path + kPartialSuffix`, then renamed to `path`:
// replacing a plain file there with `replace`, else only into a free name.
// On any failure (a full disk) nothing is left at either name.
[[nodiscard]] bool WriteFeedFile(const std::string& path, const std::string& bytes, bool replace, std::string& error);

// As WriteFeedFile, the bytes being those `write` puts into the open file,
// so that a large file need not be held in memory; `write` failing (its
// reason in `error`) leaves nothing, as a full disk does.
using FeedFileWriter = std::function<bool(std::FILE* file, std::string& error)>;
[[nodiscard]] bool WriteFeedFileWith(const std::string& path, const FeedFileWriter& write, bool replace,
                                     std::string& error);

// The key given as 64 hex digits, or the public key file of that name.
[[nodiscard]] std::optional<PublicKey> PublicKeyArgument(const std::string& argument, std::string& error);

}  // namespace packer

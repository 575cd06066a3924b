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
#include "packer/keys.h"

namespace packer {

// The feed library's texts, indexes and manifests, owned: freed once.
class OwnedText {
 public:
  OwnedText() = default;
  ~OwnedText() { FeedTextFree(&text); }
  OwnedText(const OwnedText&) = delete;
  OwnedText& operator=(const OwnedText&) = delete;
  std::string Bytes() const { return text.failed ? std::string() : std::string(text.data, text.size); }
  FeedText text{};
};

class OwnedIndex {
 public:
  OwnedIndex() = default;
  ~OwnedIndex() { FeedFreeIndex(&index); }
  OwnedIndex(const OwnedIndex&) = delete;
  OwnedIndex& operator=(const OwnedIndex&) = delete;
  FeedIndex index{};
};

class OwnedManifest {
 public:
  OwnedManifest() = default;
  ~OwnedManifest() { FeedFreeManifest(&manifest); }
  OwnedManifest(const OwnedManifest&) = delete;
  OwnedManifest& operator=(const OwnedManifest&) = delete;
  FeedManifest manifest{};
};

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

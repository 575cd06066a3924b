#pragma once
// A feed folder on the studio's disk: its relative URLs as host paths, and
// files written so that a web server serving the folder meanwhile never
// hands out half of one.

#include <optional>
#include <string>

#include "packer/keys.h"

namespace packer {

// Files an interrupted write leaves behind end in this; no reader asks for one.
extern const char kPartialSuffix[];

// A feed-relative URL ("chunks/ab/ab12...") under `feed`, in the host's form.
std::string FeedPath(const std::string& feed, const std::string& url);

// `bytes` written to `path + kPartialSuffix`, then renamed to `path`:
// replacing a plain file there with `replace`, else only into a free name.
// On any failure (a full disk) nothing is left at either name.
[[nodiscard]] bool WriteFeedFile(const std::string& path, const std::string& bytes, bool replace, std::string& error);

// The key given as 64 hex digits, or the public key file of that name.
[[nodiscard]] std::optional<PublicKey> PublicKeyArgument(const std::string& argument, std::string& error);

}  // namespace packer

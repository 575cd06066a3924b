#pragma once
// Shared by the feed's tests: a fixed signing key, texts signed with it,
// releases with large files, and the chunks a byte string cuts into.

#include <string>
#include <vector>

#include "packer/keys.h"
#include "tests/support/tree.h"

namespace feed_testing {

// The key pair of the seed `seed`, seed + 1, ..., seed + 31.
packer::KeyPair TestKey(unsigned char seed = 1);
// Its files written into `folder`: {secret key file, public key file}.
std::pair<std::string, std::string> WriteTestKey(const std::string& folder, unsigned char seed = 1);

// `body` (the lines after the key line) signed with `key` under `header`.
std::string Signed(const std::string& header, const std::string& body, const packer::KeyPair& key);

// Bytes with long repeats and noise, as game data is: zlib gets some.
std::string GameBytes(std::size_t size, unsigned seed);

// The chunk hashes (raw) `bytes` cuts into, and their sizes.
struct Cut {
  std::vector<std::string> hashes;
  std::vector<std::size_t> sizes;
};
Cut CutInto(const std::string& bytes);

// A minimal release at 1.<minor> with `files` added (path -> content).
testing_support::Tree Release(int minor, const std::vector<std::pair<std::string, std::string>>& files);

// A symbolic link at `link` to the folder or file at the absolute path
// `target`: a unix link under Wine, which makes no Windows one. True when
// the link is there.
bool MakeLink(const std::string& link, const std::string& target);

// Removes the tree at `folder`, links in it removed as links.
void RemoveLinkedTree(const std::string& folder);

}  // namespace feed_testing

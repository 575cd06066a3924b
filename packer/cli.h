#pragma once
// The packer's command line, apart from the process so tests can run it.
//
//   packer pack <previous release> <new release> <update folder>
//               [--manifest <file>] [--allow-deleted] [--sign <secret key file>]
//   packer verify <update folder> [--manifest <file>] [--key <public key file>]
//   packer keygen <secret key file> <public key file>
//   packer record <release> --key <secret key file>
//   packer publish <release> <feed folder> --key <secret key file> [--channel <name>]
//   packer verify <feed folder> --public-key <public key file or 64 hex digits>
//   packer dry-run <update folder> [--manifest <file>] [--onto <data folder>]
//               [--marker <name>]
//
// Exit codes, the same for every command: 0 done (written, intact,
// installable), 1 refused (or not intact, not installable, a path that is
// not what it must be), 2 usage (the command line's own shape: a missing or
// unknown argument). A trailing separator is accepted on any path.

#include <ostream>
#include <string>
#include <vector>

namespace packer {

constexpr int kExitDone = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

struct CliOptions {
  // A progress line on `err` while a pack takes more than a moment: only
  // when `err` is a terminal.
  bool progress = false;
};

int RunPacker(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
              const CliOptions& options = CliOptions());

}  // namespace packer

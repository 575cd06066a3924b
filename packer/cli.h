#pragma once
// The packer's command line, apart from the process so tests can run it.
//
//   packer pack <previous release> <new release> <update folder>
//               [--manifest <file>] [--allow-deleted] [--sign <secret key file>]
//   packer verify <update folder> [--manifest <file>] [--key <public key file>]
//   packer keygen <secret key file> <public key file>
//   packer dry-run <update folder> [--manifest <file>] [--onto <data folder>]
//               [--marker <name>]
//
// Exit codes: 0 done (written, intact, installable), 1 refused (or not intact,
// or not installable), 2 usage.

#include <ostream>
#include <string>
#include <vector>

namespace packer {

constexpr int kExitDone = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

int RunPacker(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace packer

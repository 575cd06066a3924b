#pragma once
// For the tests under Wine: the cross-built packer.exe run as a process.

#include <string>

#include "tests/support/harness.h"

namespace packer_testing {

// packer.exe beside the launcher of this build.
inline std::string PackerExe() {
  const std::string launcher = testing_support::LauncherExe();
  return testing_support::Join(launcher.substr(0, launcher.find_last_of('\\')), "packer.exe");
}

inline std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// Its exit code, or -1 when it did not end in time.
inline long RunPackerExe(const std::string& arguments) {
  testing_support::RunOptions options;
  options.arguments = arguments;
  return testing_support::RunProgram(PackerExe(), options);
}

}  // namespace packer_testing

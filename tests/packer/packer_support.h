#pragma once
// Shared by the packer's tests, native and under Wine: releases as trees
// (tests/support/tree), the command line run in process, sample bytes.

#include <string>
#include <vector>

#include "tests/support/tree.h"

namespace packer_testing {

using testing_support::AddFile;
using testing_support::AddFolder;
using testing_support::IsFolderEntry;
using testing_support::kFolderEntry;
using testing_support::ReadTree;
using testing_support::Tree;
using testing_support::TreeDifference;
using testing_support::WriteTree;

// A fresh, empty folder for the running test, below the working folder.
std::string FreshFolder();

// A minimal valid release: game.dll, game.xml with the marker update.ready,
// properties\version.xml at 1.<minor>.
Tree MinimalRelease(int minor, const std::string& gameDll = "MZ game module");
std::string GameXml(const std::string& marker = "update.ready", const std::string& company = "Acme Studio");
std::string VersionXml(int major, int minor);

struct CliResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};
CliResult RunCli(const std::vector<std::string>& arguments);

// Bytes that compress well, and bytes that do not.
std::string Compressible(std::size_t size, unsigned seed = 1);
std::string Incompressible(std::size_t size, unsigned seed = 1);
// The start of a real zip archive: what a shipped "x.zip" usually holds.
std::string ZipArchiveBytes(unsigned seed = 1);

}  // namespace packer_testing

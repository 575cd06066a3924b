#pragma once
// Shared by the packer's tests, native and under Wine: release trees written
// to real folders, the command line run in process, exact tree comparison.

#include <string>
#include <vector>

#include "packer/host_tree.h"

namespace packer_testing {

// A fresh, empty folder for the running test, below the working folder.
std::string FreshFolder();

// Adds `path` (and every folder on its way) to `tree`.
void AddFile(packer::Tree& tree, const std::string& path, const std::string& content);
void AddFolder(packer::Tree& tree, const std::string& path);
void WriteTree(const std::string& root, const packer::Tree& tree);
packer::Tree ReadTree(const std::string& root);

// "" when the trees hold the same names (letter case included), kinds and
// bytes; otherwise what differs.
std::string TreeDifference(const packer::Tree& actual, const packer::Tree& expected);

// A minimal valid release: game.dll, game.xml with the marker update.ready,
// properties\version.xml at 1.<minor>.
packer::Tree MinimalRelease(int minor, const std::string& gameDll = "MZ game module");
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

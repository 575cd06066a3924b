#include "tests/packer/packer_support.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "packer/cli.h"
#include "packer/files.h"

namespace packer_testing {

std::string FreshFolder() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string folder = std::string("scratch-") + info->test_suite_name() + "." + info->name();
  for (char& c : folder) {
    if (c == '/') c = '_';
  }
  EXPECT_TRUE(packer::RemoveHostTree(folder)) << folder;
  EXPECT_TRUE(packer::MakeHostFolder(folder)) << folder;
  return folder;
}

std::string GameXml(const std::string& marker, const std::string& company) {
  return "<?xml version=\"1.0\"?>\n<settings company=\"" + company +
         "\" product=\"Rocket Game\" lang=\"en\" update_semaphore=\"" + marker + "\" />\n";
}

std::string VersionXml(int major, int minor) {
  return "<version x=\"" + std::to_string(major) + "\" y=\"" + std::to_string(minor) + "\"/>\n";
}

Tree MinimalRelease(int minor, const std::string& gameDll) {
  Tree tree;
  AddFile(tree, "game.dll", gameDll);
  AddFile(tree, "game.xml", GameXml());
  AddFile(tree, "properties\\version.xml", VersionXml(1, minor));
  return tree;
}

CliResult RunCli(const std::vector<std::string>& arguments) {
  std::ostringstream out;
  std::ostringstream err;
  CliResult result;
  result.exitCode = packer::RunPacker(arguments, out, err);
  result.out = out.str();
  result.err = err.str();
  return result;
}

std::string Compressible(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = "abcdefgh \n"[random() % 10];
  return bytes;
}

std::string Incompressible(std::size_t size, unsigned seed) {
  std::mt19937 random(seed * 7919u + 1);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xff);
  return bytes;
}

std::string ZipArchiveBytes(unsigned seed) {
  // A local file header ("PK\3\4"), stored data, the end record: already
  // compressed data as far as gzip is concerned.
  return std::string("PK\x03\x04\x14\x00\x00\x00\x00\x00", 10) + Incompressible(200, seed) +
         std::string("PK\x05\x06", 4) + std::string(18, '\0');
}

}  // namespace packer_testing

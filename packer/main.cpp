// The studio's update packer: turns two releases into an update folder the
// launcher installs as they are, and checks update folders. See cli.h.
#include <iostream>
#include <string>
#include <vector>

#include "packer/cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return packer::RunPacker(arguments, std::cout, std::cerr);
}

// The studio's update packer: turns two releases into an update folder the
// launcher installs as they are, and checks update folders. See cli.h.
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "packer/cli.h"

namespace {

// The arguments as UTF-8, the packer's one encoding of names: on Windows
// from the wide command line, whatever the ANSI code page.
std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
  (void)argc;
  (void)argv;
  std::vector<std::string> arguments;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return arguments;
  for (int i = 1; i < count; ++i) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string argument(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
    if (length > 0) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &argument[0], length, nullptr, nullptr);
    argument.pop_back();
    arguments.push_back(argument);
  }
  LocalFree(wide);
  return arguments;
#else
  return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

bool ErrorsGoToATerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  packer::CliOptions options;
  options.progress = ErrorsGoToATerminal();
  return packer::RunPacker(Arguments(argc, argv), std::cout, std::cerr, options);
}

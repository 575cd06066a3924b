// Starts one Windows program and times it from inside Wine, so Wine's own
// unix start-up is not counted. Prints one line:
//   wall_ms=<start to exit> game_ms=<start to RunGame entry, or -1>
//   peak_kib=<peak working set while the game waits, or -1> exit=<code>
// Usage: benchdrv <working folder> <command line>
// The game module reads the same BENCH_* variables (see benchgame.cpp); with
// BENCH_SIGNAL set the driver reads the child's peak working set once the game
// signals, then creates <BENCH_SIGNAL>.measured.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Env(const char* name) {
  char buffer[1024];
  const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::string();
  return buffer;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

double Ms(LONGLONG ticks, LONGLONG frequency) { return 1000.0 * static_cast<double>(ticks) / frequency; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: benchdrv <working folder> <command line>\n");
    return 2;
  }
  const std::string stamp = Env("BENCH_STAMP");
  const std::string signal = Env("BENCH_SIGNAL");
  std::string commandLine = argv[2];

  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  QueryPerformanceCounter(&start);
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, argv[1], &startup, &process)) {
    std::fprintf(stderr, "benchdrv: CreateProcess failed: %lu\n", GetLastError());
    return 3;
  }
  long long peakKib = -1;
  if (!signal.empty()) {
    while (!Exists(signal) && WaitForSingleObject(process.hProcess, 2) == WAIT_TIMEOUT) {
    }
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (Exists(signal) && GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters)) {
      peakKib = static_cast<long long>(counters.PeakWorkingSetSize / 1024);
    }
    if (FILE* file = std::fopen((signal + ".measured").c_str(), "wb")) std::fclose(file);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  QueryPerformanceCounter(&end);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);

  double gameMs = -1;
  if (!stamp.empty()) {
    if (FILE* file = std::fopen(stamp.c_str(), "rb")) {
      long long entered = 0;
      if (std::fscanf(file, "%lld", &entered) == 1) gameMs = Ms(entered - start.QuadPart, frequency.QuadPart);
      std::fclose(file);
    }
  }
  std::printf("wall_ms=%.3f game_ms=%.3f peak_kib=%lld exit=%lu\n", Ms(end.QuadPart - start.QuadPart, frequency.QuadPart),
              gameMs, peakKib, exitCode);
  return 0;
}

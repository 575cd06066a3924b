#include <windows.h>

#include <vector>

#include "packer/cores.h"

namespace packer {
namespace {

struct Shared {
  const std::function<void(std::size_t)>* work;
  std::size_t count;
  volatile LONG next;
};

void Drain(Shared& shared) {
  for (;;) {
    const std::size_t i = static_cast<std::size_t>(InterlockedIncrement(&shared.next) - 1);
    if (i >= shared.count) return;
    (*shared.work)(i);
  }
}

DWORD WINAPI Helper(void* context) {
  Drain(*static_cast<Shared*>(context));
  return 0;
}

}  // namespace

void ForEachOnCores(std::size_t count, const std::function<void(std::size_t)>& work) {
  Shared shared{&work, count, 0};
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  std::vector<HANDLE> helpers;
  for (DWORD t = 1; t < system.dwNumberOfProcessors && t < count && t < 64; ++t) {
    const HANDLE helper = CreateThread(nullptr, 0, Helper, &shared, 0, nullptr);
    if (helper != nullptr) helpers.push_back(helper);
  }
  // The caller's thread works too, so the work is done even with no helper.
  Drain(shared);
  for (const HANDLE helper : helpers) {
    WaitForSingleObject(helper, INFINITE);
    CloseHandle(helper);
  }
}

}  // namespace packer

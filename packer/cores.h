#pragma once
// Work spread over the machine's cores. The Windows build's runtime has no
// std::thread (the win32-thread compilers keep the packer free of
// libwinpthread), so each system starts its threads its own way.

#include <cstddef>
#include <functional>

namespace packer {

// Calls work(0) to work(count - 1), each once, on up to as many threads as
// the machine has cores, and returns when all are done. `work` must be safe
// to call from several threads at once.
void ForEachOnCores(std::size_t count, const std::function<void(std::size_t)>& work);

}  // namespace packer

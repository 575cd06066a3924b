#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "packer/cores.h"

namespace packer {

void ForEachOnCores(std::size_t count, const std::function<void(std::size_t)>& work) {
  std::atomic<std::size_t> next{0};
  const auto drain = [&] {
    for (std::size_t i = next++; i < count; i = next++) work(i);
  };
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < cores && t < count; ++t) helpers.emplace_back(drain);
  drain();
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace packer

#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The whole content of the file at `path`, or nullopt when it cannot be read
// or holds more than `limit` bytes.
[[nodiscard]] std::optional<std::string> ReadBoundedFile(const std::string& path, std::size_t limit);

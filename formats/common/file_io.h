// Whole-file reads and atomic writes.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace rv {

// Reads a whole file; nullopt when it cannot be opened or read.
std::optional<std::vector<std::byte>> readFile(const std::string& path);

// Writes `bytes` to a temporary file in the target's folder, checking every write and the close,
// then renames it over `target`. On failure the target is untouched and the reason is returned.
std::optional<std::string> writeFileAtomic(const std::string& target, std::span<const std::byte> bytes);

}  // namespace rv

// Whole-file reads and atomic writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "model/huge_page_allocator.h"

namespace rv {

// Files larger than this are refused without being read.
inline constexpr std::uint64_t kMaxInputBytes = std::uint64_t(1) << 30;

// Why `path` cannot be read as a model file: not there, not a regular file (a directory, FIFO or
// device, also behind a symlink) or over kMaxInputBytes; nullopt when it can. Opens nothing.
std::optional<std::string> checkInputFile(const std::string& path);

// Reads a whole regular file of at most kMaxInputBytes; nullopt when it cannot be opened or read,
// with the reason in `why` when given.
std::optional<std::vector<std::byte>> readFile(const std::string& path, std::string* why = nullptr);
// The same into huge pages: a model file of megabytes is filled with a few page faults rather than
// one per 4 KB.
std::optional<HugePageVector<std::byte>> readModelFile(const std::string& path, std::string* why = nullptr);

// Writes `bytes` to a temporary file in the target's folder, checking every write and the close,
// then renames it over `target`. On failure the target is untouched and the reason is returned.
std::optional<std::string> writeFileAtomic(const std::string& target, std::span<const std::byte> bytes);

struct OutputFile {
    std::string path;
    std::vector<std::byte> bytes;
};
// Writes several files that belong together (a model and its buffer, material or textures): every
// file goes to a temporary file first, and only when all are complete are they renamed over their
// targets, the first one last. When a rename fails, the files already renamed that had no earlier
// version are removed again. On failure the reason is returned, naming the file.
std::optional<std::string> writeFilesAtomic(std::span<const OutputFile> files);

}  // namespace rv

// MSZIP, the block compression of "tzip" and "bzip" .x files: blocks of at most 32 KB, each a raw
// deflate stream that may refer back into the previous block's output.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "formats/common/format_error.h"
#include "model/huge_page_allocator.h"

namespace rv {

inline constexpr std::size_t kMszipBlockBytes = 32768;
// Refuses files that claim to expand past this (a few bytes of deflate can stand for 32 KB).
inline constexpr std::size_t kMszipMaxOutput = std::size_t(256) << 20;

// Expands the body of a compressed .x file: `file` is the whole file, header included. `out`
// receives the decompressed body without the 16-byte header. Every block must inflate to exactly
// its stated size and the blocks together to the stated total.
std::optional<FormatError> inflateMszip(std::span<const std::byte> file, HugePageVector<std::byte>& out);

// The reverse, as the X writer compresses: `header` is the 16-byte header to put in front (its
// format field should say "tzip" or "bzip"), `body` the uncompressed text or binary body. Each
// block is compressed with the previous one as its dictionary. Empty when zlib fails or the body
// is too large for the 32-bit size field.
std::vector<std::byte> deflateMszip(std::span<const std::byte> header, std::span<const std::byte> body);

}  // namespace rv

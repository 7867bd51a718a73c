// Encoding decoded images back into files.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "runtime/image.h"

namespace rv {

// The image as a PNG file (8-bit RGBA); nullopt when it is empty or its pixels do not match its
// size.
std::optional<std::vector<std::byte>> encodePng(const Image& image);

// The image as a 24-bit BMP file, alpha dropped (the BMP that old Windows loaders all read);
// nullopt as for encodePng.
std::optional<std::vector<std::byte>> encodeBmp(const Image& image);

}  // namespace rv

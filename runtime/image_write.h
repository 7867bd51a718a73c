// PNG encoding of decoded images, for rendered frames and exported textures.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/image.h"

namespace rv {

// The image as PNG bytes (RGBA, rows top to bottom); empty when it holds no pixels. The same
// image always gives the same bytes.
std::vector<std::uint8_t> encodePng(const Image& image);

}  // namespace rv

// DDS (DirectDraw Surface) textures, the usual texture files of Direct3D 9 models.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "runtime/image.h"

namespace rv {

// Decodes the top mip level of a DDS file: uncompressed 24- and 32-bit RGB(A) described by channel
// masks, and DXT1, DXT3 and DXT5 (BC1 to BC3) blocks. nullopt for every other pixel format, for
// cube maps, volume textures and DX10 headers, for a width or height of 0 or over 16384, and when
// the file is shorter than its top level.
std::optional<Image> decodeDds(std::span<const std::byte> bytes);

}  // namespace rv

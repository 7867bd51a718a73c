#pragma once

#include "formats/common/format_io.h"

namespace rv {

// Reads texture coordinates as the file holds them, in pixels of each face's image.
std::optional<FormatError> readMx(std::span<const std::byte> file, Model& model, ReadContext& ctx);
// Divides the texture coordinates of a model read by readMx from `file` by the width and height
// of each face's image, once its texture entries carry their sizes. Faces whose image has no size
// keep their coordinates. Does nothing when no image has a size.
void scaleMxUvsToTextures(Model& model, std::span<const std::byte> file);
std::optional<FormatError> writeMx(const Model& model, WriteContext& ctx);

}  // namespace rv

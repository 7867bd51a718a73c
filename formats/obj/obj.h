// Wavefront OBJ import: one group per material used, faces of 3 or 4 corners kept, larger ones
// triangulated, lines and points as 2- and 1-corner polygons; the .mtl comes through
// ctx.companion.
// Wavefront OBJ export: the model's tables as "v", "vt" and "vn", polygons kept as they are (lines
// as "l"), one material per group in an .mtl beside it, textures copied next to the output.
// Coordinates turn from the model's left-handed system to OBJ's right-handed one (z negated,
// corner order reversed).
#pragma once

#include "formats/common/format_io.h"

namespace rv {

std::optional<FormatError> readObj(std::span<const std::byte> file, Model& model, ReadContext& ctx);

// The .obj in ctx.bytes; its "%s.mtl" and the texture copies as side files beside ctx.outputPath.
std::optional<FormatError> writeObj(const Model& model, WriteContext& ctx);

}  // namespace rv

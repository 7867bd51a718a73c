// Wavefront OBJ export: the model's tables as "v", "vt" and "vn", polygons kept as they are (lines
// as "l"), one material per group in an .mtl beside it, textures copied next to the output.
// Coordinates turn from the model's left-handed system to OBJ's right-handed one (z negated,
// corner order reversed).
#pragma once

#include "formats/common/format_io.h"

namespace rv {

// The .obj in ctx.bytes; its "%s.mtl" and the texture copies as side files beside ctx.outputPath.
std::optional<FormatError> writeObj(const Model& model, WriteContext& ctx);

}  // namespace rv

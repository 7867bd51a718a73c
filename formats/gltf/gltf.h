// glTF 2.0 export: one mesh with a primitive and a material per group, textures embedded, the
// skeleton as a skin and the motions as animations. Coordinates turn from the model's left-handed
// system to glTF's right-handed one (z negated, winding reversed).
#pragma once

#include "formats/common/format_io.h"

namespace rv {

// The binary form: JSON and buffer in one .glb.
std::optional<FormatError> writeGlb(const Model& model, WriteContext& ctx);
// The text form: the .gltf in ctx.bytes, its buffer as "%s.bin" beside ctx.outputPath.
std::optional<FormatError> writeGltf(const Model& model, WriteContext& ctx);

}  // namespace rv

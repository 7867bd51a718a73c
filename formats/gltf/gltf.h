// glTF 2.0 import: the meshes of the default scene with their node transforms, one group per
// material, embedded images kept as the model's own, the skin and animations where the model can
// hold them.
// glTF 2.0 export: one mesh with a primitive and a material per group, textures embedded, the
// skeleton as a skin and the motions as animations. Coordinates turn from the model's left-handed
// system to glTF's right-handed one (z negated, winding reversed).
#pragma once

#include "formats/common/format_io.h"

namespace rv {

// Reads a .glb or a .gltf (told apart by the bytes); buffers and images outside the file come
// through ctx.companion.
std::optional<FormatError> readGltf(std::span<const std::byte> file, Model& model, ReadContext& ctx);

// The binary form: JSON and buffer in one .glb.
std::optional<FormatError> writeGlb(const Model& model, WriteContext& ctx);
// The text form: the .gltf in ctx.bytes, its buffer as "%s.bin" beside ctx.outputPath.
std::optional<FormatError> writeGltf(const Model& model, WriteContext& ctx);

}  // namespace rv

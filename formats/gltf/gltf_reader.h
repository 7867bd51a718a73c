// What the parts of the glTF reader share.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "formats/common/format_io.h"
#include "formats/gltf/tinygltf.h"

namespace rv {

// Where a model position came from: the node that instanced the mesh, the primitive and the
// vertex index in its accessors.
struct GltfVertexOrigin {
    int node = -1;
    int mesh = -1;
    int primitive = -1;
    std::uint32_t vertex = 0;
};

// Bones, skin weights and motions from the document's skin and animations for a model whose
// positions came from `origins` (one per position). What the model cannot hold is dropped with a
// warning.
std::optional<FormatError> readGltfSkin(const tinygltf::Model& gltf, std::span<const GltfVertexOrigin> origins,
                                        Model& model, ReadContext& ctx);

}  // namespace rv

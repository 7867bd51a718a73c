#include "formats/gltf/gltf_reader.h"

namespace rv {

std::optional<FormatError> readGltfSkin(const tinygltf::Model&, std::span<const GltfVertexOrigin>, Model&,
                                        ReadContext&) {
    return std::nullopt;
}

}  // namespace rv

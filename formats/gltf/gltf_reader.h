// What the parts of the glTF reader share.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "formats/common/format_io.h"
#include "formats/gltf/tinygltf.h"

namespace rv {

// What the reader takes in before the loader's limits apply, so that a larger file can still be
// simplified to fit: 16 times the model's limits.
inline constexpr std::size_t kGltfMaxPolygons = 16 * std::size_t(kMaxPolygons);
inline constexpr std::size_t kGltfMaxEntries = 16 * std::size_t(kMaxTableEntries);

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

namespace rv {

// The reason when buffer view `view` does not exist or does not lie inside its buffer.
std::optional<std::string> checkGltfView(const tinygltf::Model& gltf, int view);
// The reason when accessor `accessor` does not exist or does not lie inside its buffer views (the
// readers below check it themselves). Only what the model uses is checked: files in the wild hold
// unused views past their buffers.
std::optional<std::string> checkGltfAccessor(const tinygltf::Model& gltf, int accessor);

// The elements of accessor `accessor` as floats, `components` per element (its type's count):
// normalised integers scaled to 0..1 or -1..1, other integers as they are, sparse substitutions
// applied.
// An accessor whose type has a count of components not in `allowed` (when given) is refused before
// anything is allocated.
std::optional<std::string> readGltfFloats(const tinygltf::Model& gltf, int accessor, std::vector<float>& out,
                                          int& components, std::initializer_list<int> allowed = {});
// The elements of an unsigned SCALAR accessor (byte, short or int).
std::optional<std::string> readGltfIndices(const tinygltf::Model& gltf, int accessor, std::vector<std::uint32_t>& out);

}  // namespace rv

namespace rv {

// The reason when a member the reader uses has the wrong JSON type ("materials[0].name is not a
// string"); tinygltf passes over most of them silently.
std::optional<std::string> checkGltfJsonTypes(const nlohmann::json& root);

}  // namespace rv

namespace rv {

// The root nodes of the default scene (else scene 0, else every node without a parent), after
// checking that every node has at most one parent and that no node is its own ancestor.
std::optional<std::string> gltfSceneRoots(const tinygltf::Model& gltf, std::vector<int>& roots);

// How a material shows on the corners of its primitives.
struct GltfLook {
    int group = 0;
    std::array<float, 4> color{1, 1, 1, 1};  // multiplies COLOR_0
    int texCoord = 0;  // the TEXCOORD_n set of the base colour texture
    // u' = uv[0] u + uv[1] v + uv[2], v' = uv[3] u + uv[4] v + uv[5] (KHR_texture_transform)
    std::array<float, 6> uv{1, 0, 0, 0, 1, 0};

    std::array<float, 2> textureCoordinate(float u, float v) const {
        return {uv[0] * u + uv[1] * v + uv[2], uv[3] * u + uv[4] * v + uv[5]};
    }
};

// Reads the meshes of the default scene (else scene 0, else every root node) into the model's
// tables and polygons, one instance per node that uses a mesh, with one origin per position made.
// lookOf(material) gives the look of a material index (-1 for none) and makes its group.
std::optional<std::string> readGltfMeshes(const tinygltf::Model& gltf, const std::function<GltfLook(int)>& lookOf,
                                          Model& model, std::vector<GltfVertexOrigin>& origins);

}  // namespace rv

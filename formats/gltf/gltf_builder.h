// The glTF document under construction, shared by the mesh and the skeleton parts of the writer.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "formats/gltf/tinygltf.h"

#include "formats/common/format_io.h"

namespace rv::gltf {

struct Builder {
    tinygltf::Model doc;
    std::vector<unsigned char> bin;  // buffer 0

    // Appends bytes as a buffer view, 4-byte aligned; target 0 for none.
    int addView(const void* data, std::size_t bytes, int target = 0);
    // An accessor over `count` elements of `type` (TINYGLTF_TYPE_*) made of `componentType`
    // components, in a view of its own. min and max are given for POSITION and animation input.
    int addAccessor(const void* data, std::size_t count, int componentType, int type, int target,
                    const std::vector<double>& min = {}, const std::vector<double>& max = {});
};

// A float vector accessor with its per-component min and max.
int addFloats(Builder& b, std::span<const float> values, int components, int type, int target, bool bounds);

// The model's left-handed coordinates in glTF's right-handed ones: z negated.
inline std::array<float, 3> turned(float x, float y, float z) { return {x, y, -z}; }
// A rotation conjugated by the same mirror.
inline std::array<float, 4> turnedRotation(const std::array<float, 4>& q) { return {-q[0], -q[1], q[2], q[3]}; }

// True when the model carries more than the two bones every new model has.
bool hasSkeleton(const Model& model);
// The joints and weights of one position, as the skinning uses them: `bone` alone unless the weight
// lies strictly between 0 and 1 and the second bone differs; bones past the bone count become 0.
void skinOf(const Model& model, std::int32_t position, std::array<std::uint8_t, 4>& joints,
            std::array<float, 4>& weights);
// Adds the bones as nodes under one skeleton root, the skin of `meshNode` and one animation per
// motion with bone keys.
void addSkeleton(Builder& b, const Model& model, int meshNode, WriteContext& ctx);

}  // namespace rv::gltf

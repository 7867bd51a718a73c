// What the skin and the animation parts of the glTF reader share: accessor values, matrices and
// the joints as the model's bones.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "formats/gltf/gltf_reader.h"

namespace rv::gltf {

using Matrix4 = std::array<double, 16>;  // column-major, column vectors, as glTF stores matrices
inline constexpr Matrix4 kIdentity4{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

Matrix4 multiply(const Matrix4& a, const Matrix4& b);  // a * b: b applies first
std::optional<Matrix4> inverse(const Matrix4& m);  // nullopt when singular
// Translation * rotation (unit quaternion x, y, z, w) * scale.
Matrix4 composeTrs(const std::array<double, 3>& t, const std::array<double, 4>& q, const std::array<double, 3>& s);
// glTF's right-handed matrix in the model's left-handed space, or back: conjugated by z negation.
Matrix4 mirrored(const Matrix4& m);

// A node's transform at rest: its matrix, else its translation, rotation and scale.
struct NodeTrs {
    std::array<double, 3> t{0, 0, 0};
    std::array<double, 4> r{0, 0, 0, 1};
    std::array<double, 3> s{1, 1, 1};
    std::optional<Matrix4> matrix;  // set when the node gives a matrix
};
NodeTrs nodeTrs(const tinygltf::Node& node);

// The elements of an accessor as doubles, as readGltfFloats reads them; why not when the accessor
// does not hold `components` per element.
std::optional<std::string> accessorValues(const tinygltf::Model& doc, int accessor, int components,
                                          std::vector<double>& out);

// The kept skin's joints as the model's bones. Bone 0 is the model's fixed root: the first joint
// when it never leaves the origin, else a bone of its own (node -1).
struct GltfRig {
    std::vector<int> nodeParent;  // per document node, -1 for roots
    std::vector<bool> carriesMesh;  // per document node: a mesh of the model hangs there or below
    std::vector<int> boneNode;  // per bone
    std::vector<int> boneParent;  // per bone, an earlier bone
    std::vector<Matrix4> inverseBind;  // per bone, glTF space
    std::vector<std::array<double, 3>> rest;  // per bone, global rest position in model space
};

// Turns the document's animations into the model's motions over the rig's bones, sampled at the
// preview's frame rate. The bones' rest and names are already in the model.
std::optional<FormatError> readGltfMotions(const tinygltf::Model& doc, const GltfRig& rig, Model& model,
                                           ReadContext& ctx);

// "FILE: " for warnings, nothing when the context names no file.
std::string warningPrefix(const ReadContext& ctx);

}  // namespace rv::gltf

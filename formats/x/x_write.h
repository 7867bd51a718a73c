// The pieces of the X writer: the indexed mesh it writes, built once from the model, and the two
// encodings of it (binary, text). The compressed form is the binary one in MSZIP blocks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "formats/common/format_io.h"

namespace rv {

// One written vertex: a corner's values, compared bit for bit when corners are merged. The colour
// is the model's (0..255, untinted); the encoders scale it.
struct XWriteVertex {
    std::array<float, 3> position{};
    std::array<float, 3> normal{};
    std::array<float, 2> uv{};
    std::array<float, 4> color{255, 255, 255, 255};
};

struct XWriteMaterial {
    std::array<float, 4> color{1, 1, 1, 1};  // faceColor, 0..1
    bool hasTexture = false;
    std::string_view texture;  // the texture entry's fileName bytes; points into the model
};

struct XWriteMesh {
    std::vector<XWriteVertex> vertices;  // in first-use order
    std::vector<std::array<std::uint32_t, 3>> triangles;
    std::vector<std::uint32_t> triangleMaterials;  // one per triangle, always < materials.size()
    std::vector<XWriteMaterial> materials;  // never empty
    bool hasColors = false;  // some vertex is not white: MeshVertexColors is written
    ModelColor tint{255, 255, 255, 255};  // applied to vertex colours when they are written
};

// Builds the mesh the writer writes: the fan triangles of every polygon of 3 or more corners over
// shared vertices, one material per group. Adds its warnings (lines and points left out, texture
// names a text file cannot hold) and the texture files the output names to `ctx`. Refuses a model
// without triangles.
std::optional<FormatError> buildXWriteMesh(const Model& model, WriteContext& ctx, XWriteMesh& out);

// A standard template as the writer declares it.
struct XTemplateMember {
    std::string_view type;  // "DWORD", "FLOAT", "STRING" or a template name
    std::string_view name;
    std::string_view dimension;  // empty unless an array
};
struct XTemplateDecl {
    std::string_view name;
    std::string_view guid;  // upper-case hex, as in the documentation
    std::span<const XTemplateMember> members;
    std::string_view restriction;  // "" closed, "..." open, else the one template allowed
    std::string_view restrictionGuid;
};
// The templates `mesh` uses, in order of first use.
std::vector<const XTemplateDecl*> xTemplatesUsed(const XWriteMesh& mesh);

// Append the whole file, header included, to `out`.
void appendXBinary(const XWriteMesh& mesh, std::vector<std::byte>& out);
void appendXText(const XWriteMesh& mesh, std::vector<std::byte>& out);

}  // namespace rv

// The one mesh that the D3DX loader makes of an .x file: every Mesh of the file, with its frame
// transforms applied, merged into one vertex table, one triangle list with a material per
// triangle, and one material list.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/common/format_error.h"
#include "formats/x/x_parser.h"

namespace rv {

struct XMaterial {
    std::array<float, 4> diffuse{0.5f, 0.5f, 0.5f, 0.0f};
    float power = 0;
    std::array<float, 3> specular{0.5f, 0.5f, 0.5f};
    std::array<float, 3> emissive{0, 0, 0};
    bool hasTexture = false;
    std::string texture;  // bytes as stored in the file
    bool standIn = false;  // the loader's default for a mesh that has no Material of its own
};

struct XMesh {
    std::vector<std::array<float, 3>> positions;
    std::vector<std::array<float, 3>> normals;  // zero where the file gives none
    std::vector<std::uint32_t> colors;  // D3DCOLOR (A R G B from the top byte); 0 when absent
    std::vector<std::array<float, 2>> uvs;  // zero where the file gives none
    std::vector<std::array<std::uint32_t, 3>> triangles;  // the kept triangles
    std::vector<std::uint32_t> attributes;  // material of each kept triangle
    std::vector<XMaterial> materials;  // never empty
    std::uint64_t triangleCount = 0;  // every triangle of the file, kept or not
};

struct XMeshLimits {
    std::size_t maxTriangles = SIZE_MAX;  // triangles past this are counted, not kept
    std::size_t maxVertices = std::size_t(1) << 22;  // refuse beyond (instancing can multiply data)
    std::size_t maxPlacements = std::size_t(1) << 18;  // frame and mesh visits
};

// Builds the merged mesh of a parsed file. Refuses a file without any Mesh, counts that pass the
// values that follow them, and face indices past the vertex list.
std::optional<FormatError> buildXMesh(const XDocument& doc, XMesh& out, const XMeshLimits& limits = {});

// D3DCOLOR of a colour given as floats: each clamped to 0..1, scaled to 255 and rounded.
std::uint32_t packXColor(float r, float g, float b, float a);

}  // namespace rv

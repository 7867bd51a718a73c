// What the fixed-function frame and the effect frame share on the OpenGL side: the attribute
// locations, the two vertex layouts, Direct3D's depth range, the light's direction and the
// polygon mode of a group's draw style.
#pragma once

#include <cstdint>

#include <epoxy/gl.h>

#include "runtime/matrix.h"

namespace rv {

// Attribute locations shared by every vertex layout and every program.
enum VertexAttribute : GLuint {
    kAttrPosition = 0,
    kAttrNormal = 1,
    kAttrDiffuse = 2,
    kAttrSpecular = 3,
    kAttrUV = 4,
    kAttrBoneIndices = 5,
    kAttrBoneWeight = 6,
};

// Binds the vertex inputs a program may declare (aPosition, aNormal, aDiffuse, aSpecular, aUV,
// aBoneIndices, aBoneWeight) to their locations; call before linking.
void bindVertexInputs(GLuint program);

// Render mode 0's vertex (and the grid's): 40 bytes with a specular colour.
struct FanVertex {
    float x, y, z;
    float nx, ny, nz;
    std::uint32_t diffuse;
    std::uint32_t specular;
    float u, v;
};
static_assert(sizeof(FanVertex) == 40);

// Fan: FanVertex. Prepared: PreparedVertex (36 bytes, no specular colour; the specular
// attribute then reads as black).
enum class VertexLayout { Prepared, Fan };

// Points the bound vertex array's position, normal, colours and uv at the bound array buffer.
void setVertexLayout(VertexLayout layout);

// Maps Direct3D's depth range 0..1 onto OpenGL's -1..1: z' = 2z - w.
inline constexpr Mat4 kDepthRemap{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 2, 0, 0, 0, -1, 1};

// A Direct3D projection as OpenGL clips it.
inline Mat4 glProjection(const Mat4& projection) { return multiply(projection, kDepthRemap); }

// The direction a light at `position` shines aiming at `target`; +z when the two coincide.
Vec3 lightDirection(const Vec3& position, const Vec3& target);

// A group's draw style (its shadeParam).
inline constexpr int kStyleHidden = 0, kStylePoints = 1, kStyleWireframe = 2, kStyleFlat = 3;

// The polygon mode of a group: points and wireframe by its style, else the model's fill mode
// (0 points, 1 wireframe, others solid).
GLenum polygonModeOf(int style, std::uint32_t modelFillMode);

// Packs 8-bit components as a Direct3D colour: alpha << 24 | red << 16 | green << 8 | blue.
inline std::uint32_t argb(int a, int r, int g, int b) {
    return std::uint32_t(a & 0xff) << 24 | std::uint32_t(r & 0xff) << 16 | std::uint32_t(g & 0xff) << 8 |
           std::uint32_t(b & 0xff);
}

}  // namespace rv

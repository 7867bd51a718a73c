// The fixed-function frame's GL state: the clear and the default state block, the light and
// material, the world transform, a group's draw state, and the reference grid.
#pragma once

#include <array>
#include <cstddef>

#include <epoxy/gl.h>

#include "model/model.h"
#include "preview/renderer.h"
#include "preview/shaders.h"
#include "runtime/matrix.h"

namespace rv {

// Inverse transpose of the upper 3x3 of a row-vector matrix, as a 3x3 row-major array. Normals
// go through it; a singular matrix gives zeros (and so unlit normals).
std::array<float, 9> normalMatrixOf(const Mat4& m);

// Binds and clears the framebuffer and sets Direct3D's default state block as the preview
// uses it (depth LEQUAL, alpha blending, clockwise fronts).
void beginFixedFrame(GLuint framebuffer, int width, int height, const SceneView& view);
// The state the grid of the effect frame expects: depth, alpha blending, culling, solid fill.
void restoreFixedState();

// Uses the program with the frame's light and material.
void setFixedLight(const FixedFunctionProgram& p, const SceneView& view);
// Sets world x view x projection, world x view and the normal matrix.
void setFixedWorld(const FixedFunctionProgram& p, const SceneView& view, const Mat4& world);
// Binds group g's texture (0 for none) and sets its specular, fill, shading, alpha test and
// texture scroll.
void setFixedGroupState(const FixedFunctionProgram& p, const Model& model, std::size_t g, GLuint texture,
                        const std::array<float, 2>& scroll);

// The reference grid: unlit lines in world space.
class GridLines {
public:
    void create();
    void release();
    // Draws with the fixed-function program into whatever target is bound.
    void draw(const FixedFunctionProgram& p, const SceneView& view) const;

private:
    GLuint vao_ = 0, buffer_ = 0;
    GLsizei count_ = 0;
};

}  // namespace rv

// The fixed-function frame's GL state: the clear and the default state block, the light and
// material, the world transform, a group's draw state, and the reference grid.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

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

// The fixed-function programs, one per feature set, each built on first use, with the frame's
// light and transforms applied to a program when it is next used.
class FixedPrograms {
public:
    // Builds the programs every frame uses; false with the compiler's text when the driver refuses
    // them. The program that switches every feature by uniforms is built only to stand in for a
    // feature set whose own program does not build.
    bool build(std::string* error);
    void release();
    bool ready() const { return sets_[0].program.program != 0; }

    // The frame's light and transforms for what is drawn with `world`.
    void setFrame(const SceneView& view, const Mat4& world);
    // Uses the program of a set of FixedFeature bits, its frame uniforms brought up to date.
    const FixedFunctionProgram& use(unsigned features);
    // A group's alpha reference (0..255) and texture scroll, on the program in use.
    void setGroup(float alphaRef, const std::array<float, 2>& scroll);
    // Another program was used since (an effect's): the next use() binds again.
    void forgetBinding() { current_ = nullptr; }

private:
    struct Slot {
        FixedFunctionProgram program;
        bool tried = false;
        std::uint64_t frame = 0;  // the frame uniforms it holds
        float alphaRef = -1;
        std::array<float, 2> scroll{-1, -1};
    };
    struct FrameUniforms {
        Mat4 worldViewProjection{}, worldView{};
        std::array<float, 9> normal{};
        Vec3 lightPosition{}, lightDiffuse{}, ambient{};
    };
    Slot general_;
    std::array<Slot, kFixedFeatureSets> sets_;
    Slot* current_ = nullptr;
    FrameUniforms frame_;
    std::uint64_t frameStamp_ = 1;
};

// The features group g needs: `textured` when a texture is bound, `vertexSpecular` on the path
// whose vertices carry a specular colour (render mode 0).
unsigned fixedGroupFeatures(const ModelGroup& group, bool textured, bool vertexSpecular, const SceneView& view);

// The reference grid: unlit lines in world space.
class GridLines {
public:
    void create();
    void release();
    // Draws with the unlit fixed-function program into whatever target is bound.
    void draw(FixedPrograms& programs, const SceneView& view) const;

private:
    GLuint vao_ = 0, buffer_ = 0;
    GLsizei count_ = 0;
};

}  // namespace rv

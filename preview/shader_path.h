// The effect path of the preview: its render targets and shadow map, the 3-D effect frame
// (shadow, scene, reflection, the application's drawing, depth of field, bloom, blend) and the
// 2-D effect frame that puts the result on the window through one of seven post effects.
#pragma once

#include <array>
#include <functional>
#include <vector>

#include <epoxy/gl.h>

#include "model/model.h"
#include "preview/effects.h"
#include "preview/prepare.h"
#include "preview/renderer.h"
#include "runtime/matrix.h"

namespace rv {

inline constexpr int kPostEffectCount = 7;

// The 2-D technique of a post effect 0..6 (others read as 0).
const char* postEffectTechnique(int postEffect);

// One group as the effect frame draws it.
struct EffectGroupDraw {
    std::size_t index = 0;
    const ModelGroup* group = nullptr;
    GLuint texture = 0;  // 0: untextured
    float du = 0, dv = 0;  // texture scroll
    bool skinned = false;  // skinned on the GPU: "BoneFlag" and "matWorld" apply
    GLuint reflectionTexture = 0;  // mapC's texture, 0 for none
};
// Called per drawn group with the group's vertex array bound; `issue` draws it once.
using EffectGroupVisitor = std::function<void(const EffectGroupDraw&, const std::function<void()>& issue)>;

struct ShaderFrameInput {
    GLuint framebuffer = 0;  // the window's
    int width = 0, height = 0;
    const SceneView* view = nullptr;
    // Walks the shown model's groups (empty: no model). Returns the triangles one walk drew.
    std::function<int(const EffectGroupVisitor&)> model;
    bool modelLight = true;  // the model's light flag
    std::vector<Mat4> skinMatrices;  // per bone, for GPU-skinned models
    std::function<void()> grid;  // the application's drawing, into the bound target
    std::function<void()> restoreFixedState;  // before the grid: the frame's usual GL state
    // Whether every vertex the model walk draws lies at a view depth (z after `view`) within
    // [nearest, farthest]; empty when the drawn positions are not known on the CPU.
    std::function<bool(const Mat4& view, float nearest, float farthest)> depthsWithin;
};

// Whether every vertex of `prepared` lies at a view depth within [nearest, farthest], allowing
// for the rounding of the GPU's float transform; false for a NaN position.
bool preparedDepthsWithin(const PreparedModel& prepared, const Mat4& view, float nearest, float farthest);

class ShaderPath {
public:
    ShaderPath() = default;
    ShaderPath(const ShaderPath&) = delete;
    ShaderPath& operator=(const ShaderPath&) = delete;

    // Which floating-point shadow formats the context may use; a seam for contexts without them.
    void setFloatFormats(bool r32f, bool r16f) {
        allowR32F_ = r32f;
        allowR16F_ = r16f;
    }

    // Makes the targets on the first shader frame (logging the set-up) and again after they
    // were released. False when no shadow map can be made: shader mode must go off for good.
    bool ensureTargets(int width, int height);
    bool ready() const { return ready_; }
    bool refused() const { return refused_; }
    int texSize() const { return texSize_; }
    // 0 for none, else GL_R32F or GL_R16F.
    GLenum shadowFormat() const { return shadowFormat_; }

    // Deletes the targets (context current) / forgets them (context gone).
    void releaseTargets();
    void abandonTargets();

    // Draws the 3-D and then the 2-D effect frame; false (nothing drawn) when an effect is
    // unavailable, so that the caller draws the fixed-function frame instead.
    bool drawFrame(EffectLibrary& effects, const ShaderFrameInput& in, FrameCounts& counts);

    // The 2-D frame's clock: grows by 0.001 per quad drawn.
    float time2D() const { return time2D_; }

private:
    struct Target {
        GLuint texture = 0;
    };
    void bindTarget(GLuint colour, GLuint depthRenderbuffer, GLenum target = GL_TEXTURE_2D);
    void drawQuad(float x0, float y0, float x1, float y1, float depth);
    bool createTargets();
    void createShadowMap();
    void createCube();
    void createQuad();

    // The passes of the 3-D frame, in order, then the 2-D frame.
    void setFrameParameters(Effect& e3, const ShaderFrameInput& in);
    void drawModel(Effect& e3, const ShaderFrameInput& in, const char* technique, bool onlyReflective,
                   FrameCounts& counts);
    void shadowPass(Effect& e3, const ShaderFrameInput& in, FrameCounts& counts);
    void scenePass(Effect& e3, const ShaderFrameInput& in, FrameCounts& counts);
    bool depthOfFieldBlurs(const ShaderFrameInput& in) const;
    void depthOfFieldPass(Effect& e3, const ShaderFrameInput& in, FrameCounts& counts);
    void bloomPass(Effect& e3, const ShaderFrameInput& in, FrameCounts& counts);
    void blendPass(Effect& e3, const ShaderFrameInput& in);
    void postPass(Effect& e2, const ShaderFrameInput& in, GLuint picture);

    bool allowR32F_ = true, allowR16F_ = true;
    bool setUpLogged_ = false, ready_ = false, refused_ = false;
    int texSize_ = 1024;
    int width_ = 0, height_ = 0;
    // Scene, depth of field, bloom, bloom blur, blend and one spare, as the six colour targets.
    std::array<GLuint, 6> colour_{};
    GLuint sceneDepth_ = 0, shadowMap_ = 0, shadowDepth_ = 0, cube_ = 0;
    GLenum shadowFormat_ = 0;
    GLuint fbo_ = 0, quadVao_ = 0, quadBuffer_ = 0;
    float time2D_ = 0;
    float focusDepth_ = 0.1f;  // the frame's "FocusDepth"
};

}  // namespace rv

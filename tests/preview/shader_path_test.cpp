// The effect frame's short cuts: the passes it leaves out where they cannot change a pixel (the
// depth of field over a model wholly in focus, and then the blend) give the very same picture as
// the frame that draws them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "model/mesh.h"
#include "preview/effects.h"
#include "preview/gl_common.h"
#include "preview/headless_device.h"
#include "preview/prepare.h"
#include "preview/shader_path.h"
#include "runtime/matrix.h"
#include "tests/support/make_model.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

constexpr int kWidth = 200, kHeight = 150;
constexpr float kPi = 3.14159265358979f;

using test::addQuad;

// A ground of 10 x 10 in 8 x 8 quads facing up and, 3 above its middle, a 2 x 2 plate that
// shadows it.
Model makeGroundAndPlate() {
    Model m;
    m.groups.push_back(m.groups[0]);
    m.groups[0].color = {200, 190, 170, 255};
    m.groups[1].color = {60, 60, 220, 255};
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i) {
            const float x0 = -5 + 1.25f * float(i), x1 = x0 + 1.25f, z0 = 5 - 1.25f * float(j), z1 = z0 - 1.25f;
            addQuad(m, 0, {x0, 0, z0}, {x1, 0, z0}, {x1, 0, z1}, {x0, 0, z1});
        }
    addQuad(m, 1, {-1, 3, 1}, {1, 3, 1}, {1, 3, -1}, {-1, 3, -1});
    computeNormals(m);
    return m;
}

class ShaderFrame : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CACHE_HOME", cache_.path().c_str(), 1);
        if (!device_.create(kWidth, kHeight))
            GTEST_SKIP() << "no OpenGL 3.3 context can be created here (EGL surfaceless)";
        prepared_ = prepareMode3(makeGroundAndPlate());
        glGenVertexArrays(1, &vao_);
        glGenBuffers(2, buffers_);
        glBindVertexArray(vao_);
        glBindBuffer(GL_ARRAY_BUFFER, buffers_[0]);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers_[1]);
        std::vector<PreparedVertex> vertices;
        for (const PreparedGroup& g : prepared_.groups) {
            first_.push_back(indices_.size());
            for (const std::uint32_t i : g.indices)
                indices_.push_back(std::uint32_t(vertices.size()) + i);
            vertices.insert(vertices.end(), g.vertices.begin(), g.vertices.end());
        }
        first_.push_back(indices_.size());
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(vertices.size() * sizeof(PreparedVertex)), vertices.data(),
                     GL_STATIC_DRAW);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(indices_.size() * 4), indices_.data(), GL_STATIC_DRAW);
        setVertexLayout(VertexLayout::Prepared);
        glBindVertexArray(0);
        model_ = makeGroundAndPlate();
        look(1.0f);
    }
    void TearDown() override {
        if (!vao_)
            return;
        effects_.releaseGl();
        path_.releaseTargets();
        glDeleteBuffers(2, buffers_);
        glDeleteVertexArrays(1, &vao_);
    }

    // The camera above and in front; the focus (the light's target) a fraction `focus` of the
    // way from the eye to the ground's middle, on the same line, so that the shadows stay put.
    void look(float focus) {
        const Vec3 eye{0, 14, -14}, at{0, 0, 0};
        view_.view = lookAtLH(eye, at, {0, 1, 0});
        view_.projection = perspectiveFovLH(kPi / 4, float(kWidth) / float(kHeight), 0.1f, 65536.0f);
        view_.lightPosition = eye;
        view_.lightTarget = {eye.x + (at.x - eye.x) * focus, eye.y + (at.y - eye.y) * focus,
                             eye.z + (at.z - eye.z) * focus};
    }

    // One frame through the effects, with the model's depths known (`known`) or not; the picture.
    Image draw(EffectLibrary& effects, bool known, ShaderPath* path = nullptr) {
        if (!path)
            path = &path_;
        if (!path->ensureTargets(kWidth, kHeight))
            return {};
        ShaderFrameInput in;
        in.framebuffer = device_.framebuffer();
        in.width = kWidth;
        in.height = kHeight;
        in.view = &view_;
        in.model = [this](const EffectGroupVisitor& visit) {
            int triangles = 0;
            glBindVertexArray(vao_);
            for (std::size_t g = 0; g < prepared_.groups.size(); ++g) {
                EffectGroupDraw d;
                d.index = g;
                d.group = &model_.groups[g];
                visit(d, [&] {
                    glBindVertexArray(vao_);
                    const GLsizei count = GLsizei(first_[g + 1] - first_[g]);
                    glDrawElements(GL_TRIANGLES, count, GL_UNSIGNED_INT,
                                   reinterpret_cast<const void*>(first_[g] * sizeof(std::uint32_t)));
                    triangles += count / 3;
                });
            }
            glBindVertexArray(0);
            return triangles;
        };
        if (known)
            in.depthsWithin = [this](const Mat4& view, float nearest, float farthest) {
                return preparedDepthsWithin(prepared_, view, nearest, farthest);
            };
        FrameCounts counts;
        EXPECT_TRUE(path->drawFrame(effects, in, counts));
        device_.present();
        return device_.readBack();
    }

    static int differing(const Image& a, const Image& b) {
        int n = 0;
        for (std::size_t i = 0; i + 3 < a.rgba.size() && i + 3 < b.rgba.size(); i += 4)
            n += a.rgba[i] != b.rgba[i] || a.rgba[i + 1] != b.rgba[i + 1] || a.rgba[i + 2] != b.rgba[i + 2];
        return n;
    }

    test::TempDir cache_;
    HeadlessDevice device_;
    EffectLibrary effects_{REVIZEVOZ_DATA_DIR};
    ShaderPath path_;
    SceneView view_;
    Model model_;
    PreparedModel prepared_;
    std::vector<std::uint32_t> indices_;
    std::vector<std::size_t> first_;
    GLuint vao_ = 0, buffers_[2] = {};
};

TEST_F(ShaderFrame, InFocusTheSkippedPassesChangeNoPixel) {
    // Each with its own 2-D clock, which the wavy post effect reads, and its own effects, whose
    // parameters last from frame to frame.
    ShaderPath skipping;
    EffectLibrary skippingEffects(REVIZEVOZ_DATA_DIR);
    for (const bool bloom : {false, true})
        for (int post = 0; post < kPostEffectCount; ++post) {
            view_.bloomOn = bloom;
            view_.postEffect = post;
            const Image whole = draw(effects_, false), skipped = draw(skippingEffects, true, &skipping);
            ASSERT_EQ(whole.rgba.size(), std::size_t(kWidth * kHeight * 4));
            EXPECT_EQ(differing(whole, skipped), 0) << "bloom " << bloom << ", post effect " << post;
        }
    skippingEffects.releaseGl();
    skipping.releaseTargets();
}

TEST(PreparedDepths, BoundsEveryVertexWithRoomForRounding) {
    PreparedModel prepared;
    prepared.groups.resize(2);
    prepared.groups[0].vertices = {{0, 0, 10, 0, 0, 0, 0, 0, 0}, {3, -2, 20, 0, 0, 0, 0, 0, 0}};
    prepared.groups[1].vertices = {{-1, 5, 15, 0, 0, 0, 0, 0, 0}};
    const Mat4 view = lookAtLH({0, 0, -5}, {0, 0, 0}, {0, 1, 0});  // depth z + 5
    EXPECT_TRUE(preparedDepthsWithin(prepared, view, 14, 26));
    EXPECT_FALSE(preparedDepthsWithin(prepared, view, 15.5f, 26)) << "the nearest vertex is at 15";
    EXPECT_FALSE(preparedDepthsWithin(prepared, view, 14, 24.5f)) << "the farthest vertex is at 25";
    // A vertex right on the edge may come out on either side of it on the GPU.
    EXPECT_FALSE(preparedDepthsWithin(prepared, view, 15, 25));
    prepared.groups[1].vertices[0].y = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(preparedDepthsWithin(prepared, view, 14, 26));
    EXPECT_TRUE(preparedDepthsWithin(PreparedModel{}, view, 14, 26));
}

}  // namespace
}  // namespace rv

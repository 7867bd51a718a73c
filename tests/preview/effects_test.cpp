// The effect path in the headless context: effect loading and its failures, the shadow map, the
// post effects, the refusal without float textures, and skinning on the GPU against the CPU.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "model/mesh.h"
#include "preview/effects.h"
#include "preview/headless_device.h"
#include "preview/renderer.h"
#include "preview/shader_path.h"
#include "runtime/matrix.h"
#include "tests/support/make_model.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

constexpr int kWidth = 200, kHeight = 150;
constexpr float kPi = 3.14159265358979f;

struct Pixel {
    int r, g, b;
};

using test::addQuad;

// A plane z = 0 of n x n quads over [-half, half]^2 facing -z.
Model makePlane(int n, float half) {
    Model m;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const float x0 = -half + 2 * half * float(i) / float(n), x1 = -half + 2 * half * float(i + 1) / float(n);
            const float y0 = half - 2 * half * float(j) / float(n), y1 = half - 2 * half * float(j + 1) / float(n);
            addQuad(m, 0, {x0, y0, 0}, {x1, y0, 0}, {x1, y1, 0}, {x0, y1, 0});
        }
    m.groups[0].color = {220, 40, 40, 255};
    computeNormals(m);
    return m;
}

// A ground of 10 x 10 facing up and, 3 above its middle, a 2 x 2 plate.
Model makeGroundAndPlate() {
    Model m;
    m.groups.push_back(m.groups[0]);
    m.groups[0].color = {200, 200, 200, 255};
    m.groups[1].color = {60, 60, 220, 255};
    // Seen from above with z up the screen, clockwise: (-x, +z), (+x, +z), (+x, -z), (-x, -z).
    addQuad(m, 0, {-5, 0, 5}, {5, 0, 5}, {5, 0, -5}, {-5, 0, -5});
    addQuad(m, 1, {-1, 3, 1}, {1, 3, 1}, {1, 3, -1}, {-1, 3, -1});
    computeNormals(m);
    return m;
}

class Effects : public ::testing::Test {
protected:
    void SetUp() override {
        // Program binaries go to a folder of the test's own, not the user's cache.
        setenv("XDG_CACHE_HOME", cache_.path().c_str(), 1);
        if (!device_.create(kWidth, kHeight))
            GTEST_SKIP() << "no OpenGL 3.3 context can be created here (EGL surfaceless)";
        std::string error;
        ASSERT_TRUE(renderer_.init(&error)) << error;
        renderer_.setEffectFolder(REVIZEVOZ_DATA_DIR);
        lookFrom({0, 0, -20}, {0, 0, 0});
        view_.grid = false;
    }
    void TearDown() override { renderer_.release(); }

    void lookFrom(Vec3 eye, Vec3 at) {
        view_.view = lookAtLH(eye, at, {0, 1, 0});
        view_.projection = perspectiveFovLH(kPi / 4, float(kWidth) / float(kHeight), 0.1f, 65536.0f);
        view_.lightPosition = eye;
        view_.lightTarget = at;
    }

    Image draw(Model& model, ModelInstance& instance, int frames = 1) {
        for (int i = 0; i < frames; ++i) {
            renderer_.modelPass(model, instance);
            renderer_.drawScene(device_.framebuffer(), kWidth, kHeight, &model, &instance, view_);
        }
        device_.present();
        return device_.readBack();
    }

    static Pixel at(const Image& image, int x, int y) {
        x = std::clamp(x, 0, kWidth - 1);
        y = std::clamp(y, 0, kHeight - 1);
        const std::uint8_t* p = &image.rgba[(std::size_t(y) * kWidth + std::size_t(x)) * 4];
        return {p[0], p[1], p[2]};
    }
    Pixel atWorld(const Image& image, Vec3 p) const {
        const Vec3 ndc = transformCoord(p, multiply(view_.view, view_.projection));
        return at(image, int((ndc.x + 1) * 0.5f * kWidth), int((1 - ndc.y) * 0.5f * kHeight));
    }
    static int brightness(Pixel p) { return p.r + p.g + p.b; }

    test::TempDir cache_;
    HeadlessDevice device_;
    PreviewRenderer renderer_;
    SceneView view_;
};

TEST_F(Effects, OpensNoEffectFileWhileShaderModeIsOff) {
    Model m = makePlane(2, 3);
    ModelInstance instance;
    postLoad(m, instance);
    draw(m, instance);
    for (int kind = 0; kind < 4; ++kind)
        EXPECT_FALSE(renderer_.effectTried(kind)) << kind;
}

TEST_F(Effects, ModelCastsShadowOnTheGround) {
    test::RecordingSinks sinks;
    Model m = makeGroundAndPlate();
    ModelInstance instance;
    postLoad(m, instance);
    lookFrom({0, 14, -14}, {0, 0, 0});
    // Straight above: the light's look-at needs another up.
    view_.lightPosition = {0, 20, 0};
    view_.lightTarget = {0, 0, 0};
    view_.shaderMode = true;
    const Image image = draw(m, instance);
    EXPECT_FALSE(renderer_.shaderModeRefused());
    EXPECT_TRUE(sinks.logged("Shader 初期化"));
    EXPECT_TRUE(sinks.logged("Shader TexSize 1024×1024"));
    EXPECT_TRUE(sinks.logged("ShadowMap D3DFMT_R32F"));
    EXPECT_FALSE(sinks.logged("ShadowMap D3DFMT_R16F"));
    const Pixel under = atWorld(image, {0, 0, 0.2f}), beside = atWorld(image, {3.5f, 0, 0.2f});
    EXPECT_LT(brightness(under) + 60, brightness(beside))
        << "under the plate " << under.r << "," << under.g << "," << under.b << "; beside " << beside.r << ","
        << beside.g << "," << beside.b;
    // The plate itself is lit and blue.
    const Pixel plate = atWorld(image, {0, 3, -0.5f});
    EXPECT_GT(plate.b, plate.r + 60);
    EXPECT_TRUE(sinks.messages().empty());

    // The same frame after the context's objects are rebuilt.
    renderer_.release();
    ASSERT_TRUE(renderer_.init());
    const Image again = draw(m, instance);
    EXPECT_EQ(brightness(atWorld(again, {0, 0, 0.2f})), brightness(under));
}

TEST_F(Effects, EveryPostEffectChangesThePictureAsNamed) {
    Model m = makePlane(4, 4);
    m.groups[0].color = {230, 150, 60, 255};
    ModelInstance instance;
    postLoad(m, instance);
    view_.shaderMode = true;
    view_.grid = true;
    const Image scene = draw(m, instance);
    std::vector<Image> shots;
    for (int effect = 1; effect < kPostEffectCount; ++effect) {
        view_.postEffect = effect;
        shots.push_back(draw(m, instance));
    }
    int sepiaColoured = 0;
    for (int y = 2; y < kHeight; y += 9)
        for (int x = 2; x < kWidth; x += 9) {
            const Pixel s = at(scene, x, y), mono = at(shots[0], x, y), sepia = at(shots[1], x, y),
                        reverse = at(shots[2], x, y);
            ASSERT_TRUE(mono.r == mono.g && mono.g == mono.b) << x << "," << y;
            ASSERT_TRUE(sepia.r >= sepia.g && sepia.g >= sepia.b) << x << "," << y;
            sepiaColoured += sepia.r > sepia.b;
            ASSERT_LE(std::abs(reverse.r - (255 - s.r)) + std::abs(reverse.g - (255 - s.g)) +
                          std::abs(reverse.b - (255 - s.b)),
                      3)
                << x << "," << y;
        }
    EXPECT_GT(sepiaColoured, 0);
    // Shade darkens the corners and keeps the middle.
    EXPECT_LT(brightness(at(shots[3], 2, 2)), brightness(at(scene, 2, 2)) - 30);
    EXPECT_NEAR(brightness(at(shots[3], kWidth / 2, kHeight / 2)), brightness(at(scene, kWidth / 2, kHeight / 2)), 12);
    // Mosaic and the wavy effect move colours around: some pixels differ from the scene.
    for (int shot : {4, 5}) {
        int differing = 0;
        for (std::size_t i = 0; i < scene.rgba.size(); i += 4)
            differing += std::abs(int(scene.rgba[i]) - int(shots[std::size_t(shot)].rgba[i])) > 20;
        EXPECT_GT(differing, 200) << "post effect " << shot + 1;
    }
}

// The effect's switches (TexFlag per group, LightFlag per frame) change from pass to pass; each pass
// must draw with the values it was given.
TEST_F(Effects, SwitchesFollowTheirValuesFromGroupToGroupAndFrameToFrame) {
    Model m;
    m.groups.push_back(m.groups[0]);
    m.groups[0].color = {255, 255, 255, 255};
    m.groups[1].color = {40, 40, 230, 255};
    addQuad(m, 0, {-4, 3, 0}, {-0.5f, 3, 0}, {-0.5f, -3, 0}, {-4, -3, 0});
    addQuad(m, 1, {0.5f, 3, 0}, {4, 3, 0}, {4, -3, 0}, {0.5f, -3, 0});
    m.textures.resize(2);
    m.textures[1].kind = 1;
    m.textures[1].fileName = "red.png";
    m.groups[0].textured = 1;
    m.groups[0].textureIndex = 1;
    computeNormals(m);
    ModelInstance instance;
    postLoad(m, instance);
    instance.textures[1] = Image{1, 1, {240, 20, 20, 255}};
    view_.shaderMode = true;
    for (const bool lit : {true, false, true}) {
        view_.lighting = lit;
        const Image image = draw(m, instance);
        const Pixel textured = atWorld(image, {-2.2f, 0, 0}), plain = atWorld(image, {2.2f, 0, 0});
        EXPECT_GT(textured.r, textured.b + 100) << "lit " << lit;
        EXPECT_GT(plain.b, plain.r + 100) << "lit " << lit;
        // The light from the eye falls straight on: lit or not, the colours come out whole.
        EXPECT_NEAR(textured.r, 240, 12) << "lit " << lit;
        EXPECT_NEAR(plain.b, 230, 12) << "lit " << lit;
    }
}

TEST_F(Effects, ShadowMapFormatsFallBackAndRefuse) {
    Model m = makePlane(2, 3);
    ModelInstance instance;
    postLoad(m, instance);
    const Image fixed = draw(m, instance);
    {
        test::RecordingSinks sinks;
        renderer_.setShadowFormats(false, true);
        view_.shaderMode = true;
        draw(m, instance);
        EXPECT_TRUE(sinks.logged("ShadowMap D3DFMT_R16F"));
        EXPECT_FALSE(renderer_.shaderModeRefused());
    }
    PreviewRenderer bare;
    ASSERT_TRUE(bare.init());
    bare.setEffectFolder(REVIZEVOZ_DATA_DIR);
    bare.setShadowFormats(false, false);
    test::RecordingSinks sinks;
    bare.modelPass(m, instance);
    bare.drawScene(device_.framebuffer(), kWidth, kHeight, &m, &instance, view_);
    device_.present();
    const Image refused = device_.readBack();
    EXPECT_TRUE(sinks.logged("ShadowMap 未対応"));
    EXPECT_TRUE(sinks.logged("ShadowMap 未対応のため、シェーダーモードを使用できません。"));
    EXPECT_TRUE(bare.shaderModeRefused());
    // The frame falls back to the fixed-function picture.
    EXPECT_EQ(refused.rgba, fixed.rgba);
    bare.release();
    renderer_.forgetModel();
}

TEST_F(Effects, MissingHlslFolderStillPreviews) {
    test::TempDir data;
    renderer_.setEffectFolder(data.path().string());
    test::RecordingSinks sinks;
    Model m = makePlane(2, 3);
    m.renderMode = 5;  // bones on the GPU when the bone effect loads; it does not
    m.renderModeDirty = 1;
    ModelInstance instance;
    sizeInstance(instance, m);
    const Image image = draw(m, instance);
    const Pixel middle = at(image, kWidth / 2, kHeight / 2);
    EXPECT_GT(middle.r, 150);
    EXPECT_FALSE(renderer_.gpuSkinning());
    EXPECT_TRUE(sinks.logged("*** ERROR *** Bone.fx"));
    EXPECT_TRUE(sinks.logged("*** ERROR *** Bone.fxo"));
    ASSERT_EQ(sinks.messages().size(), 1u);
    EXPECT_EQ(sinks.messages()[0].rfind("ERROR: ", 0), 0u) << sinks.messages()[0];
    // Loaded at most once: later frames ask nothing more.
    draw(m, instance, 3);
    EXPECT_EQ(sinks.messages().size(), 1u);
}

TEST_F(Effects, GpuSkinningMatchesTheCpu) {
    auto makeSkinned = [](std::uint32_t mode) {
        Model m = makePlane(6, 3);
        ModelBoneKey a, b;
        a.position = b.position = {1.5f, 0.75f, 0};
        b.frame = 30;
        m.bones[1].tracks.assign(1, ModelBoneTrack{{a, b}, 1});
        for (std::size_t v = 0; v < m.skin.size(); ++v)
            m.skin[v] = {1, 0, 1.0f, 0};
        // A bone number past the bone count reads as bone 0 on both paths.
        m.skin[0].bone = 250;
        m.renderMode = mode;
        m.renderModeDirty = 1;
        return m;
    };
    Model cpu = makeSkinned(3), gpu = makeSkinned(5);
    ModelInstance cpuInstance, gpuInstance;
    postLoad(cpu, cpuInstance);
    postLoad(gpu, gpuInstance);
    cpu.renderMode = 3;
    gpu.renderMode = 5;
    cpu.renderModeDirty = gpu.renderModeDirty = 1;
    cpuInstance.playback.animating = gpuInstance.playback.animating = true;
    lookFrom({0, 0, -60}, {0, 0, 0});
    const Image a = draw(cpu, cpuInstance, 2);
    renderer_.forgetModel();
    const Image b = draw(gpu, gpuInstance, 2);
    EXPECT_TRUE(renderer_.gpuSkinning());
    int covered = 0, worst = 0;
    for (std::size_t i = 0; i < a.rgba.size(); i += 4) {
        const int d = std::abs(int(a.rgba[i]) - int(b.rgba[i])) + std::abs(int(a.rgba[i + 1]) - int(b.rgba[i + 1])) +
                      std::abs(int(a.rgba[i + 2]) - int(b.rgba[i + 2]));
        covered += a.rgba[i] > 150;
        // Edges may fall a pixel either way; inside, only the light model differs a little.
        if (d > 40)
            ++worst;
    }
    EXPECT_GT(covered, 100);
    EXPECT_LT(worst, covered / 20) << worst << " of " << covered;
    // The plane moved: its middle is where the bone took it.
    const Pixel moved = atWorld(b, {1.5f, 0.75f, 0});
    EXPECT_GT(moved.r, 150);
}

class EffectFiles : public Effects {};

TEST_F(EffectFiles, SourceThenBinaryThenOneMessage) {
    test::TempDir data;
    std::filesystem::create_directories(data.path() / "System/HLSL");
    const std::string folder = (data.path() / "System/HLSL/").string();
    test::writeText(folder + "HLSL_2D.fx", "@vertex v\nvoid main() { nonsense; }\n@fragment f\nvoid main() {}\n"
                                           "@technique RenderSceneTechnique\npass v f\n");
    {
        test::RecordingSinks sinks;
        EffectLibrary library(data.path().string());
        EXPECT_EQ(library.get(EffectKind::TwoD), nullptr);
        EXPECT_EQ(library.get(EffectKind::TwoD), nullptr);
        EXPECT_TRUE(sinks.logged("*** ERROR *** HLSL_2D.fx"));
        EXPECT_TRUE(sinks.logged("*** ERROR *** HLSL_2D.fxo"));
        ASSERT_EQ(sinks.messages().size(), 1u);
        EXPECT_NE(sinks.messages()[0].find("nonsense"), std::string::npos) << sinks.messages()[0];
        EXPECT_FALSE(library.tried(EffectKind::ThreeD));
    }

    // A good source leaves its binaries in the cache; with the source broken they load.
    GLint formats = 0;
    glGetIntegerv(GL_NUM_PROGRAM_BINARY_FORMATS, &formats);
    if (formats <= 0)
        GTEST_SKIP() << "the driver has no program binary formats";
    test::TempDir cache;
    EffectLibrary good(REVIZEVOZ_DATA_DIR);
    good.setBinaryCacheFolder(cache.path().string());
    ASSERT_NE(good.get(EffectKind::TwoD), nullptr);
    good.releaseGl();
    ASSERT_TRUE(std::filesystem::exists(cache.path() / "HLSL_2D.fxo"));
    std::filesystem::copy_file(cache.path() / "HLSL_2D.fxo", folder + "HLSL_2D.fxo");
    test::RecordingSinks sinks;
    EffectLibrary fromBinary(data.path().string());
    Effect* e = fromBinary.get(EffectKind::TwoD);
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(e->setTechnique("RenderSceneTechnique"));
    EXPECT_TRUE(e->setTechnique("RenderYuraYuraTechnique"));
    EXPECT_TRUE(sinks.logged("*** ERROR *** HLSL_2D.fx"));
    EXPECT_FALSE(sinks.logged("*** ERROR *** HLSL_2D.fxo"));
    EXPECT_TRUE(sinks.messages().empty());
    fromBinary.releaseGl();
}

TEST(EffectSource, RefusesWhatIsMalformed) {
    std::string error;
    EXPECT_FALSE(parseEffectSource("@technique T\npass a b\n", &error));
    EXPECT_NE(error.find("names a stage"), std::string::npos) << error;
    EXPECT_FALSE(parseEffectSource("@vertex a\n@fragment b\n@technique T\npass a b blend=sideways\n", &error));
    EXPECT_NE(error.find("line 4"), std::string::npos) << error;
    EXPECT_FALSE(parseEffectSource("@shader x\n", &error));
    EXPECT_FALSE(parseEffectSource("@vertex a\n", &error));  // no technique
    const auto ok = parseEffectSource("@common\nuniform float x;\n@vertex a\nvoid main(){}\n@fragment b\n"
                                      "void main(){}\n@technique T\npass a b depth=test cull=off\n",
                                      &error);
    ASSERT_TRUE(ok) << error;
    ASSERT_EQ(ok->techniques.size(), 1u);
    EXPECT_EQ(ok->techniques[0].second[0].state.depth, EffectPassState::Depth::Test);
    EXPECT_FALSE(ok->techniques[0].second[0].state.cull);
}

}  // namespace
}  // namespace rv

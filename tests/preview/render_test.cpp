// Pixels of the headless preview against numbers worked out from the lighting formulas and the
// projection. The light sits at the eye; colours are on the 0..255 scale.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "app/convert.h"
#include "app/load.h"
#include "formats/x/x.h"
#include "model/mesh.h"
#include "model/textures.h"
#include "preview/headless_device.h"
#include "preview/renderer.h"
#include "runtime/image_write.h"
#include "runtime/matrix.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

constexpr int kWidth = 200, kHeight = 150;
constexpr float kPi = 3.14159265358979f;

struct Pixel {
    int r, g, b, a;
};

// Puts every vertex wholly on bone 1 of two, at the origin, whose one motion key moves it to `to`.
void rideSecondBone(Model& m, const std::array<float, 3>& to) {
    m.boneCount = 2;
    for (ModelSkinWeight& w : m.skin)
        w = {1, 0, 1.0f, 0};
    ModelBoneKey moved;
    moved.position = to;
    m.bones[1].tracks.assign(1, ModelBoneTrack{{moved}, 1});
}

// A square of n x n quads over [-half, half]^2 in the plane z = 0, wound clockwise as seen from
// -z (its front), with per-position uvs over 0..1 and v down the screen.
Model makePlane(int n, float half, ModelColor colour) {
    Model m;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            const float x = -half + 2 * half * float(i) / float(n), y = half - 2 * half * float(j) / float(n);
            m.positions.push_back({x, y, 0});
            m.uvs.push_back({float(i) / float(n), float(j) / float(n)});
        }
    m.skin.resize(m.positions.size());
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const int a = j * (n + 1) + i;
            // Top-left, top-right, bottom-right, bottom-left: clockwise on screen.
            const int corners[4] = {a, a + 1, a + n + 2, a + n + 1};
            ModelPolygon p;
            p.cornerCount = 4;
            for (int c = 0; c < 4; ++c)
                p.corners[std::size_t(c)] = {corners[c], 0, 0, corners[c]};
            m.polygons.push_back(p);
        }
    m.groups[0].color = colour;
    computeNormals(m);
    return m;
}

class Render : public ::testing::Test {
protected:
    void SetUp() override {
        if (!device_.create(kWidth, kHeight))
            GTEST_SKIP() << "no OpenGL 3.3 context can be created here (EGL surfaceless)";
        std::string error;
        ASSERT_TRUE(renderer_.init(&error)) << error;
        lookFrom({0, 0, -20}, {0, 0, 0});
    }

    void lookFrom(Vec3 eye, Vec3 at) {
        view_.view = lookAtLH(eye, at, {0, 1, 0});
        view_.projection = perspectiveFovLH(kPi / 4, float(kWidth) / float(kHeight), 0.1f, 65536.0f);
        view_.lightPosition = eye;
        eye_ = eye;
    }

    FrameCounts draw(Model* model, ModelInstance* instance = nullptr) {
        if (model && !instance) {
            instances_.emplace_back();
            instance = &instances_.back();
            postLoad(*model, *instance);
        }
        if (model)
            renderer_.modelPass(*model, *instance);
        const FrameCounts counts = renderer_.drawScene(device_.framebuffer(), kWidth, kHeight, model, instance, view_);
        device_.present();
        image_ = device_.readBack();
        return counts;
    }

    Pixel at(int x, int y) const {
        EXPECT_TRUE(x >= 0 && x < kWidth && y >= 0 && y < kHeight) << x << "," << y << " is off the image";
        x = std::clamp(x, 0, kWidth - 1);
        y = std::clamp(y, 0, kHeight - 1);
        const std::uint8_t* p = &image_.rgba[(std::size_t(y) * kWidth + std::size_t(x)) * 4];
        return {p[0], p[1], p[2], p[3]};
    }

    // Where a world point lands, in pixels from the top left.
    std::pair<float, float> project(Vec3 p) const {
        const Vec3 ndc = transformCoord(p, multiply(view_.view, view_.projection));
        return {(ndc.x + 1) * 0.5f * kWidth, (1 - ndc.y) * 0.5f * kHeight};
    }
    Pixel atWorld(Vec3 p) const {
        const auto [x, y] = project(p);
        return at(int(x), int(y));
    }

    // N.L at a point of the plane z = 0 with normal (0, 0, -1), lit from the eye.
    float facing(Vec3 p) const {
        const Vec3 l = normalize(eye_ - p);
        return -l.z;
    }

    HeadlessDevice device_;
    PreviewRenderer renderer_;
    SceneView view_;
    Vec3 eye_;
    Image image_;
    std::vector<ModelInstance> instances_ = std::vector<ModelInstance>();

public:
    Render() { instances_.reserve(16); }
};

TEST_F(Render, BackgroundAndGridLines) {
    view_.grid = false;
    draw(nullptr);
    for (int y = 0; y < kHeight; y += 7)
        for (int x = 0; x < kWidth; x += 7) {
            const Pixel p = at(x, y);
            ASSERT_TRUE(p.r == 128 && p.g == 128 && p.b == 128 && p.a == 255) << x << "," << y;
        }

    // From above and in front: the line x = 5 and the axis x = 0, half-way between two lines
    // across them.
    view_.grid = true;
    lookFrom({0.5f, 12, -12}, {0.5f, 0, 0});
    draw(nullptr);
    const auto [lineX, lineY] = project({5, 0, 2.5f});
    const auto [axisX, axisY] = project({0, 0, 2.5f});
    auto greyNear = [&](float fx, float fy) {
        int best = 255;
        for (int dx = -1; dx <= 1; ++dx) {
            const Pixel p = at(int(std::lround(fx)) + dx, int(fy));
            if (p.r != 128)
                best = std::min(best, p.r);
            EXPECT_EQ(p.r, p.g);
        }
        return best;
    };
    EXPECT_EQ(greyNear(lineX, lineY), 112);
    EXPECT_EQ(greyNear(axisX, axisY), 80);
    // Half-way between two lines nothing is drawn.
    const auto [gapX, gapY] = project({2.5f, 0, 2.5f});
    EXPECT_EQ(at(int(gapX), int(gapY)).r, 128);

    // A model standing in front hides the lines behind it.
    Model wall = makePlane(1, 3, {255, 0, 0, 255});
    for (ModelVertex& p : wall.positions)
        p = {p.x + 0.5f, p.y + 3, -3};
    draw(&wall);
    const Pixel hidden = atWorld({0.5f, 0, 2});  // the grid behind the wall
    EXPECT_GT(hidden.r, 150);
    EXPECT_EQ(hidden.g, 0);
}

TEST_F(Render, LitQuadFallsOffTowardItsCorners) {
    Model plane = makePlane(16, 6, {255, 0, 0, 255});
    view_.grid = false;
    draw(&plane);
    // Seen head-on at the centre: N.L = 1.
    const Pixel centre = atWorld({0, 0, 0});
    EXPECT_NEAR(centre.r, 255, 1);
    EXPECT_EQ(centre.g, 0);
    EXPECT_EQ(centre.b, 0);
    // Gouraud colour is interpolated from the vertices: near a corner, between the values of the
    // four vertices of its quad.
    const float step = 12.0f / 16;
    const Vec3 inner{6 - step * 0.5f, 6 - step * 0.5f, 0};
    float expected = 0;
    for (float dx : {0.0f, step})
        for (float dy : {0.0f, step})
            expected += 255 * facing({6 - dx, 6 - dy, 0}) / 4;
    EXPECT_NEAR(atWorld(inner).r, expected, 2.0);
    EXPECT_LT(atWorld(inner).r, centre.r - 10);
}

TEST_F(Render, BackFacesAreCulled) {
    Model plane = makePlane(1, 5, {255, 0, 0, 255});
    view_.grid = false;
    lookFrom({0, 0, 20}, {0, 0, 0});  // behind the plane
    draw(&plane);
    EXPECT_EQ(atWorld({0, 0, 0}).r, 128);
}

TEST_F(Render, SpecularOnlyWhereTheVertexCarriesIt) {
    Model plane = makePlane(8, 5, {255, 0, 0, 255});
    plane.groups[0].materialParams[kSpecularWord] = 1;
    view_.grid = false;
    draw(&plane);
    // Buffered vertices have no specular colour and the material's is zero: no highlight.
    EXPECT_EQ(atWorld({0, 0, 0}).g, 0);

    // Render mode 0 carries the group's specular words (64, 64, 64): head-on N.H = 1, so
    // 64 / 255 is added to every channel.
    Model fans = makePlane(8, 5, {255, 0, 0, 255});
    fans.groups[0].materialParams[kSpecularWord] = 1;
    fans.renderMode = 0;
    draw(&fans);
    const Pixel p = atWorld({0, 0, 0});
    EXPECT_NEAR(p.r, 255, 1);
    EXPECT_NEAR(p.g, 64, 2);
    EXPECT_NEAR(p.b, 64, 2);
}

TEST_F(Render, DrawStylesDiffer) {
    view_.grid = false;
    auto redPixels = [&](int style, int renderMode, int* calls) {
        Model plane = makePlane(4, 5, {255, 0, 0, 255});
        plane.groups[0].shadeParam = style;
        plane.renderMode = std::uint32_t(renderMode);
        *calls = draw(&plane).drawCalls;
        int n = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                n += at(x, y).r > 150 && at(x, y).g < 50;
        return n;
    };
    int calls = 0;
    const int smooth = redPixels(4, 3, &calls);
    EXPECT_EQ(calls, 1);
    const int wire = redPixels(2, 3, &calls);
    const int points = redPixels(1, 3, &calls);
    const int flat = redPixels(3, 3, &calls);
    EXPECT_EQ(redPixels(0, 3, &calls), 0);
    EXPECT_EQ(calls, 0) << "a hidden group costs no draw call";
    EXPECT_GT(smooth, 5000);
    EXPECT_LT(wire, smooth / 3);
    EXPECT_GT(wire, 100);
    EXPECT_LT(points, wire);
    EXPECT_GT(points, 10);
    EXPECT_NEAR(flat, smooth, smooth / 50);

    // Flat shading takes each triangle's first vertex: over the top-left quad's first fan
    // triangle (corner 0 is its top-left corner) the colour is that corner's, everywhere.
    Model plane = makePlane(4, 5, {255, 0, 0, 255});
    plane.groups[0].shadeParam = 3;
    plane.renderMode = 0;
    draw(&plane);
    const int expected = int(255 * facing({-5, 5, 0}));
    EXPECT_NEAR(atWorld({-4.6f, 4.4f, 0}).r, expected, 1);
    EXPECT_NEAR(atWorld({-3.9f, 4.8f, 0}).r, expected, 1);
}

TEST_F(Render, TextureShowsTheRightWayUp) {
    Model plane = makePlane(1, 5, {255, 255, 255, 255});
    plane.textures.resize(2);
    plane.textures[1].kind = 1;
    plane.textures[1].fileName = "check.png";
    plane.groups[0].textured = 1;
    plane.groups[0].textureIndex = 1;
    ModelInstance instance;
    postLoad(plane, instance);
    // 8 x 8 texels in four quarters: top-left red, top-right green, bottom-left blue,
    // bottom-right white.
    Image check{8, 8, {}};
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const std::uint8_t quarter[4][4] = {
                {255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {255, 255, 255, 255}};
            const std::uint8_t* c = quarter[(y / 4) * 2 + x / 4];
            check.rgba.insert(check.rgba.end(), c, c + 4);
        }
    instance.textures[1] = check;
    view_.grid = false;
    draw(&plane, &instance);
    // Quarter centres: u, v = 0.25 or 0.75.
    const Pixel topLeft = atWorld({-2.5f, 2.5f, 0}), topRight = atWorld({2.5f, 2.5f, 0});
    const Pixel bottomLeft = atWorld({-2.5f, -2.5f, 0}), bottomRight = atWorld({2.5f, -2.5f, 0});
    EXPECT_GT(topLeft.r, 200);
    EXPECT_LT(topLeft.g + topLeft.b, 60);
    EXPECT_GT(topRight.g, 200);
    EXPECT_LT(topRight.r + topRight.b, 60);
    EXPECT_GT(bottomLeft.b, 200);
    EXPECT_LT(bottomLeft.r + bottomLeft.g, 60);
    EXPECT_GT(bottomRight.r + bottomRight.g + bottomRight.b, 600);

    // Texture number 0, or one past the table, draws untextured.
    plane.groups[0].textureIndex = 7;
    draw(&plane, &instance);
    const Pixel untextured = atWorld({-2.5f, 2.5f, 0});
    EXPECT_GT(untextured.g, 200);
    EXPECT_GT(untextured.b, 200);
}

// A group whose image is missing shares the null texture: letting go of the model must not
// delete it, and a new null image reaches the groups already drawn with the old one.
TEST_F(Render, MissingImagesKeepTheNullTextureAcrossModels) {
    renderer_.setNullTexture(Image{1, 1, {255, 0, 0, 255}});
    auto missing = [] {
        Model plane = makePlane(1, 5, {255, 255, 255, 255});
        plane.textures.resize(2);
        plane.textures[1].kind = 1;
        plane.textures[1].fileName = "gone.png";
        plane.groups[0].textured = 1;
        plane.groups[0].textureIndex = 1;
        return plane;
    };
    view_.grid = false;
    Model first = missing();
    draw(&first);
    EXPECT_GT(atWorld({0, 0, 0}).r, 200);
    EXPECT_LT(atWorld({0, 0, 0}).g, 40);

    renderer_.forgetModel();
    Model second = missing();
    draw(&second);
    const Pixel again = atWorld({0, 0, 0});
    EXPECT_GT(again.r, 200) << "the null texture went with the first model";
    EXPECT_LT(again.g, 40);

    renderer_.setNullTexture(Image{1, 1, {0, 255, 0, 255}});
    draw(&second);
    const Pixel green = atWorld({0, 0, 0});
    EXPECT_GT(green.g, 200) << "the group kept the old null texture";
    EXPECT_LT(green.r, 40);
}

TEST_F(Render, MovedBoneMovesItsVertices) {
    Model plane = makePlane(2, 2, {255, 0, 0, 255});
    rideSecondBone(plane, {6, 0, 0});
    ModelInstance instance;
    postLoad(plane, instance);
    instance.playback.animating = true;
    view_.grid = false;
    draw(&plane, &instance);
    EXPECT_EQ(atWorld({0, 0, 0}).r, 128) << "the plane left the centre";
    EXPECT_GT(atWorld({6, 0, 0}).r, 200);
}

TEST_F(Render, EveryRenderModeDrawsAndModeEightDrawsTheSubdividedCopy) {
    view_.grid = false;
    for (std::uint32_t mode : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 9u, 42u}) {
        Model plane = makePlane(2, 5, {255, 0, 0, 255});
        plane.renderMode = mode;
        EXPECT_EQ(draw(&plane).triangles, 8) << "mode " << mode;
        EXPECT_GT(atWorld({0, 0, 0}).r, 200) << "mode " << mode;
    }
    Model plane = makePlane(2, 5, {255, 0, 0, 255});
    plane.renderMode = 8;
    plane.subdivisionLevel = 2;
    EXPECT_EQ(draw(&plane).triangles, 8 * 16);
    EXPECT_GT(atWorld({0, 0, 0}).r, 200);
    // A level from a file far past what the limits allow is capped.
    plane.subdivisionLevel = 65535;
    plane.renderModeDirty = 1;
    const int capped = draw(&plane).triangles;
    EXPECT_GT(capped, 8 * 16);
    EXPECT_LE(capped, 2 * kMaxPolygons);
}

TEST_F(Render, AnyNonZeroMirrorWordDrawsTheMirroredHalf) {
    view_.grid = false;
    // A plane over x = 1 .. 5: its mirror image over x = -5 .. -1 has a vertex at (-3, 0, 0),
    // where the lit colour is the vertex's own.
    for (std::uint32_t mode : {3u, 0u}) {
        for (std::int32_t word : {0, 1, 2, -1}) {
            Model plane = makePlane(4, 2, {255, 0, 0, 255});
            for (ModelVertex& p : plane.positions)
                p.x += 3;
            plane.renderMode = mode;
            plane.groups[0].materialParams[kMirrorWord] = std::uint32_t(word);
            draw(&plane);
            const Pixel mirrored = atWorld({-3, 0, 0});
            if (word == 0) {
                EXPECT_EQ(mirrored.r, 128) << "mode " << mode;
            } else {
                EXPECT_NEAR(mirrored.r, 255 * facing({-3, 0, 0}), 2) << "mode " << mode << ", word " << word;
                EXPECT_EQ(mirrored.g, 0) << "mode " << mode << ", word " << word;
            }
            EXPECT_NEAR(atWorld({3, 0, 0}).r, 255 * facing({3, 0, 0}), 2) << "mode " << mode;
        }
    }
}

// An .x mesh without materials, and one whose material has diffuse alpha 0, are drawn opaque:
// white and red, not the grey background.
TEST_F(Render, XMeshesWithoutMaterialsOrAlphaShowOpaque) {
    view_.grid = false;
    // A square facing -z, wound clockwise as seen from there.
    const std::string square =
        "xof 0303txt 0032\nMesh {\n 4;\n -5;5;0;, 5;5;0;, 5;-5;0;, -5;-5;0;;\n 1;\n 4;0,1,2,3;;\n";
    const std::string red = " MeshMaterialList {\n  1;\n  1;\n  0;;\n  Material {\n   1;0;0;0;;\n   0;\n   0;0;0;;\n"
                            "   0;0;0;;\n  }\n }\n";
    const struct {
        std::string file;
        Pixel expected;
    } cases[] = {{square + "}\n", {255, 255, 255, 255}}, {square + red + "}\n", {255, 0, 0, 255}}};
    for (const auto& c : cases) {
        const std::vector<std::byte> bytes(reinterpret_cast<const std::byte*>(c.file.data()),
                                           reinterpret_cast<const std::byte*>(c.file.data() + c.file.size()));
        Model m;
        ReadContext ctx;
        const auto error = readX(bytes, m, ctx);
        ASSERT_FALSE(error.has_value()) << error->message();
        draw(&m);
        // Lit at the four corners alike and interpolated: the centre has the corners' N.L.
        const float lit = facing({5, 5, 0});
        const Pixel p = atWorld({0, 0, 0});
        EXPECT_NEAR(p.r, c.expected.r * lit, 1);
        EXPECT_NEAR(p.g, c.expected.g * lit, 1);
        EXPECT_NEAR(p.b, c.expected.b * lit, 1);
        EXPECT_EQ(p.a, 255);
    }
}

TEST_F(Render, TexturedXGroupsDrawTheirTexture) {
    view_.grid = false;
    test::TempDir dir;
    Image texel;
    texel.width = texel.height = 1;
    texel.rgba = {0, 128, 255, 255};
    const auto png = encodePng(texel);
    ASSERT_TRUE(png.has_value());
    test::writeBytes(dir.file("t.png"), *png);
    test::writeText(dir.file("m.x"),
                    "xof 0303txt 0032\nMesh {\n 4;\n -5;5;0;, 5;5;0;, 5;-5;0;, -5;-5;0;;\n 1;\n 4;0,1,2,3;;\n"
                    " MeshMaterialList {\n  1;\n  1;\n  0;;\n  Material {\n   1;1;1;1;;\n   0;\n   0;0;0;;\n"
                    "   0;0;0;;\n   TextureFilename { \"t.png\"; }\n  }\n }\n"
                    " MeshTextureCoords {\n  4;\n  0;0;, 1;0;, 1;1;, 0;1;;\n }\n}\n");
    LoadResult loaded = loadModelFile(dir.file("m.x"));
    ASSERT_NE(loaded.model, nullptr) << loaded.error->message();
    EXPECT_TRUE(loaded.warnings.empty());
    draw(loaded.model.get(), &loaded.instance);
    // The white material modulates the texture: its colour times the corners' N.L.
    const float lit = facing({5, 5, 0});
    const Pixel p = atWorld({0, 0, 0});
    EXPECT_NEAR(p.r, 0 * lit, 1);
    EXPECT_NEAR(p.g, 128 * lit, 1);
    EXPECT_NEAR(p.b, 255 * lit, 1);
}

// An image carried inside the model (a glTF's) textures its group as a file beside it would.
TEST_F(Render, EmbeddedImagesTextureTheirGroups) {
    view_.grid = false;
    Model plane = makePlane(1, 5, {255, 255, 255, 255});
    plane.textures.resize(2);
    plane.textures[1].kind = 1;
    plane.textures[1].fileName = "plane_0.png";
    plane.groups[0].textured = 1;
    plane.groups[0].textureIndex = 1;
    Image texel;
    texel.width = texel.height = 1;
    texel.rgba = {0, 128, 255, 255};
    const auto png = encodePng(texel);
    ASSERT_TRUE(png.has_value());
    plane.embeddedImages.push_back({"plane_0.png", *png});
    ModelInstance instance;
    EXPECT_TRUE(loadModelTextures(plane, instance.textures).empty());
    postLoad(plane, instance);
    draw(&plane, &instance);
    // The white group modulates the texture: its colour times the corners' N.L.
    const float lit = facing({5, 5, 0});
    const Pixel p = atWorld({0, 0, 0});
    EXPECT_NEAR(p.r, 0 * lit, 1);
    EXPECT_NEAR(p.g, 128 * lit, 1);
    EXPECT_NEAR(p.b, 255 * lit, 1);
}

TEST_F(Render, GroupsPastSixteenBitIndicesDrawEveryTriangle) {
    // 130 x 130 quads whose corners differ in uv: 67,600 vertices in one group.
    Model m = makePlane(130, 6, {0, 200, 0, 255});
    std::vector<ModelUV> uvs;
    for (ModelPolygon& p : m.polygons)
        for (int c = 0; c < 4; ++c) {
            uvs.push_back({float(uvs.size()), 0});
            p.corners[std::size_t(c)].uv = int(uvs.size()) - 1;
        }
    m.uvs.assign(uvs.begin(), uvs.end());
    for (const std::uint32_t mode : {3u, 0u}) {
        m.renderMode = mode;
        m.renderModeDirty = 1;
        const FrameCounts counts = draw(&m);
        EXPECT_EQ(counts.triangles, 130 * 130 * 2) << "mode " << mode;
        const auto [x0, y0] = project({-5.9f, 5.9f, 0});
        const auto [x1, y1] = project({5.9f, -5.9f, 0});
        int holes = 0;
        for (int y = int(y0) + 1; y < int(y1); ++y)
            for (int x = int(x0) + 1; x < int(x1); ++x)
                holes += at(x, y).g < 100;
        EXPECT_EQ(holes, 0) << "mode " << mode;
    }
}

// The vertex-cache order is worked out beside the first frames and taken when ready: the frames
// before and after show the same pixels, skinned vertices included.
TEST_F(Render, VertexCacheOrderArrivesWithoutChangingThePicture) {
    Model hill = makePlane(60, 6, {200, 120, 40, 255});
    for (ModelVertex& p : hill.positions)
        p.z = 0.3f * std::sin(p.x) * std::cos(p.y * 1.3f);
    computeNormals(hill);
    rideSecondBone(hill, {0.5f, 0.25f, 0});
    ModelInstance instance;
    postLoad(hill, instance);
    instance.playback.animating = true;
    lookFrom({3, 4, -20}, {0, 0, 0});
    draw(&hill, &instance);
    const Image first = image_;
    for (int frame = 0; frame < 400 && renderer_.ordering(); ++frame)
        draw(&hill, &instance);
    EXPECT_FALSE(renderer_.ordering());
    draw(&hill, &instance);
    EXPECT_EQ(image_.rgba, first.rgba);
}

TEST_F(Render, SameSceneSamePixels) {
    Model plane = makePlane(8, 5, {200, 100, 50, 255});
    draw(&plane);
    const Image first = image_;
    draw(&plane);
    EXPECT_EQ(first.rgba, image_.rgba);
}

}  // namespace
}  // namespace rv

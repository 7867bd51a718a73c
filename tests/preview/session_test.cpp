// The preview as the hosts run it: loop passes over the headless device, device loss, framing.
#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "model/mesh.h"
#include "preview/headless_device.h"
#include "preview/headless_render.h"
#include "preview/session.h"
#include "runtime/library.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

// A square of side `side` in the plane z = 0 facing -z, one quad.
Model makeSquare(float side) {
    Model m;
    const float h = side / 2;
    m.positions = {{-h, h, 0}, {h, h, 0}, {h, -h, 0}, {-h, -h, 0}};
    m.uvs = {{0, 0}};
    m.skin.resize(4);
    ModelPolygon p;
    p.cornerCount = 4;
    for (int c = 0; c < 4; ++c)
        p.corners[std::size_t(c)] = {c, 0, 0, 0};
    m.polygons = {p};
    m.groups[0].color = {255, 0, 0, 255};
    computeNormals(m);
    return m;
}

bool isBackground(const Image& image, int x, int y) {
    const std::uint8_t* p = &image.rgba[(std::size_t(y) * std::size_t(image.width) + std::size_t(x)) * 4];
    return p[0] == p[1] && p[1] == p[2];  // grey: background or grid
}

// The library started on a 160 x 90 headless device with a grey clear; false (and the library
// reset) where no context can be made.
bool startLibrary(HeadlessDevice& device) {
    LibOptions options;
    options.width = 160;
    options.height = 90;
    options.enterDataFolder = false;
    if (!LibInit(device, options)) {
        resetLibraryState();
        return false;
    }
    SetClearColour(128, 128, 128);
    return true;
}

TEST(PreviewSession, RecoversFromALostContextWithTheSamePicture) {
    test::RecordingSinks sinks;
    HeadlessDevice device;
    if (!startLibrary(device))
        GTEST_SKIP() << "no OpenGL 3.3 context can be created here (EGL surfaceless)";
    Model square = makeSquare(30);
    ModelInstance instance;
    postLoad(square, instance);
    {
        PreviewSession session(device);
        session.show(&square, &instance);
        double now = 1;
        for (int i = 0; i < 3; ++i)
            session.pass(now += 1.0 / 60, device.framebuffer());
        const Image before = device.readBack();
        EXPECT_FALSE(isBackground(before, 80, 45)) << "the square is drawn";

        device.simulateLoss();
        for (int i = 0; i < 6; ++i)
            session.pass(now += 1.0 / 60, device.framebuffer());
        EXPECT_TRUE(sinks.logged("デバイスロスト発生"));
        EXPECT_TRUE(sinks.logged("デバイスロストから復帰"));
        EXPECT_FALSE(lib().deviceLost);
        EXPECT_EQ(device.readBack().rgba, before.rgba);
        session.show(nullptr, nullptr);
    }
    resetLibraryState();
}

// The window prepares a model on the loader; the first frame takes that preparation only while
// the model is still as it was prepared.
TEST(PreviewSession, TakesAPreparationMadeBesideLoadingOnlyWhileItFitsTheModel) {
    HeadlessDevice device;
    if (!startLibrary(device))
        GTEST_SKIP() << "no OpenGL 3.3 context can be created here (EGL surfaceless)";
    lib().lightOn = false;  // the vertex colour as it is
    Model square = makeSquare(30);
    ModelInstance instance;
    postLoad(square, instance);
    // Marked green, so that the picture tells which preparation was drawn.
    auto marked = [&] {
        auto p = std::make_shared<ModelPreparation>(prepareForDrawing(square, instance));
        EXPECT_EQ(p->path, 3);
        EXPECT_EQ(p->prepared.groups.size(), square.groups.size());
        EXPECT_TRUE(preparedFrom(*p, square));
        for (PreparedVertex& v : p->prepared.groups[0].vertices)
            v.diffuse = 0xff00ff00u;
        return p;
    };
    auto centre = [&] {
        const Image image = device.readBack();
        const std::uint8_t* p = &image.rgba[(45 * 160 + 80) * 4];
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    {
        PreviewSession session(device);
        double now = 1;
        session.show(&square, &instance, marked());
        session.pass(now += 1.0 / 60, device.framebuffer());
        EXPECT_EQ(centre(), (std::array<int, 3>{0, 255, 0})) << "the offered preparation is drawn";

        // A render mode changed between loading and the first frame makes it stale.
        session.show(nullptr, nullptr);
        auto stale = marked();
        square.renderMode = 0;
        EXPECT_FALSE(preparedFrom(*stale, square));
        session.show(&square, &instance, stale);
        session.pass(now += 1.0 / 60, device.framebuffer());
        EXPECT_EQ(centre(), (std::array<int, 3>{255, 0, 0})) << "the model is prepared again";
        session.show(nullptr, nullptr);
    }
    resetLibraryState();
}

TEST(PreviewSession, FitFramesAModelAThousandUnitsWide) {
    Model square = makeSquare(1000);
    ModelInstance instance;
    postLoad(square, instance);
    HeadlessRenderOptions options;
    options.width = 160;
    options.height = 90;
    options.grid = false;
    const std::optional<Image> unfitted = renderHeadless(&square, &instance, options);
    if (!unfitted)
        GTEST_SKIP() << "no OpenGL 3.3 context can be created here (EGL surfaceless)";
    // At the default camera (42 units away) the square covers the whole picture.
    EXPECT_FALSE(isBackground(*unfitted, 0, 0));

    options.fit = true;
    options.yaw = 0;
    options.pitch = 0;
    const std::optional<Image> fitted = renderHeadless(&square, &instance, options);
    ASSERT_TRUE(fitted);
    // Fitted, the whole square is inside the picture, with background round it, and fills much
    // of its height.
    int rows = 0;
    for (int y = 0; y < 90; ++y)
        rows += !isBackground(*fitted, 80, y);
    EXPECT_TRUE(isBackground(*fitted, 0, 0));
    EXPECT_TRUE(isBackground(*fitted, 159, 89));
    EXPECT_TRUE(isBackground(*fitted, 80, 0));
    EXPECT_GT(rows, 40);
    EXPECT_LT(rows, 90);
}

}  // namespace
}  // namespace rv

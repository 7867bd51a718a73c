// The preview as the hosts run it: loop passes over the headless device, device loss, framing.
#include <gtest/gtest.h>

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

TEST(PreviewSession, RecoversFromALostContextWithTheSamePicture) {
    test::RecordingSinks sinks;
    HeadlessDevice device;
    LibOptions options;
    options.width = 160;
    options.height = 90;
    options.enterDataFolder = false;
    if (!LibInit(device, options)) {
        resetLibraryState();
        GTEST_SKIP() << "no OpenGL 3.3 context can be created here (EGL surfaceless)";
    }
    SetClearColour(128, 128, 128);
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

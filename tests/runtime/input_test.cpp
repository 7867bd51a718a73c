#include "runtime/input.h"

#include <gtest/gtest.h>

#include "runtime/library.h"

namespace rv {
namespace {

class InputTest : public ::testing::Test {
protected:
    void SetUp() override { resetLibraryState(); }
    void TearDown() override { resetLibraryState(); }
};

TEST_F(InputTest, ButtonsKeepTheirLastDownAndUpPositions) {
    LibMouseButton(MouseButton::Middle, true, 10, 20);
    LibMouseMove(-2, -4);
    EXPECT_TRUE(lib().mouse.middle);
    EXPECT_EQ(lib().mouse.x, -2);
    EXPECT_EQ(lib().mouse.y, -4);
    LibMouseButton(MouseButton::Middle, false, 30, 40);
    const MouseState& m = lib().mouse;
    EXPECT_FALSE(m.middle);
    EXPECT_EQ(m.middleDown.x, 10);
    EXPECT_EQ(m.middleDown.y, 20);
    EXPECT_EQ(m.middleUp.x, 30);
    EXPECT_EQ(m.middleUp.y, 40);
    EXPECT_EQ(m.x, 30);
    EXPECT_FALSE(m.left);
    EXPECT_EQ(m.leftDown.x, 0);
}

TEST_F(InputTest, KeysOutsideTheTableAreIgnored) {
    LibKeyEvent(-1, true);
    LibKeyEvent(256, true);
    for (int k = 0; k < 256; ++k)
        EXPECT_EQ(lib().keyEdge[k], kKeyIdle) << k;
    LibKeyEvent(255, true);
    EXPECT_EQ(lib().keyEdge[255], kKeyPressed);
    LibKeyEvent(255, true);  // auto-repeat keeps the edge
    EXPECT_EQ(lib().keyEdge[255], kKeyPressed);
}

}  // namespace
}  // namespace rv

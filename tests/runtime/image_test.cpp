#include "runtime/image.h"

#include <gtest/gtest.h>

#include <cstring>

#include "model/textures.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

std::vector<std::byte> makeKzi(std::uint32_t w, std::uint32_t h, std::size_t pixelBytes) {
    std::vector<std::byte> b(16 + pixelBytes);
    std::memcpy(b.data() + 8, &w, 4);
    std::memcpy(b.data() + 12, &h, 4);
    for (std::size_t i = 0; i < pixelBytes; ++i)
        b[16 + i] = std::byte(i);
    return b;
}

// A 2x1 24-bit BMP: one red and one green pixel.
std::vector<std::byte> makeBmp() {
    const unsigned char bmp[] = {
        'B',  'M', 62, 0,    0,    0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header
        40,   0,   0,  0,    2,    0, 0, 0, 1, 0, 0,  0, 1, 0, 24, 0, 0, 0,   0, 0,   8, 0, 0, 0, 0x13,
        0x0B, 0,   0,  0x13, 0x0B, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 255, 0, 255, 0, 0, 0,  // B G R, B G R, 2 bytes row padding
    };
    const auto* p = reinterpret_cast<const std::byte*>(bmp);
    return std::vector<std::byte>(p, p + sizeof bmp);
}

TEST(ImageDecode, KziGivesSizeAndSwapsToRgba) {
    const auto image = decodeImage(makeKzi(2, 1, 8), "KZI");
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width, 2);
    EXPECT_EQ(image->height, 1);
    // Stored B, G, R, A.
    EXPECT_EQ(image->rgba[0], 2);
    EXPECT_EQ(image->rgba[1], 1);
    EXPECT_EQ(image->rgba[2], 0);
    EXPECT_EQ(image->rgba[3], 3);
}

TEST(ImageDecode, KziShorterThanItsPixelsIsRefused) {
    EXPECT_FALSE(decodeImage(makeKzi(4, 4, 63), "kzi").has_value());
    EXPECT_FALSE(decodeImage(makeKzi(0, 4, 0), "kzi").has_value());
    EXPECT_FALSE(decodeImage(std::vector<std::byte>(10), "kzi").has_value());
}

TEST(ImageDecode, BmpThroughTheGeneralDecoder) {
    const auto image = decodeImage(makeBmp(), "bmp");
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width, 2);
    EXPECT_EQ(image->height, 1);
    EXPECT_EQ(image->rgba[0], 255);
    EXPECT_EQ(image->rgba[5], 255);
    EXPECT_FALSE(decodeImage(test::bytesOf("not an image"), "png").has_value());
}

TEST(ModelTextureLoad, StoresSizeAndImageOrOnlyLogsWhenMissing) {
    test::TempDir dir;
    test::writeBytes(dir.file("Wood.BMP"), makeBmp());
    Model model;
    std::vector<Image> images;
    model.folder = dir.path().string();
    model.textures.resize(3);
    test::RecordingSinks sinks;
    EXPECT_TRUE(LoadModelTexture(model, 1, "tex\\..\\wood.bmp", images) ||
                LoadModelTexture(model, 1, "wood.bmp", images));
    EXPECT_EQ(model.textures[1].width, 2);
    EXPECT_EQ(model.textures[1].height, 1);
    ASSERT_GE(images.size(), 2u);
    EXPECT_EQ(images[1].width, 2);
    EXPECT_FALSE(LoadModelTexture(model, 2, "missing.png", images));
    EXPECT_TRUE(sinks.logged("*** ERROR *** missing.png Loadできませんでした。"));
    EXPECT_FALSE(LoadModelTexture(model, 300, "wood.bmp", images));
}

}  // namespace
}  // namespace rv

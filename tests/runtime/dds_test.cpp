// DDS textures: DXT1/3/5 blocks and masked RGB(A) against pixels worked out by hand, refusal of
// truncated, oversized and unsupported files, and DDS through the texture loader and glTF export.
#include "runtime/dds.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "app/convert.h"
#include "app/load.h"
#include "formats/gltf/tinygltf.h"
#include "model/mesh.h"
#include "model/textures.h"
#include "runtime/paths.h"
#include "tests/support/make_model.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

constexpr std::uint32_t kAlphaPixels = 0x1, kFourCc = 0x4, kRgb = 0x40;

struct Rgba {
    int r, g, b, a;
};

struct DdsHeader {
    std::uint32_t width = 4, height = 4;
    std::uint32_t pixelFlags = kFourCc;
    const char* fourCc = "DXT1";
    std::uint32_t bitCount = 0;
    std::uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    std::uint32_t flags = 0x1007;  // caps, height, width, pixel format
    std::uint32_t depth = 0, caps2 = 0;
    std::uint32_t headerSize = 124, pixelFormatSize = 32;
};

void put32(std::vector<std::byte>& b, std::size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

std::vector<std::byte> makeDds(const DdsHeader& s, const std::vector<std::uint8_t>& payload) {
    std::vector<std::byte> b(128);
    std::memcpy(b.data(), "DDS ", 4);
    put32(b, 4, s.headerSize);
    put32(b, 8, s.flags);
    put32(b, 12, s.height);
    put32(b, 16, s.width);
    put32(b, 24, s.depth);
    put32(b, 76, s.pixelFormatSize);
    put32(b, 80, s.pixelFlags);
    std::memcpy(b.data() + 84, s.fourCc, 4);
    put32(b, 88, s.bitCount);
    for (int i = 0; i < 4; ++i)
        put32(b, 92 + std::size_t(i) * 4, s.masks[i]);
    put32(b, 108, 0x1000);  // DDSCAPS_TEXTURE
    put32(b, 112, s.caps2);
    for (std::uint8_t v : payload)
        b.push_back(std::byte(v));
    return b;
}

// A BC1-style colour block: two RGB565 endpoints, then a 2-bit index per pixel, row by row with
// the first pixel in the low bits.
void appendColourBlock(std::vector<std::uint8_t>& out, std::uint16_t c0, std::uint16_t c1, const int (&idx)[16]) {
    out.push_back(std::uint8_t(c0));
    out.push_back(std::uint8_t(c0 >> 8));
    out.push_back(std::uint8_t(c1));
    out.push_back(std::uint8_t(c1 >> 8));
    for (int row = 0; row < 4; ++row) {
        int byte = 0;
        for (int x = 0; x < 4; ++x)
            byte |= idx[row * 4 + x] << (2 * x);
        out.push_back(std::uint8_t(byte));
    }
}

// A BC3 alpha block: two endpoints, then a 3-bit index per pixel packed into 48 bits.
void appendAlphaBlock(std::vector<std::uint8_t>& out, std::uint8_t a0, std::uint8_t a1, const int (&idx)[16]) {
    out.push_back(a0);
    out.push_back(a1);
    std::uint64_t bits = 0;
    for (int i = 0; i < 16; ++i)
        bits |= std::uint64_t(idx[i]) << (3 * i);
    for (int i = 0; i < 6; ++i)
        out.push_back(std::uint8_t(bits >> (8 * i)));
}

constexpr std::uint16_t kRed565 = 0xF800, kBlue565 = 0x001F, kWhite565 = 0xFFFF;

// Index (x + y) % 4 puts every palette entry in every row and column.
constexpr int kDiagonal[16] = {0, 1, 2, 3, 1, 2, 3, 0, 2, 3, 0, 1, 3, 0, 1, 2};

void expectPixel(const Image& image, int x, int y, Rgba want, int tolerance = 0) {
    const std::size_t at = (std::size_t(y) * std::size_t(image.width) + std::size_t(x)) * 4;
    ASSERT_LT(at + 3, image.rgba.size());
    const int got[4] = {image.rgba[at], image.rgba[at + 1], image.rgba[at + 2], image.rgba[at + 3]};
    const int expected[4] = {want.r, want.g, want.b, want.a};
    for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(got[c], expected[c], tolerance) << "pixel " << x << "," << y << " channel " << c;
}

TEST(DdsDecode, Dxt1FourColourBlockInterpolatesThirds) {
    std::vector<std::uint8_t> block;
    appendColourBlock(block, kRed565, kBlue565, kDiagonal);  // c0 > c1: four opaque colours
    const auto image = decodeDds(makeDds({}, block));
    ASSERT_TRUE(image.has_value());
    ASSERT_EQ(image->width, 4);
    ASSERT_EQ(image->height, 4);
    const Rgba palette[4] = {{255, 0, 0, 255}, {0, 0, 255, 255}, {170, 0, 85, 255}, {85, 0, 170, 255}};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            expectPixel(*image, x, y, palette[kDiagonal[y * 4 + x]]);
}

TEST(DdsDecode, Dxt1WithFirstEndpointNotGreaterHasTransparentBlack) {
    std::vector<std::uint8_t> blocks;
    appendColourBlock(blocks, kBlue565, kRed565, kDiagonal);  // c0 < c1: midpoint and transparent
    appendColourBlock(blocks, kWhite565, kWhite565, kDiagonal);  // c0 == c1 is the same mode
    DdsHeader header;
    header.width = 8;
    const auto image = decodeDds(makeDds(header, blocks));
    ASSERT_TRUE(image.has_value());
    const Rgba palette[4] = {{0, 0, 255, 255}, {255, 0, 0, 255}, {128, 0, 128, 255}, {0, 0, 0, 0}};
    const Rgba white[4] = {{255, 255, 255, 255}, {255, 255, 255, 255}, {255, 255, 255, 255}, {0, 0, 0, 0}};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            expectPixel(*image, x, y, palette[kDiagonal[y * 4 + x]], 1);  // 127.5 rounds either way
            expectPixel(*image, x + 4, y, white[kDiagonal[y * 4 + x]]);
        }
}

TEST(DdsDecode, Dxt3HasExplicitAlphaAndAlwaysFourColours) {
    std::vector<std::uint8_t> block;
    for (int k = 0; k < 8; ++k)
        block.push_back(std::uint8_t((2 * k) | (2 * k + 1) << 4));  // pixel i has alpha i / 15
    appendColourBlock(block, kBlue565, kRed565, kDiagonal);  // c0 < c1 is no alpha mode here
    DdsHeader header;
    header.fourCc = "DXT3";
    const auto image = decodeDds(makeDds(header, block));
    ASSERT_TRUE(image.has_value());
    const Rgba palette[4] = {{0, 0, 255, 0}, {255, 0, 0, 0}, {85, 0, 170, 0}, {170, 0, 85, 0}};
    for (int i = 0; i < 16; ++i) {
        Rgba want = palette[kDiagonal[i]];
        want.a = i * 17;
        expectPixel(*image, i % 4, i / 4, want);
    }
}

TEST(DdsDecode, Dxt5InterpolatesAlphaInBothModes) {
    int idx[16];
    for (int i = 0; i < 16; ++i)
        idx[i] = i % 8;
    const int solid[16] = {};
    std::vector<std::uint8_t> blocks;
    appendAlphaBlock(blocks, 210, 0, idx);  // a0 > a1: six steps of 30 between them
    appendColourBlock(blocks, kWhite565, kWhite565, solid);
    appendAlphaBlock(blocks, 0, 200, idx);  // a0 <= a1: four steps of 40, then 0 and 255
    appendColourBlock(blocks, kBlue565, kBlue565, solid);
    DdsHeader header;
    header.fourCc = "DXT5";
    header.width = 8;
    const auto image = decodeDds(makeDds(header, blocks));
    ASSERT_TRUE(image.has_value());
    const int eight[8] = {210, 0, 180, 150, 120, 90, 60, 30};
    const int six[8] = {0, 200, 40, 80, 120, 160, 0, 255};
    for (int i = 0; i < 16; ++i) {
        expectPixel(*image, i % 4, i / 4, {255, 255, 255, eight[i % 8]});
        expectPixel(*image, i % 4 + 4, i / 4, {0, 0, 255, six[i % 8]});
    }
}

TEST(DdsDecode, Dxt1SizeNotAMultipleOfFourKeepsTheVisiblePixels) {
    const int solid[16] = {};
    int rows[16];
    for (int i = 0; i < 16; ++i)
        rows[i] = i / 4;  // row r shows palette entry r
    std::vector<std::uint8_t> blocks;
    appendColourBlock(blocks, kRed565, kRed565, solid);
    appendColourBlock(blocks, kRed565, kBlue565, rows);
    DdsHeader header;
    header.width = 5;
    header.height = 3;
    const std::vector<std::byte> file = makeDds(header, blocks);
    const auto image = decodeDds(file);
    ASSERT_TRUE(image.has_value());
    ASSERT_EQ(image->width, 5);
    ASSERT_EQ(image->height, 3);
    ASSERT_EQ(image->rgba.size(), 5u * 3u * 4u);
    const Rgba right[3] = {{255, 0, 0, 255}, {0, 0, 255, 255}, {170, 0, 85, 255}};
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x)
            expectPixel(*image, x, y, {255, 0, 0, 255});
        expectPixel(*image, 4, y, right[y]);
    }
}

TEST(DdsDecode, UncompressedChannelsFollowTheirMasks) {
    const std::uint32_t words[4] = {0x80FF0000, 0xFF00FF00, 0x400000FF, 0x00123456};
    std::vector<std::uint8_t> payload(16);
    std::memcpy(payload.data(), words, 16);

    DdsHeader argb;
    argb.width = argb.height = 2;
    argb.pixelFlags = kRgb | kAlphaPixels;
    argb.bitCount = 32;
    argb.masks[0] = 0x00FF0000;
    argb.masks[1] = 0x0000FF00;
    argb.masks[2] = 0x000000FF;
    argb.masks[3] = 0xFF000000;
    auto image = decodeDds(makeDds(argb, payload));
    ASSERT_TRUE(image.has_value());
    expectPixel(*image, 0, 0, {255, 0, 0, 128});  // the file's first row is the top
    expectPixel(*image, 1, 0, {0, 255, 0, 255});
    expectPixel(*image, 0, 1, {0, 0, 255, 64});
    expectPixel(*image, 1, 1, {0x12, 0x34, 0x56, 0});

    DdsHeader abgr = argb;  // A8B8G8R8
    abgr.masks[0] = 0x000000FF;
    abgr.masks[2] = 0x00FF0000;
    image = decodeDds(makeDds(abgr, payload));
    ASSERT_TRUE(image.has_value());
    expectPixel(*image, 0, 0, {0, 0, 255, 128});
    expectPixel(*image, 1, 1, {0x56, 0x34, 0x12, 0});

    DdsHeader xrgb = argb;  // X8R8G8B8: the top byte is padding, the texture opaque
    xrgb.pixelFlags = kRgb;
    image = decodeDds(makeDds(xrgb, payload));
    ASSERT_TRUE(image.has_value());
    expectPixel(*image, 0, 0, {255, 0, 0, 255});
    expectPixel(*image, 1, 1, {0x12, 0x34, 0x56, 255});

    // A2R10G10B10: fields other than 8 bits are scaled to 0..255.
    DdsHeader wide = argb;
    wide.width = 1;
    wide.height = 1;
    wide.masks[0] = 0x3FF00000;
    wide.masks[1] = 0x000FFC00;
    wide.masks[2] = 0x000003FF;
    wide.masks[3] = 0xC0000000;
    const std::uint32_t word = 2u << 30 | 1023u << 20 | 512u << 10 | 0u;
    std::vector<std::uint8_t> one(4);
    std::memcpy(one.data(), &word, 4);
    image = decodeDds(makeDds(wide, one));
    ASSERT_TRUE(image.has_value());
    expectPixel(*image, 0, 0, {255, 128, 0, 170});
}

TEST(DdsDecode, Uncompressed24BitRowsArePacked) {
    DdsHeader header;  // R8G8B8, 3x2: rows of 9 bytes, no padding
    header.width = 3;
    header.height = 2;
    header.pixelFlags = kRgb;
    header.bitCount = 24;
    header.masks[0] = 0xFF0000;
    header.masks[1] = 0x00FF00;
    header.masks[2] = 0x0000FF;
    std::vector<std::uint8_t> payload;
    for (int i = 0; i < 6; ++i) {
        payload.push_back(std::uint8_t(i * 10 + 1));  // B
        payload.push_back(std::uint8_t(i * 10 + 2));  // G
        payload.push_back(std::uint8_t(i * 10 + 3));  // R
    }
    const auto image = decodeDds(makeDds(header, payload));
    ASSERT_TRUE(image.has_value());
    for (int i = 0; i < 6; ++i)
        expectPixel(*image, i % 3, i / 3, {i * 10 + 3, i * 10 + 2, i * 10 + 1, 255});
}

// Small valid files of each kind.
std::vector<std::vector<std::byte>> validFiles() {
    std::vector<std::vector<std::byte>> files;
    std::vector<std::uint8_t> two(16, 0x55);
    DdsHeader dxt1;
    dxt1.width = 5;
    dxt1.height = 3;
    files.push_back(makeDds(dxt1, two));
    DdsHeader dxt5;
    dxt5.fourCc = "DXT5";
    files.push_back(makeDds(dxt5, two));
    DdsHeader rgb;
    rgb.width = 3;
    rgb.height = 2;
    rgb.pixelFlags = kRgb;
    rgb.bitCount = 24;
    rgb.masks[0] = 0xFF0000;
    files.push_back(makeDds(rgb, std::vector<std::uint8_t>(18, 7)));
    return files;
}

TEST(DdsDecode, RefusesEveryTruncation) {
    for (const std::vector<std::byte>& whole : validFiles()) {
        ASSERT_TRUE(decodeDds(whole).has_value());
        for (std::size_t n = 0; n < whole.size(); ++n) {
            const std::vector<std::byte> prefix(whole.begin(),
                                                whole.begin() + std::ptrdiff_t(n));  // own block for ASan
            EXPECT_FALSE(decodeDds(prefix).has_value()) << "a " << n << "-byte prefix was accepted";
        }
    }
}

TEST(DdsDecode, RefusesBadAndOversizedHeaders) {
    const std::vector<std::uint8_t> block(8, 0);
    const auto refused = [&](DdsHeader header, std::size_t payloadBytes = 8) {
        return !decodeDds(makeDds(header, std::vector<std::uint8_t>(payloadBytes, 0))).has_value();
    };
    ASSERT_FALSE(refused({}));
    DdsHeader s;
    s.headerSize = 123;
    EXPECT_TRUE(refused(s));
    s = {};
    s.pixelFormatSize = 24;
    EXPECT_TRUE(refused(s));
    s = {};
    s.width = 0;
    EXPECT_TRUE(refused(s));
    s = {};
    s.height = 0;
    EXPECT_TRUE(refused(s));
    s = {};
    s.width = 16385;
    EXPECT_TRUE(refused(s, 4097 * 8));
    s = {};
    s.width = s.height = 0xFFFFFFFF;  // would overflow 32-bit size arithmetic
    EXPECT_TRUE(refused(s));
    s = {};
    s.width = s.height = 16384;  // the largest allowed size, but its blocks are missing
    s.fourCc = "DXT5";
    EXPECT_TRUE(refused(s, 4096));
    s = {};
    s.caps2 = 0x200 | 0xFC00;  // cube map with all faces
    EXPECT_TRUE(refused(s, 6 * 8));
    s = {};
    s.caps2 = 0x200000;  // volume
    s.flags |= 0x800000;
    s.depth = 2;
    EXPECT_TRUE(refused(s, 16));
    s.caps2 = 0;  // a depth over 1 alone is a volume too
    EXPECT_TRUE(refused(s, 16));

    std::vector<std::byte> noMagic = makeDds({}, block);
    noMagic[3] = std::byte{'X'};
    EXPECT_FALSE(decodeDds(noMagic).has_value());

    DdsHeader rgb;
    rgb.width = rgb.height = 1;
    rgb.pixelFlags = kRgb;
    rgb.bitCount = 32;
    rgb.masks[0] = 0x00FF00FF;  // a mask with a gap
    EXPECT_TRUE(refused(rgb, 4));
    rgb.bitCount = 24;
    rgb.masks[0] = 0xFF000000;  // a mask beyond the pixel
    EXPECT_TRUE(refused(rgb, 4));
}

TEST(DdsDecode, RefusesOtherPixelFormats) {
    for (const char* code : {"DXT2", "DXT4", "ATI2", "BC5U", "DX10", "\x71\0\0\0"}) {
        DdsHeader s;
        s.fourCc = code;
        EXPECT_FALSE(decodeDds(makeDds(s, std::vector<std::uint8_t>(1024, 0))).has_value()) << code;
    }
    DdsHeader s;
    s.width = s.height = 1;
    s.pixelFlags = kRgb;
    s.bitCount = 16;  // R5G6B5
    s.masks[0] = 0xF800;
    s.masks[1] = 0x07E0;
    s.masks[2] = 0x001F;
    EXPECT_FALSE(decodeDds(makeDds(s, std::vector<std::uint8_t>(64, 0))).has_value());
    s.pixelFlags = 0x20000;  // luminance
    s.bitCount = 8;
    s.masks[0] = 0xFF;
    EXPECT_FALSE(decodeDds(makeDds(s, std::vector<std::uint8_t>(64, 0))).has_value());
}

std::vector<std::byte> redDxt1() {
    const int solid[16] = {};
    std::vector<std::uint8_t> block;
    appendColourBlock(block, kRed565, kRed565, solid);
    return makeDds({}, block);
}

TEST(DdsDecode, TexturesLoadThroughTheImageDecoder) {
    const auto viaMagic = decodeImage(redDxt1(), "tga");  // found by content, not by name
    ASSERT_TRUE(viaMagic.has_value());
    expectPixel(*viaMagic, 3, 3, {255, 0, 0, 255});
    std::vector<std::byte> broken = redDxt1();
    broken.resize(130);
    EXPECT_FALSE(decodeImage(broken, "dds").has_value());

    test::TempDir dir;
    test::writeBytes(dir.file("Skin.DDS"), redDxt1());
    Model model;
    model.folder = dir.path().string();
    model.textures.resize(2);
    std::vector<Image> images;
    ASSERT_TRUE(LoadModelTexture(model, 1, "skin.dds", images));
    EXPECT_EQ(model.textures[1].width, 4);
    EXPECT_EQ(model.textures[1].height, 4);
}

bool keepImage(tinygltf::Image*, const int, std::string*, std::string*, int, int, const unsigned char*, int, void*) {
    return true;
}

TEST(DdsDecode, GltfExportEmbedsTheTextureAsPng) {
    test::TempDir dir;
    test::writeBytes(dir.file("skin.dds"), redDxt1());
    Model m = test::makeSmallModel();
    m.folder = dir.path().string();
    m.textures.resize(2);
    m.textures[1].kind = 1;
    m.textures[1].fileName = "skin.dds";
    m.groups[0].textured = 1;
    m.groups[0].textureIndex = 1;
    postLoad(m);
    const std::string path = dir.file("out.glb");
    const SaveOutcome saved = saveModel(m, ConversionTarget::Glb, path);
    ASSERT_TRUE(saved.ok) << errorText(saved.error);
    EXPECT_TRUE(saved.warnings.empty());

    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(keepImage, nullptr);
    tinygltf::Model doc;
    std::string error, warning;
    ASSERT_TRUE(loader.LoadBinaryFromFile(&doc, &error, &warning, path)) << error;
    ASSERT_EQ(doc.images.size(), 1u);
    EXPECT_EQ(doc.images[0].mimeType, "image/png");
    const tinygltf::BufferView& view = doc.bufferViews[std::size_t(doc.images[0].bufferView)];
    const auto* embedded = reinterpret_cast<const std::byte*>(doc.buffers[0].data.data() + view.byteOffset);
    const auto png = decodeImage(std::span(embedded, view.byteLength), "png");
    ASSERT_TRUE(png.has_value());
    ASSERT_EQ(png->width, 4);
    expectPixel(*png, 2, 1, {255, 0, 0, 255});
}

TEST(DdsCorpus, EveryDdsDecodesToItsHeaderSize) {
    const std::filesystem::path corpus = test::corpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus";
    int seen = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(corpus, ec)) {
        if (!entry.is_regular_file() || toLower(entry.path().extension().string()) != ".dds")
            continue;
        const std::vector<std::byte> bytes = test::readBytes(entry.path().string());
        ASSERT_GE(bytes.size(), 20u) << entry.path();
        std::uint32_t height = 0, width = 0;
        std::memcpy(&height, bytes.data() + 12, 4);
        std::memcpy(&width, bytes.data() + 16, 4);
        const auto image = decodeImage(bytes, "dds");
        ASSERT_TRUE(image.has_value()) << entry.path();
        EXPECT_EQ(image->width, int(width)) << entry.path();
        EXPECT_EQ(image->height, int(height)) << entry.path();
        ++seen;
    }
    if (seen == 0)
        GTEST_SKIP() << "no DDS files in the corpus";
}

}  // namespace
}  // namespace rv

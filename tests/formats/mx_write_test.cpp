#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "formats/mx/mx.h"
#include "tests/support/make_model.h"

namespace rv {
namespace {

std::vector<std::byte> written(Model& m, std::vector<std::string>* warnings = nullptr) {
    WriteContext ctx;
    const auto error = writeMx(m, ctx);
    EXPECT_FALSE(error) << error->reason;
    if (warnings)
        *warnings = ctx.warnings;
    return ctx.bytes;
}

std::uint32_t u32(const std::vector<std::byte>& b, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, &b[at], 4);
    return v;
}
float f32(const std::vector<std::byte>& b, std::size_t at) { return bitsFloat(u32(b, at)); }
std::int16_t i16(const std::vector<std::byte>& b, std::size_t at) {
    std::int16_t v;
    std::memcpy(&v, &b[at], 2);
    return v;
}
ModelVertex vertexSlot(const std::vector<std::byte>& b, std::size_t face, int slot) {
    const std::size_t at = 92 + 168 * face + 16 * std::size_t(slot);
    return {f32(b, at), f32(b, at + 4), f32(b, at + 8)};
}
std::string nameSlot(const std::vector<std::byte>& b, std::size_t faces, std::size_t slot) {
    const std::size_t at = 92 + 168 * faces + 16 * slot;
    return std::string(reinterpret_cast<const char*>(&b[at]), 16);
}

// A textured triangle ABC in group 0 and an untextured quad in group 4.
Model triangleAndQuad() {
    Model m;
    m.positions = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}};
    m.normals = {{0, 0, 1}, {0, 1, 0}, {1, 0, 0}};
    m.colors = {{300, -4, 254.9f, 255}, {1, 2, 3, 255}, {9, 8, 7, 255}};
    m.uvs = {{0.5f, 0.25f}, {1, 1}, {0, 1}};
    m.groups.resize(5);
    m.groups[0].textureIndex = 1;
    m.textures.resize(2);
    m.textures[1].kind = 1;
    m.textures[1].fileName = "abcd.bmp";
    m.textures[1].width = 64;
    m.textures[1].height = 32;
    ModelPolygon tri;
    tri.cornerCount = 3;
    tri.group = 0;
    tri.corners[0] = {0, 0, 0, 0};
    tri.corners[1] = {1, 1, 1, 1};
    tri.corners[2] = {2, 2, 1, 2};
    ModelPolygon quad;
    quad.cornerCount = 4;
    quad.group = 4;
    for (int k = 0; k < 4; ++k)
        quad.corners[k] = {k, 0, k == 3 ? 2 : 1, 0};
    m.polygons = {tri, quad};
    return m;
}

TEST(MxWrite, HeaderSectionAAndNameSlots) {
    Model m = triangleAndQuad();
    const auto b = written(m);
    ASSERT_EQ(b.size(), 32u + 60 + 2 * 168 + 5 * 16);  // G = 5: the quad is in group 4
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[0]), 4), std::string("MXF\0", 4));
    const std::uint32_t header[] = {256, 60, 32, 2 * 168, 92, 5 * 16, 2 * 168 + 92};
    for (int w = 0; w < 7; ++w)
        EXPECT_EQ(u32(b, 4 + 4 * std::size_t(w)), header[w]) << "header word " << w + 1;
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(unsigned(b[32 + std::size_t(i)]), 0u);
    EXPECT_EQ(f32(b, 64), 1.0f);
    EXPECT_EQ(f32(b, 72), 1.0f);
    EXPECT_EQ(f32(b, 76), 0.0f);
    EXPECT_EQ(i16(b, 80), 1);
    EXPECT_EQ(i16(b, 82), 2);
    EXPECT_EQ(nameSlot(b, 2, 0), std::string("abcd") + std::string(12, '\0'));
    for (std::size_t s = 1; s < 5; ++s)
        EXPECT_EQ(nameSlot(b, 2, s), std::string(16, '\0'));
}

TEST(MxWrite, TriangleSlotsColourAndTexture) {
    Model m = triangleAndQuad();
    const auto b = written(m);
    // Slots (A, C, B, A), each as (x, -y, -z) with w 1.
    EXPECT_EQ(vertexSlot(b, 0, 0), (ModelVertex{1, -2, -3}));
    EXPECT_EQ(vertexSlot(b, 0, 1), (ModelVertex{7, -8, -9}));
    EXPECT_EQ(vertexSlot(b, 0, 2), (ModelVertex{4, -5, -6}));
    EXPECT_EQ(vertexSlot(b, 0, 3), (ModelVertex{1, -2, -3}));
    EXPECT_EQ(f32(b, 92 + 12), 1.0f);
    // Normals in corner order, unchanged, slot 3 repeating corner 0, w 0.
    EXPECT_EQ(f32(b, 92 + 64 + 8), 1.0f);
    EXPECT_EQ(f32(b, 92 + 64 + 16 + 4), 1.0f);
    EXPECT_EQ(f32(b, 92 + 64 + 32), 1.0f);
    EXPECT_EQ(f32(b, 92 + 64 + 48 + 8), 1.0f);
    EXPECT_EQ(f32(b, 92 + 64 + 12), 0.0f);
    // Texture coordinates in corner order, in pixels of the 64 x 32 image.
    EXPECT_EQ(f32(b, 92 + 128), 32.0f);
    EXPECT_EQ(f32(b, 92 + 132), 8.0f);
    EXPECT_EQ(f32(b, 92 + 136), 64.0f);
    EXPECT_EQ(f32(b, 92 + 152), 32.0f);
    // Corner 0's colour, clamped to 0..255 per channel.
    EXPECT_EQ(u32(b, 92 + 160), 0xff00feu);
    EXPECT_EQ(i16(b, 92 + 164), 0);
    EXPECT_EQ(i16(b, 92 + 166), 0);
    // The quad: slots 3..0 hold corners 0..3, colour from corner 3, no texture, coordinates 0.
    const std::size_t q = 92 + 168;
    EXPECT_EQ(vertexSlot(b, 1, 3), (ModelVertex{1, -2, -3}));
    EXPECT_EQ(vertexSlot(b, 1, 0), (ModelVertex{10, -11, -12}));
    EXPECT_EQ(u32(b, q + 160), 0x090807u);
    EXPECT_EQ(i16(b, q + 164), -1);
    EXPECT_EQ(i16(b, q + 166), 4);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(f32(b, q + 128 + 4 * std::size_t(i)), 0.0f);
}

TEST(MxWrite, TextureNamesAreCutOrLeftOutWithAWarning) {
    Model m = triangleAndQuad();
    m.textures[1].fileName = "a_very_long_texture_name.png";
    m.textures.resize(9);
    for (int i = 2; i < 9; ++i) {
        m.textures[std::size_t(i)].kind = 1;
        m.textures[std::size_t(i)].fileName = "t" + std::to_string(i) + ".bmp";
    }
    std::vector<std::string> warnings;
    const auto b = written(m, &warnings);
    EXPECT_EQ(nameSlot(b, 2, 0), std::string("a_very_long_tex") + '\0');
    EXPECT_EQ(nameSlot(b, 2, 4).substr(0, 3), std::string("t5\0", 3));
    bool leftOut = false;
    for (const std::string& w : warnings)
        leftOut = leftOut || w.find("later names are left out") != std::string::npos;
    EXPECT_TRUE(leftOut);
    EXPECT_EQ(warnings.size(), 2u);
}

TEST(MxWrite, RefusesWhatTheFormatCannotHold) {
    {
        Model m = test::makeQuadGrid(2001);
        WriteContext ctx;
        const auto error = writeMx(m, ctx);
        ASSERT_TRUE(error);
        EXPECT_NE(error->reason.find("2000"), std::string::npos) << error->reason;
        EXPECT_EQ(error->where, FormatError::Where::Nowhere);
        EXPECT_TRUE(ctx.bytes.empty());
    }
    {
        Model m = test::makeQuadGrid(300, 300);
        WriteContext ctx;
        const auto error = writeMx(m, ctx);
        ASSERT_TRUE(error);
        EXPECT_NE(error->reason.find("256"), std::string::npos) << error->reason;
        EXPECT_EQ(error->where, FormatError::Where::Nowhere);
    }
    {
        Model m;  // no polygons: no name slots
        const auto b = written(m);
        EXPECT_EQ(b.size(), 92u);
        Model back;
        ReadContext ctx;
        EXPECT_FALSE(readMx(b, back, ctx));
    }
}

TEST(MxWrite, RoundTripGivesBackPositionsAndColours) {
    Model m = test::makeQuadGrid(50, 3);
    m.polygons[7].cornerCount = 3;
    const auto b = written(m);
    Model back;
    ReadContext ctx;
    const auto error = readMx(b, back, ctx);
    ASSERT_FALSE(error) << error->reason;
    ASSERT_EQ(back.polygonCount(), m.polygonCount());
    ASSERT_EQ(back.groupCount(), 3);
    for (int p = 0; p < m.polygonCount(); ++p) {
        const ModelPolygon& a = m.polygons[p];
        const ModelPolygon& r = back.polygons[p];
        EXPECT_EQ(r.group, a.group);
        for (int k = 0; k < a.cornerCount; ++k)
            EXPECT_EQ(back.positions[r.corners[k].position], m.positions[a.corners[k].position]) << p << "/" << k;
        const int colourCorner = a.cornerCount == 4 ? 3 : 0;
        EXPECT_EQ(back.colors[r.corners[0].color], m.colors[a.corners[colourCorner].color]);
        // Untextured groups go out with coordinates 0.
        EXPECT_EQ(back.uvs[r.corners[1].uv], (ModelUV{0, 0}));
    }
    EXPECT_EQ(back.positions[back.polygons[7].corners[3].position], m.positions[m.polygons[7].corners[0].position]);
}

}  // namespace
}  // namespace rv

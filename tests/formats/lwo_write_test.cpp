#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "formats/lwo/lwo.h"
#include "tests/support/make_model.h"

namespace rv {
namespace {

std::vector<std::byte> written(Model& m) {
    WriteContext ctx;
    const auto error = writeLwo(m, ctx);
    EXPECT_FALSE(error) << error->reason;
    return ctx.bytes;
}

std::uint32_t be32(const std::vector<std::byte>& b, std::size_t at) {
    return (std::uint32_t(b[at]) << 24) | (std::uint32_t(b[at + 1]) << 16) | (std::uint32_t(b[at + 2]) << 8) |
           std::uint32_t(b[at + 3]);
}
unsigned be16(const std::vector<std::byte>& b, std::size_t at) { return (unsigned(b[at]) << 8) | unsigned(b[at + 1]); }
std::string text(const std::vector<std::byte>& b, std::size_t at, std::size_t n) {
    return std::string(reinterpret_cast<const char*>(&b[at]), n);
}

struct Chunk {
    std::string tag;
    std::size_t data = 0, size = 0;
};
std::vector<Chunk> chunks(const std::vector<std::byte>& b) {
    std::vector<Chunk> out;
    for (std::size_t pos = 12; pos + 8 <= b.size();) {
        out.push_back({text(b, pos, 4), pos + 8, be32(b, pos + 4)});
        pos += 8 + out.back().size;
    }
    return out;
}

Model triangleAndQuad() {
    Model m;
    m.positions = {{10, 20, 30}, {0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {10, 10, 0}};
    m.colors = {{254.9f, 0, 0, 255}, {254.2f, 0, 0, 255}};
    ModelPolygon tri;
    tri.cornerCount = 3;
    tri.corners[0] = {0, 0, 0, 0};
    tri.corners[1] = {1, 0, 1, 0};
    tri.corners[2] = {2, 0, 1, 0};
    ModelPolygon quad;
    quad.cornerCount = 4;
    for (int k = 0; k < 4; ++k)
        quad.corners[k] = {k + 1, 0, 1, 0};
    m.polygons = {tri, quad};
    return m;
}

TEST(LwoWrite, LaysOutTheFormExactly) {
    Model m = triangleAndQuad();
    const auto b = written(m);
    ASSERT_GE(b.size(), 12u);
    EXPECT_EQ(text(b, 0, 4), "FORM");
    EXPECT_EQ(be32(b, 4), b.size() - 8);
    EXPECT_EQ(text(b, 8, 4), "LWOB");
    const auto c = chunks(b);
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0].tag, "SRFS");
    EXPECT_EQ(c[0].size, 4u);  // 254.9 and 254.2 truncate to one colour: one surface "KZ0"
    EXPECT_EQ(text(b, c[0].data, 4), std::string("KZ0\0", 4));
    EXPECT_EQ(c[1].tag, "PNTS");
    ASSERT_EQ(c[1].size, 5u * 12);
    EXPECT_EQ(floatBits(bitsFloat(be32(b, c[1].data))), floatBits(10 * 0.1f));
    EXPECT_EQ(bitsFloat(be32(b, c[1].data + 4)), 20 * 0.1f);
    EXPECT_EQ(bitsFloat(be32(b, c[1].data + 8)), 30 * 0.1f);
    EXPECT_EQ(c[2].tag, "POLS");
    ASSERT_EQ(c[2].size, 10u + 12u);  // a triangle takes 10 bytes, a quad 12
    const unsigned expectedWords[] = {3, 0, 1, 2, 1, 4, 1, 2, 3, 4, 1};
    for (std::size_t w = 0; w < 11; ++w)
        EXPECT_EQ(be16(b, c[2].data + 2 * w), expectedWords[w]) << "word " << w;
    EXPECT_EQ(c[3].tag, "SURF");
    const std::size_t s = c[3].data;
    EXPECT_EQ(text(b, s, 4), std::string("KZ0\0", 4));
    const unsigned char surfBody[] = {'C', 'O', 'L', 'R', 0,   4,   254, 0,   0,   0,    'F',  'L',  'A',  'G', 0,
                                      2,   1,   4,   'S', 'M', 'A', 'N', 0,   4,   0x3F, 0x46, 0xD3, 0xF2, 'D', 'I',
                                      'F', 'F', 0,   2,   1,   0,   'T', 'R', 'A', 'N',  0,    2,    0,    0,   'S',
                                      'P', 'E', 'C', 0,   2,   0,   0,   'G', 'L', 'O',  'S',  0,    2,    0,   0};
    ASSERT_EQ(c[3].size, 4 + sizeof surfBody);
    for (std::size_t i = 0; i < sizeof surfBody; ++i)
        EXPECT_EQ(unsigned(b[s + 4 + i]), surfBody[i]) << "SURF byte " << i;
}

TEST(LwoWrite, SurfacesFollowFirstCornerColoursAndPadTheirNames) {
    Model m = test::makeQuadGrid(12);
    for (std::size_t i = 0; i < m.colors.size(); ++i)
        m.colors[i] = {float(i / 4), 0, 0, 255};  // every quad its own colour
    m.colors[4 * 11] = {-20, 400, 7.9f, 255};  // clamped, not wrapped
    const auto b = written(m);
    const auto c = chunks(b);
    ASSERT_EQ(c[0].tag, "SRFS");
    // KZ0..KZ9 take 4 bytes each, KZ10 and KZ11 take 5 plus a pad byte.
    EXPECT_EQ(c[0].size, 10u * 4 + 2 * 6);
    EXPECT_EQ(text(b, c[0].data + 40, 6), std::string("KZ10\0\0", 6));
    EXPECT_EQ(c.size(), 3u + 12u);
    const Chunk& last = c.back();
    EXPECT_EQ(text(b, last.data, 6), std::string("KZ11\0\0", 6));
    EXPECT_EQ(text(b, last.data + 6, 4), "COLR");
    EXPECT_EQ(unsigned(b[last.data + 12]), 0u);
    EXPECT_EQ(unsigned(b[last.data + 13]), 255u);
    EXPECT_EQ(unsigned(b[last.data + 14]), 7u);
}

TEST(LwoWrite, EmptyModelGivesAValidFile) {
    Model m;
    const auto b = written(m);
    ASSERT_EQ(b.size(), 12u + 3 * 8);
    const auto c = chunks(b);
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[0].tag + c[1].tag + c[2].tag, "SRFSPNTSPOLS");
    Model back;
    ReadContext rctx;
    const auto error = readLwo(b, back, rctx);
    ASSERT_FALSE(error) << error->reason;
    EXPECT_EQ(back.polygonCount(), 0);
}

TEST(LwoWrite, RefusesWhatTheFormatCannotHold) {
    {
        Model m = triangleAndQuad();
        m.positions.resize(70000);
        m.polygons[1].corners[2].position = 65536;
        WriteContext ctx;
        const auto error = writeLwo(m, ctx);
        ASSERT_TRUE(error);
        EXPECT_NE(error->reason.find("65535"), std::string::npos) << error->reason;
        EXPECT_EQ(error->where, FormatError::Where::Nowhere);
        EXPECT_TRUE(ctx.bytes.empty());
    }
    {
        Model m = triangleAndQuad();
        m.polygons[0].corners[1].position = 5;
        WriteContext ctx;
        const auto error = writeLwo(m, ctx);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->where, FormatError::Where::Nowhere);
        EXPECT_TRUE(ctx.bytes.empty());
    }
    {
        // 40,000 distinct colours would need surface numbers beyond a signed 16-bit word.
        Model m = test::makeQuadGrid(40000);
        for (std::size_t i = 0; i < m.colors.size(); ++i)
            m.colors[i] = {float(i / 4 % 256), float(i / 4 / 256), 0, 255};
        for (ModelPolygon& p : m.polygons)
            for (int k = 0; k < 4; ++k)
                p.corners[k].position = k;
        WriteContext ctx;
        const auto error = writeLwo(m, ctx);
        ASSERT_TRUE(error);
        EXPECT_NE(error->reason.find("32767"), std::string::npos) << error->reason;
        EXPECT_EQ(error->where, FormatError::Where::Nowhere);
    }
}

TEST(LwoWrite, RoundTripKeepsGeometryAndColours) {
    Model m = test::makeSmallModel();
    m.colors.clear();  // no colour table: polygons take their group colours
    const auto b = written(m);
    Model back;
    ReadContext rctx;
    const auto error = readLwo(b, back, rctx);
    ASSERT_FALSE(error) << error->reason;
    ASSERT_EQ(back.positionCount(), m.positionCount());
    for (int i = 0; i < m.positionCount(); ++i) {
        EXPECT_NEAR(back.positions[i].x, m.positions[i].x, 1e-5);
        EXPECT_NEAR(back.positions[i].y, m.positions[i].y, 1e-5);
        EXPECT_NEAR(back.positions[i].z, m.positions[i].z, 1e-5);
    }
    ASSERT_EQ(back.polygonCount(), 2);
    ASSERT_EQ(back.groupCount(), 2);
    EXPECT_EQ(back.groups[0].color, (ModelColor{200, 200, 200, 255}));
    EXPECT_EQ(back.groups[1].color, (ModelColor{10, 20, 30, 255}));
    for (int p = 0; p < 2; ++p) {
        EXPECT_EQ(back.polygons[p].cornerCount, m.polygons[p].cornerCount);
        EXPECT_EQ(back.polygons[p].group, p);
        for (int k = 0; k < m.polygons[p].cornerCount; ++k)
            EXPECT_EQ(back.polygons[p].corners[k].position, m.polygons[p].corners[k].position);
    }
    // Writing what was read gives the same bytes.
    EXPECT_EQ(written(back), b);
}

}  // namespace
}  // namespace rv

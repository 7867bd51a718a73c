#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/convert.h"
#include "app/load.h"
#include "formats/mx/mx.h"
#include "model/textures.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

struct MxFace {
    std::array<ModelVertex, 4> vertices{};
    std::array<ModelVertex, 4> normals{};
    std::array<ModelUV, 4> uvs{};
    std::uint32_t colour = 0;
    std::int16_t texture = -1;
    std::int16_t group = 0;
};

// Builds MX files by hand, little-endian throughout.
struct Bytes {
    std::vector<std::byte> data;
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            data.push_back(std::byte((v >> (8 * i)) & 0xff));
    }
    void i16(std::int16_t v) {
        data.push_back(std::byte(std::uint16_t(v) & 0xff));
        data.push_back(std::byte(std::uint16_t(v) >> 8));
    }
    void f32(float f) { u32(floatBits(f)); }
};

std::vector<std::byte> mxFile(const std::vector<MxFace>& faces, const std::vector<std::string>& names,
                              std::uint32_t records = 1) {
    Bytes b;
    const std::uint32_t sizeA = 60 * records, sizeB = 168 * std::uint32_t(faces.size()),
                        sizeC = 16 * std::uint32_t(names.size());
    b.u32(0x0046584d);  // "MXF\0"
    b.u32(256);
    b.u32(sizeA);
    b.u32(32);
    b.u32(sizeB);
    b.u32(32 + sizeA);
    b.u32(sizeC);
    b.u32(32 + sizeA + sizeB);
    b.data.resize(b.data.size() + sizeA);
    for (const MxFace& f : faces) {
        for (const ModelVertex& v : f.vertices) {
            b.f32(v.x), b.f32(v.y), b.f32(v.z), b.f32(1);
        }
        for (const ModelVertex& n : f.normals) {
            b.f32(n.x), b.f32(n.y), b.f32(n.z), b.f32(0);
        }
        for (const ModelUV& uv : f.uvs) {
            b.f32(uv.u), b.f32(uv.v);
        }
        b.u32(f.colour);
        b.i16(f.texture);
        b.i16(f.group);
    }
    for (const std::string& n : names) {
        std::array<char, 16> slot{};
        std::memcpy(slot.data(), n.data(), std::min<std::size_t>(16, n.size()));
        for (char c : slot)
            b.data.push_back(std::byte(c));
    }
    return b.data;
}

MxFace distinctFace(float base) {
    MxFace f;
    for (int s = 0; s < 4; ++s) {
        f.vertices[s] = {base + float(s), float(s) + 10, float(s) + 20};
        f.uvs[s] = {float(s) * 8, float(s) * 4};
    }
    f.colour = 0x00102030;
    return f;
}

TEST(MxRead, ReversesCornersAndFlipsYAndZ) {
    const auto file = mxFile({distinctFace(0)}, {""});
    Model m;
    ReadContext ctx;
    const auto error = readMx(file, m, ctx);
    ASSERT_FALSE(error) << error->reason;
    ASSERT_EQ(m.polygonCount(), 1);
    const ModelPolygon& p = m.polygons[0];
    EXPECT_EQ(p.cornerCount, 4);
    for (int k = 0; k < 4; ++k) {
        const int slot = 3 - k;
        EXPECT_EQ(m.positions[p.corners[k].position],
                  (ModelVertex{float(slot), -(float(slot) + 10), -(float(slot) + 20)}))
            << "corner " << k;
        // Texture coordinates are not reversed; without a texture they stay as written.
        EXPECT_EQ(m.uvs[p.corners[k].uv], (ModelUV{float(k) * 8, float(k) * 4})) << "corner " << k;
        EXPECT_EQ(m.colors[p.corners[k].color], (ModelColor{0x10, 0x20, 0x30, 255}));
    }
    EXPECT_EQ(m.groupCount(), 1);
    EXPECT_EQ(m.groups[0].textureIndex, 0);
    EXPECT_EQ(m.textureCount(), 2);
    EXPECT_EQ(m.skin.size(), m.positions.size());
}

TEST(MxRead, TextureSlotsAndDivisors) {
    // Three slots, the middle one empty: two textures, taken from the first two slots.
    MxFace a = distinctFace(0);
    a.texture = 0;
    a.group = 0;
    MxFace b = distinctFace(10);
    b.texture = 1;
    b.group = 1;
    MxFace c = distinctFace(20);
    c.texture = 2;  // the third slot's name is not loaded: no image, coordinates kept
    c.group = 2;
    MxFace d = distinctFace(30);
    d.texture = -1;
    d.group = 2;  // the last face of a group decides its texture
    const auto file = mxFile({a, b, c, d}, {"wall", "", "roof"});
    Model m;
    ReadContext ctx;
    std::vector<std::string> asked;
    const auto error = readMx(file, m, ctx);
    ASSERT_FALSE(error) << error->reason;
    loadModelTextures(m, [&](Model& model, int entry, const std::string& name) {
        asked.push_back(name);
        if (name != "wall.bmp")
            return false;
        model.textures[std::size_t(entry)].width = 64;
        model.textures[std::size_t(entry)].height = 32;
        return true;
    });
    scaleMxUvsToTextures(m, file);
    EXPECT_EQ(asked, (std::vector<std::string>{"wall.bmp", ".bmp"}));
    ASSERT_EQ(m.textureCount(), 4);
    EXPECT_EQ(m.textures[1].kind, 1);
    EXPECT_EQ(m.textures[1].fileName, "wall.bmp");
    EXPECT_EQ(m.textures[2].kind, 1);
    EXPECT_EQ(m.textures[2].fileName, ".bmp");
    EXPECT_EQ(m.textures[3].kind, 0);
    ASSERT_EQ(m.groupCount(), 3);
    EXPECT_EQ(m.groups[0].textureIndex, 1);
    EXPECT_EQ(m.groups[1].textureIndex, 2);
    EXPECT_EQ(m.groups[2].textureIndex, 0);
    // MX has no texturing switch: a group naming an image is textured, or it would draw plain.
    EXPECT_EQ(m.groups[0].textured, 1);
    EXPECT_EQ(m.groups[1].textured, 1);
    EXPECT_EQ(m.groups[2].textured, 0);
    EXPECT_EQ(m.uvs[m.polygons[0].corners[3].uv], (ModelUV{24.0f / 64, 12.0f / 32}));
    EXPECT_EQ(m.uvs[m.polygons[1].corners[3].uv], (ModelUV{24, 12}));  // image did not load
    EXPECT_EQ(m.uvs[m.polygons[2].corners[3].uv], (ModelUV{24, 12}));
}

// A w x h 24-bit BMP; rows of one or two pixels both pad to four bytes.
std::vector<std::byte> bmp(unsigned char width, unsigned char height) {
    const unsigned char header[] = {
        'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0,    0,    0, 40, 0,    0,    0, width, 0, 0, 0, height, 0, 0, 0, 1,
        0,   24,  0, 0, 0, 0, 0, 0, 0, 0, 0,  0x13, 0x0B, 0, 0,  0x13, 0x0B, 0, 0,     0, 0, 0, 0,      0, 0, 0, 0,
    };
    std::vector<std::byte> out(reinterpret_cast<const std::byte*>(header),
                               reinterpret_cast<const std::byte*>(header) + sizeof header);
    out.resize(out.size() + 4 * height, std::byte{0x7f});
    out[2] = std::byte(out.size());
    return out;
}

TEST(MxRead, FacesSharingPixelCoordinatesDivideByTheirOwnImages) {
    // Equal pixel coordinates on faces of differently sized images: one uv entry while read,
    // two once each face is divided by its own image.
    MxFace a = distinctFace(0);
    a.texture = 0;
    MxFace b = distinctFace(10);
    b.texture = 1;
    b.group = 1;
    MxFace c = distinctFace(20);  // no image: kept in pixels
    c.group = 1;
    test::TempDir dir;
    test::writeBytes(dir.file("m.mx"), mxFile({a, b, c}, {"wide", "tall"}));
    test::writeBytes(dir.file("wide.bmp"), bmp(2, 1));
    test::writeBytes(dir.file("tall.bmp"), bmp(1, 2));
    const LoadResult r = loadModelFile(dir.file("m.mx"));
    ASSERT_NE(r.model, nullptr) << r.error->message();
    EXPECT_TRUE(r.warnings.empty());
    const Model& m = *r.model;
    ASSERT_EQ(m.polygonCount(), 3);
    EXPECT_EQ(m.textures[1].width, 2);
    EXPECT_EQ(m.textures[2].height, 2);
    for (int k = 0; k < 4; ++k) {
        const ModelUV pixels{float(k) * 8, float(k) * 4};
        EXPECT_EQ(m.uvs[m.polygons[0].corners[k].uv], (ModelUV{pixels.u / 2, pixels.v})) << "corner " << k;
        EXPECT_EQ(m.uvs[m.polygons[1].corners[k].uv], (ModelUV{pixels.u, pixels.v / 2})) << "corner " << k;
        EXPECT_EQ(m.uvs[m.polygons[2].corners[k].uv], pixels) << "corner " << k;
        EXPECT_EQ(m.polygons[0].corners[k].uv, k);  // welded again, in first-use order
    }
    // (0, 0) is shared by all three faces; every other corner has a value of its own.
    EXPECT_EQ(m.uvs.size(), 10u);
}

TEST(MxRead, WeldsSharedCorners) {
    // A triangle as the writer stores it (slot 0 repeats slot 3) becomes a quad with two equal corners.
    MxFace f = distinctFace(0);
    f.vertices[0] = f.vertices[3];
    f.uvs[3] = f.uvs[0];
    const auto file = mxFile({f, f}, {""});
    Model m;
    ReadContext ctx;
    ASSERT_FALSE(readMx(file, m, ctx));
    ASSERT_EQ(m.polygonCount(), 2);
    EXPECT_EQ(m.polygons[0].corners[0].position, m.polygons[0].corners[3].position);
    EXPECT_EQ(m.positionCount(), 3);
    EXPECT_EQ(m.colorCount(), 1);
    EXPECT_EQ(m.skin.size(), 3u);
}

TEST(MxRead, OutOfTableTextureNumbersLeaveFacesUntextured) {
    MxFace f = distinctFace(0);
    f.texture = 7;
    const auto file = mxFile({f}, {"a"});
    Model m;
    ReadContext ctx;
    ASSERT_FALSE(readMx(file, m, ctx));
    EXPECT_EQ(m.groups[0].textureIndex, 0);
    EXPECT_EQ(ctx.warnings.size(), 1u);
}

TEST(MxRead, RefusesBrokenFiles) {
    MxFace outside = distinctFace(0);
    outside.group = 2;
    MxFace negative = distinctFace(0);
    negative.group = -1;
    struct Case {
        const char* what;
        std::vector<std::byte> file;
        const char* reasonPart;
    };
    std::vector<Case> cases{
        {"group past the slots", mxFile({outside}, {"", ""}), "group 2"},
        {"negative group", mxFile({negative}, {"", ""}), "group -1"},
        {"faces and no slots", mxFile({distinctFace(0)}, {}), "group 0"},
        {"31 records", mxFile({}, {}, 31), "over the limit of 30"},
        {"257 slots", mxFile({}, std::vector<std::string>(257)), "over the limit of 256"},
        {"2001 faces", mxFile(std::vector<MxFace>(2001), {""}), "over the limit of 2000"},
    };
    for (const Case& c : cases) {
        Model m;
        ReadContext ctx;
        const auto error = readMx(c.file, m, ctx);
        ASSERT_TRUE(error) << c.what;
        EXPECT_NE(error->reason.find(c.reasonPart), std::string::npos) << c.what << ": " << error->reason;
    }
}

TEST(MxRead, RefusesEveryTruncation) {
    const auto whole = mxFile({distinctFace(0), distinctFace(5)}, {"a", "b"});
    Model full;
    ReadContext ctx;
    ASSERT_FALSE(readMx(whole, full, ctx));
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const std::vector<std::byte> prefix(whole.begin(), whole.begin() + std::ptrdiff_t(n));
        Model m;
        EXPECT_TRUE(readMx(prefix, m, ctx)) << "a " << n << "-byte prefix was accepted";
    }
}

}  // namespace
}  // namespace rv

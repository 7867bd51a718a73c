#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "formats/lwo/lwo.h"

namespace rv {
namespace {

// Builds LWOB files by hand, big-endian throughout.
struct Bytes {
    std::vector<std::byte> data;
    Bytes& u8(unsigned v) {
        data.push_back(std::byte(v & 0xff));
        return *this;
    }
    Bytes& u16(unsigned v) { return u8(v >> 8).u8(v); }
    Bytes& u32(std::uint32_t v) { return u16(v >> 16).u16(v & 0xffff); }
    Bytes& f32(float f) { return u32(floatBits(f)); }
    Bytes& text(const std::string& s) {
        for (char c : s)
            u8(unsigned(static_cast<unsigned char>(c)));
        return *this;
    }
    // A zero-terminated name padded to an even length.
    Bytes& name(const std::string& s) {
        text(s).u8(0);
        if ((s.size() + 1) % 2)
            u8(0);
        return *this;
    }
    Bytes& append(const Bytes& other) {
        data.insert(data.end(), other.data.begin(), other.data.end());
        return *this;
    }
    Bytes& chunk(const std::string& tag, const Bytes& body) {
        text(tag).u32(std::uint32_t(body.data.size())).append(body);
        if (body.data.size() % 2)
            u8(0);
        return *this;
    }
};

std::vector<std::byte> form(const Bytes& chunks, const std::string& type = "LWOB") {
    Bytes out;
    out.text("FORM").u32(std::uint32_t(chunks.data.size() + 4)).text(type).append(chunks);
    return out.data;
}

Bytes names(const std::vector<std::string>& list) {
    Bytes b;
    for (const auto& n : list)
        b.name(n);
    return b;
}

Bytes points(int count) {
    Bytes b;
    for (int i = 0; i < count; ++i)
        b.f32(float(i)).f32(float(i) * 2).f32(-float(i));
    return b;
}

Bytes surf(const std::string& name, int r, int g, int b) {
    Bytes s;
    s.name(name).text("FLAG").u16(2).u16(260).text("COLR").u16(4).u8(r).u8(g).u8(b).u8(0);
    return s;
}

struct Loaded {
    std::optional<FormatError> error;
    Model model;
};

Loaded load(const std::vector<std::byte>& file) {
    Loaded out;
    ReadContext ctx;
    out.error = readLwo(file, out.model, ctx);
    return out;
}

TEST(LwoRead, TriangleWithoutColourGetsTheDarkDefaultAndTenfoldPositions) {
    Bytes chunks;
    chunks.chunk("SRFS", names({"Default"}))
        .chunk("PNTS", points(3))
        .chunk("POLS", Bytes().u16(3).u16(0).u16(1).u16(2).u16(1));  // 5 words
    const Loaded r = load(form(chunks));
    ASSERT_FALSE(r.error) << r.error->reason;
    const Model& m = r.model;
    ASSERT_EQ(m.groupCount(), 1);
    EXPECT_EQ(floatBits(m.groups[0].color.red), 0x3F008081u);
    EXPECT_EQ(floatBits(m.groups[0].color.blue), 0x3F008081u);
    EXPECT_EQ(m.groups[0].color.alpha, 255.0f);
    ASSERT_EQ(m.polygonCount(), 1);
    EXPECT_EQ(m.polygons[0].cornerCount, 3);
    EXPECT_EQ(m.colorCount(), 1);
    EXPECT_EQ(m.positionCount(), 3);
    EXPECT_EQ(m.skin.size(), 3u);
    EXPECT_EQ(m.positions[2], (ModelVertex{20, 40, -20}));
    EXPECT_EQ(m.positions[m.polygons[0].corners[1].position], (ModelVertex{10, 20, -10}));
    EXPECT_EQ(m.tint, (ModelColor{255, 255, 255, 255}));
}

TEST(LwoRead, SurfNamesMatchOrFallToTheNextSurface) {
    // Names with and without a pad byte: "AB" + zero is odd (padded), "ABC" + zero is even.
    Bytes chunks;
    chunks.chunk("SRFS", names({"AB", "ABC", "x", "y"}))
        .chunk("PNTS", points(3))
        .chunk("POLS", Bytes()
                           .u16(3)
                           .u16(0)
                           .u16(1)
                           .u16(2)
                           .u16(1)
                           .u16(3)
                           .u16(0)
                           .u16(1)
                           .u16(2)
                           .u16(2)
                           .u16(3)
                           .u16(0)
                           .u16(1)
                           .u16(2)
                           .u16(3)
                           .u16(3)
                           .u16(0)
                           .u16(1)
                           .u16(2)
                           .u16(4))
        .chunk("SURF", surf("ABC", 1, 2, 3))  // surface 2 by name
        .chunk("SURF", surf("unknown", 4, 5, 6))  // the one after: surface 3
        .chunk("SURF", surf("AB", 7, 8, 9))  // surface 1 by name
        .chunk("SURF", surf("y", 10, 11, 12))  // surface 4 by name
        .chunk("SURF", surf("past", 13, 14, 15));  // past the table: dropped
    const Loaded r = load(form(chunks));
    ASSERT_FALSE(r.error) << r.error->reason;
    const Model& m = r.model;
    ASSERT_EQ(m.groupCount(), 4);
    EXPECT_EQ(m.groups[0].color, (ModelColor{7, 8, 9, 255}));
    EXPECT_EQ(m.groups[1].color, (ModelColor{1, 2, 3, 255}));
    EXPECT_EQ(m.groups[2].color, (ModelColor{4, 5, 6, 255}));
    EXPECT_EQ(m.groups[3].color, (ModelColor{10, 11, 12, 255}));
    for (int p = 0; p < 4; ++p) {
        EXPECT_EQ(m.polygons[p].group, p);
        EXPECT_EQ(m.colors[m.polygons[p].corners[0].color], m.groups[p].color);
    }
}

TEST(LwoRead, FirstUnknownSurfColoursSurfaceOne) {
    Bytes chunks;
    chunks.chunk("SRFS", names({"a", "b"}))
        .chunk("PNTS", points(3))
        .chunk("POLS", Bytes().u16(3).u16(0).u16(1).u16(2).u16(1))
        .chunk("SURF", surf("zzz", 50, 60, 70));
    const Loaded r = load(form(chunks));
    ASSERT_FALSE(r.error) << r.error->reason;
    EXPECT_EQ(r.model.groups[0].color, (ModelColor{50, 60, 70, 255}));
    EXPECT_EQ(floatBits(r.model.groups[1].color.green), 0x3F008081u);
}

TEST(LwoRead, SurfacesOfOneColourLandInTheLastGroup) {
    Bytes chunks;
    chunks.chunk("SRFS", names({"a", "b", "c"}))
        .chunk("PNTS", points(4))
        .chunk("POLS", Bytes()
                           .u16(4)
                           .u16(0)
                           .u16(1)
                           .u16(2)
                           .u16(3)
                           .u16(1)  // quad: 12 bytes
                           .u16(3)
                           .u16(0)
                           .u16(1)
                           .u16(2)
                           .u16(2)
                           .u16(3)
                           .u16(1)
                           .u16(2)
                           .u16(3)
                           .u16(3))
        .chunk("SURF", surf("a", 9, 9, 9))
        .chunk("SURF", surf("b", 9, 9, 9))
        .chunk("SURF", surf("c", 1, 1, 1));
    const Loaded r = load(form(chunks));
    ASSERT_FALSE(r.error) << r.error->reason;
    const Model& m = r.model;
    ASSERT_EQ(m.polygonCount(), 3);
    EXPECT_EQ(m.polygons[0].cornerCount, 4);
    EXPECT_EQ(m.polygons[0].group, 1);
    EXPECT_EQ(m.polygons[1].group, 1);
    EXPECT_EQ(m.polygons[2].group, 2);
    EXPECT_EQ(m.colorCount(), 3);
}

TEST(LwoRead, OddChunksArePaddedAndLaterPointsReplaceEarlierOnes) {
    Bytes odd;
    odd.text("abc");  // a 3-byte chunk of a kind the reader skips, then its pad byte
    Bytes chunks;
    chunks.chunk("PNTS", points(1))
        .chunk("ZZZZ", odd)
        .chunk("SRFS", names({"s"}))
        .chunk("PNTS", points(5))
        .chunk("POLS", Bytes().u16(3).u16(4).u16(3).u16(2).u16(1));
    const Loaded r = load(form(chunks));
    ASSERT_FALSE(r.error) << r.error->reason;
    EXPECT_EQ(r.model.positionCount(), 5);
    EXPECT_EQ(r.model.positions[r.model.polygons[0].corners[0].position], (ModelVertex{40, 80, -40}));
}

TEST(LwoRead, LargePolygonsAreFannedAndDetailPolygonsRead) {
    Bytes pols;
    pols.u16(6);
    for (int i = 0; i < 6; ++i)
        pols.u16(i);
    pols.u16(0xffff);  // surface -1: detail polygons follow
    pols.u16(1);  // one of them
    pols.u16(3).u16(6).u16(7).u16(8).u16(2);
    pols.u16(1).u16(0).u16(1);  // a one-point polygon is kept as it is
    Bytes chunks;
    chunks.chunk("SRFS", names({"a", "b"}))
        .chunk("PNTS", points(9))
        .chunk("POLS", pols)
        .chunk("SURF", surf("b", 3, 3, 3));
    const Loaded r = load(form(chunks));
    ASSERT_FALSE(r.error) << r.error->reason;
    const Model& m = r.model;
    ASSERT_EQ(m.polygonCount(), 4 + 1 + 1);
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(m.polygons[t].cornerCount, 3);
        EXPECT_EQ(m.positions[m.polygons[t].corners[0].position], m.positions[0]);
        EXPECT_EQ(m.positions[m.polygons[t].corners[1].position], m.positions[t + 1]);
        EXPECT_EQ(m.positions[m.polygons[t].corners[2].position], m.positions[t + 2]);
        EXPECT_EQ(m.polygons[t].group, 0);
    }
    EXPECT_EQ(m.polygons[4].group, 1);
    EXPECT_EQ(m.positions[m.polygons[4].corners[0].position], m.positions[6]);
    EXPECT_EQ(m.polygons[5].cornerCount, 1);
    EXPECT_EQ(m.colorCount(), 6);
}

TEST(LwoRead, RefusesBrokenFiles) {
    const auto good = [] {
        Bytes c;
        c.chunk("SRFS", names({"s"})).chunk("PNTS", points(3));
        return c;
    };
    struct Case {
        const char* what;
        std::vector<std::byte> file;
        const char* reasonPart;
    };
    std::vector<Case> cases;
    cases.push_back({"empty form", form(Bytes()), "SRFS"});
    cases.push_back({"LWO2", form(good(), "LWO2"), "LWO2"});
    cases.push_back({"no POLS", form(good()), "POLS"});
    {
        Bytes c;
        c.chunk("PNTS", points(3)).chunk("POLS", Bytes().u16(3).u16(0).u16(1).u16(2).u16(1));
        cases.push_back({"no SRFS", form(c), "SRFS"});
    }
    {
        Bytes c = good();
        c.chunk("POLS", Bytes().u16(3).u16(0).u16(1).u16(3).u16(1));
        cases.push_back({"point past the list", form(c), "point 3"});
    }
    {
        Bytes c = good();
        c.chunk("POLS", Bytes().u16(3).u16(0).u16(1).u16(2).u16(2));
        cases.push_back({"surface past the table", form(c), "surface 2"});
    }
    {
        Bytes c = good();
        c.chunk("POLS", Bytes().u16(3).u16(0).u16(1).u16(2).u16(0));
        cases.push_back({"surface 0", form(c), "surface 0"});
    }
    {
        Bytes c = good();
        c.chunk("POLS", Bytes().u16(4).u16(0).u16(1).u16(2));
        cases.push_back({"polygon past the chunk", form(c), "runs past"});
    }
    {
        Bytes c;
        c.chunk("SRFS", names({std::string(128, 'n')}));
        cases.push_back({"long name", form(c), "longer than 127"});
    }
    {
        Bytes c;
        c.chunk("SRFS", names(std::vector<std::string>(32769, "a")));
        cases.push_back({"too many surfaces", form(c), "over the limit of 32768"});
    }
    {
        Bytes c = good();
        Bytes s;
        s.name("s").text("COLR").u16(40).u8(1).u8(2).u8(3).u8(0);
        c.chunk("SURF", s);
        cases.push_back({"sub-chunk past its chunk", form(c), "runs past"});
    }
    {
        auto f = form(good());
        f[7] = std::byte(unsigned(f[7]) + 8);  // form size beyond the file
        cases.push_back({"form past the file", f, "file ends"});
    }
    for (const Case& c : cases) {
        const Loaded r = load(c.file);
        ASSERT_TRUE(r.error) << c.what;
        EXPECT_NE(r.error->reason.find(c.reasonPart), std::string::npos) << c.what << ": " << r.error->reason;
    }
}

TEST(LwoRead, RefusesEveryTruncation) {
    Bytes chunks;
    chunks.chunk("SRFS", names({"a", "bb"}))
        .chunk("PNTS", points(4))
        .chunk("POLS", Bytes().u16(4).u16(0).u16(1).u16(2).u16(3).u16(2))
        .chunk("SURF", surf("a", 1, 2, 3));
    const auto whole = form(chunks);
    ASSERT_FALSE(load(whole).error);
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const std::vector<std::byte> prefix(whole.begin(), whole.begin() + std::ptrdiff_t(n));
        EXPECT_TRUE(load(prefix).error) << "a " << n << "-byte prefix was accepted";
    }
}

TEST(LwoRead, KeepsThePathAsFileName) {
    Bytes chunks;
    chunks.chunk("SRFS", Bytes()).chunk("PNTS", Bytes()).chunk("POLS", Bytes());
    Model m;
    ReadContext ctx;
    ctx.path = "/models/empty.lwo";
    ASSERT_FALSE(readLwo(form(chunks), m, ctx));
    EXPECT_EQ(m.fileName, "/models/empty.lwo");
    EXPECT_EQ(m.polygonCount(), 0);
    EXPECT_EQ(m.groupCount(), 1);
}

}  // namespace
}  // namespace rv

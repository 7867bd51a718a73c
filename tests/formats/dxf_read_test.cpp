#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "formats/dxf/dxf.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

using Corners = std::array<ModelVertex, 4>;

const Corners kSquare{ModelVertex{0, 0, 0}, ModelVertex{1, 0, 0}, ModelVertex{1, 1, 0}, ModelVertex{0, 1, 0}};

std::string number(float v) {
    std::string s = std::to_string(v);
    return s;
}

// The coordinate pairs of one 3DFACE, codes in the given order.
std::string coordinates(const Corners& c, const std::vector<int>& codes) {
    std::string s;
    for (int code : codes) {
        const ModelVertex& v = c[code % 10];
        const float value = code < 20 ? v.x : code < 30 ? v.y : v.z;
        s += std::to_string(code) + "\n" + number(value) + "\n";
    }
    return s;
}

const std::vector<int> kUsualOrder{10, 20, 30, 11, 21, 31, 12, 22, 32, 13, 23, 33};
const std::vector<int> kLightWaveOrder{13, 23, 33, 12, 22, 32, 11, 21, 31, 10, 20, 30};

std::string face(const Corners& c, const std::vector<int>& order = kUsualOrder, const std::string& before = "8\n0\n",
                 const std::string& after = "") {
    return "0\n3DFACE\n" + before + coordinates(c, order) + after;
}

std::string dxf(const std::string& entities) { return "0\nSECTION\n2\nENTITIES\n" + entities + "0\nENDSEC\n0\nEOF\n"; }

std::optional<FormatError> read(const std::string& text, Model& m) {
    ReadContext ctx;
    const std::vector<std::byte> bytes = test::bytesOf(text);
    return readDxf(bytes, m, ctx);
}

Model readOk(const std::string& text) {
    Model m;
    const auto err = read(text, m);
    EXPECT_FALSE(err.has_value()) << err->message();
    return m;
}

void expectRefused(const std::string& text, const std::string& reasonPart) {
    Model m;
    const auto err = read(text, m);
    ASSERT_TRUE(err.has_value()) << "accepted, expected: " << reasonPart;
    EXPECT_NE(err->reason.find(reasonPart), std::string::npos) << err->reason;
}

void expectSameMesh(const Model& a, const Model& b) {
    EXPECT_EQ(a.positions, b.positions);
    ASSERT_EQ(a.polygonCount(), b.polygonCount());
    for (int i = 0; i < a.polygonCount(); ++i) {
        EXPECT_EQ(a.polygons[i].cornerCount, b.polygons[i].cornerCount);
        EXPECT_EQ(a.polygons[i].corners, b.polygons[i].corners);
    }
}

TEST(DxfRead, CornersGoInAsThirdSecondFirstFourth) {
    const Model m = readOk(dxf(face(kSquare)));
    ASSERT_EQ(m.polygonCount(), 1);
    ASSERT_EQ(m.positionCount(), 4);
    EXPECT_EQ(m.positions[0], (ModelVertex{1, 1, 0}));
    EXPECT_EQ(m.positions[1], (ModelVertex{1, 0, 0}));
    EXPECT_EQ(m.positions[2], (ModelVertex{0, 0, 0}));
    EXPECT_EQ(m.positions[3], (ModelVertex{0, 1, 0}));
    const ModelPolygon& p = m.polygons[0];
    EXPECT_EQ(p.cornerCount, 4);
    EXPECT_EQ(p.group, 0);
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(p.corners[c].position, c);
        EXPECT_EQ(p.corners[c].color, 0);
        EXPECT_EQ(p.corners[c].uv, 0);
    }
    ASSERT_EQ(m.colorCount(), 1);
    EXPECT_EQ(m.colors[0], (ModelColor{255, 255, 255, 255}));
    EXPECT_EQ(m.uvCount(), 1);
    EXPECT_EQ(m.skin.size(), 4u);
    ASSERT_EQ(m.groupCount(), 1);
    EXPECT_EQ(m.groups[0].color, (ModelColor{200, 200, 200, 255}));
    EXPECT_EQ(m.groups[0].shadeParam, 3);
    EXPECT_EQ(m.groups[0].materialParams[4], 1u);
    EXPECT_EQ(m.renderModeDirty, 1);
}

TEST(DxfRead, NormalsFollowTheReversedCorners) {
    const Model m = readOk(dxf(face(kSquare)));
    EXPECT_EQ(m.polygons[0].faceNormal, (ModelVertex{0, 0, -1}));
    ASSERT_GT(m.normalCount(), 0);
    for (const ModelCorner& c : m.polygons[0].corners) {
        ASSERT_LT(c.normal, m.normalCount());
        EXPECT_EQ(m.normals[c.normal], (ModelVertex{0, 0, -1}));
    }
}

TEST(DxfRead, ValuesReadAsTheirLeadingNumber) {
    auto withZ1 = [](const std::string& value) {
        std::string text = dxf(face(kSquare));
        text.replace(text.find("31\n0.000000"), 11, "31\n" + value);
        return text;
    };
    EXPECT_EQ(readOk(withZ1("1.5abc")).positions[1].z, 1.5f);
    EXPECT_EQ(readOk(withZ1("+2")).positions[1].z, 2.0f);
    EXPECT_EQ(readOk(withZ1("1e-60")).positions[1].z, 0.0f);
    expectRefused(withZ1("nan"), "of code 31");
    expectRefused(withZ1("-1e60"), "of code 31");
    // An empty value line is passed over, so code 12 becomes the value and goes missing as a code.
    expectRefused(withZ1(""), "no code 12");
}

TEST(DxfRead, FacesKeepFileOrderAndTrianglesStayFourCornered) {
    const Corners triangle{ModelVertex{0, 0, 5}, ModelVertex{2, 0, 5}, ModelVertex{2, 3, 5}, ModelVertex{2, 3, 5}};
    const Model m =
        readOk(dxf(face(kSquare) + "0\nLINE\n8\n0\n10\n9\n20\n9\n30\n9\n11\n8\n21\n8\n31\n8\n" + face(triangle)));
    ASSERT_EQ(m.polygonCount(), 2);
    ASSERT_EQ(m.positionCount(), 8);
    const ModelPolygon& p = m.polygons[1];
    EXPECT_EQ(p.cornerCount, 4);
    EXPECT_EQ(p.corners[0].position, 4);
    EXPECT_EQ(p.corners[3].position, 7);
    EXPECT_EQ(m.positions[4], (ModelVertex{2, 3, 5}));
    EXPECT_EQ(m.positions[7], m.positions[4]);
    EXPECT_EQ(m.positions[6], (ModelVertex{0, 0, 5}));
}

TEST(DxfRead, BlanksAnywhereInALineAreIgnored) {
    const Model plain = readOk(dxf(face(kSquare)));
    std::string padded;
    for (const char* line : {"  0", "3DFACE", "  8", "0",   " 10", "0.0", " 20", "\t0.0",   " 30", "0.0 ",
                             " 11", "1. 0",   " 21", "0.0", " 31", "0.0", " 12", "1.0",     " 22", "1.0",
                             " 32", "0.0",    " 13", "0.0", " 23", "1.0", " 33", "  0.0  ", "  0", "EOF"})
        padded += std::string(line) + "\n";
    expectSameMesh(readOk(padded), plain);
    // Blank lines before a code are passed over.
    expectSameMesh(readOk("\n\n" + face(kSquare) + "\n\n0\nEOF\n"), plain);
}

// A line "10\n" .. "33\n".
bool isCoordinateCodeLine(const std::string& line) {
    return line.size() == 3 && line[0] >= '1' && line[0] <= '3' && line[1] >= '0' && line[1] <= '3';
}

// `text` with `blank` before every code line and before the value of every coordinate code.
std::string withBlankLines(const std::string& text, const std::string& blank) {
    std::string out;
    std::size_t start = 0;
    for (bool code = true; start < text.size(); code = !code) {
        const std::size_t end = text.find('\n', start) + 1;
        const std::string line = text.substr(start, end - start);
        out += code ? blank + line : line;
        if (code && isCoordinateCodeLine(line))
            out += blank;
        start = end;
    }
    return out;
}

TEST(DxfRead, BlankLinesBeforeANumberAreSkipped) {
    const Model plain = readOk(dxf(face(kSquare)));
    for (const std::string blank : {"\n", "\t\n", "  \t \r\n", "\n \n\t\n"})
        expectSameMesh(readOk(withBlankLines(dxf(face(kSquare)), blank)), plain);
    // A value of another code may be empty: the layer name here, before the coordinates.
    expectSameMesh(readOk(dxf(face(kSquare, kUsualOrder, "8\n\n"))), plain);
    // Before any number, not only a coordinate: a flag of 70, a colour of 62, a 32-bit integer,
    // a line weight, an extended-data integer, a thickness. Misread, the blank line would be the
    // value and the number the next code.
    for (const std::string before : {"8\n0\n70\n\n7\n", "62\n\t\n7\n8\n0\n", "90\n\n7\n", "370\n \n7\n", "1071\n\n7\n",
                                     "39\n\n0.5\n", "280\n\n1\n", "1040\n\n2.5\n"}) {
        expectSameMesh(readOk(dxf(face(kSquare, kUsualOrder, before))), plain);
        expectSameMesh(readOk(dxf(face(kSquare, kLightWaveOrder, before, "70\n\n7\n") + face(kSquare))),
                       readOk(dxf(face(kSquare, kLightWaveOrder) + face(kSquare))));
    }
    // String values may still be empty, also those of codes numbered between numeric ones.
    for (const std::string before : {"100\n\n", "300\n\n", "1000\n\n", "999\n\n", "410\n\n"})
        expectSameMesh(readOk(dxf(face(kSquare, kUsualOrder, before))), plain);
    // Blank lines up to the end of the file are no value.
    expectRefused("0\n3DFACE\n10\n0\n20\n0\n30\n0\n11\n1\n21\n0\n31\n0\n12\n1\n22\n1\n32\n0\n13\n0\n23\n1\n33\n \n\t\n",
                  "of code 33");
}

TEST(DxfRead, OtherCodesAroundTheCoordinatesAreSkipped) {
    const Model plain = readOk(dxf(face(kSquare)));
    // The colour value 10 of code 62 and the flag value 10 of code 70 are values, not codes.
    expectSameMesh(readOk(dxf(face(kSquare, kUsualOrder, "8\nWALLS\n62\n10\n", "70\n10\n"))), plain);
    expectSameMesh(
        readOk(dxf(face(kSquare, kUsualOrder, "5\n2F\n100\nAcDbEntity\n8\n0\n62\n     1\n", "70\n     15\n"))), plain);
    // Empty values keep the pairs in step.
    expectSameMesh(readOk("0\nSECTION\n2\nHEADER\n9\n$DIMBLK\n1\n\n9\n$X\n1\n\n0\nENDSEC\n" + dxf(face(kSquare))),
                   plain);
    // Long values (a comment, a layer name) are one value, however long.
    expectSameMesh(readOk("999\nDXF File Generated by LightWave 3D(TM) 0 3DFACE\n" +
                          dxf(face(kSquare, kUsualOrder, "8\nA LAYER NAME OF MANY CHARACTERS 10\n"))),
                   plain);
    // A value that reads 3DFACE is an entity only after code 0.
    expectSameMesh(readOk(dxf("0\nTEXT\n1\n3DFACE\n8\n0\n" + face(kSquare))), plain);
}

TEST(DxfRead, CoordinateCodesInAnyOrderGiveTheSameModel) {
    const Corners a{ModelVertex{0.5f, -1, 2}, ModelVertex{3, 4.25f, -5}, ModelVertex{6, 7, 8}, ModelVertex{-9, 10, 11}};
    const Model usual = readOk(dxf(face(a) + face(kSquare)));
    expectSameMesh(readOk(dxf(face(a, kLightWaveOrder, "8\n0\n70\n0\n") + face(kSquare, kLightWaveOrder))), usual);
    expectSameMesh(readOk(dxf(face(a, {10, 11, 12, 13, 20, 21, 22, 23, 30, 31, 32, 33}) + face(kSquare))), usual);
    EXPECT_EQ(usual.positions[0], (ModelVertex{6, 7, 8}));
    EXPECT_EQ(usual.positions[3], (ModelVertex{-9, 10, 11}));
}

TEST(DxfRead, RefusesAFaceWithoutAllItsCoordinates) {
    for (int missing : kUsualOrder) {
        std::vector<int> order;
        for (int code : kUsualOrder)
            if (code != missing)
                order.push_back(code);
        // The following face holds the missing code: it must not be borrowed from there.
        expectRefused(dxf(face(kSquare, order) + face(kSquare)), "no code " + std::to_string(missing));
    }
    std::vector<int> twice = kUsualOrder;
    twice.push_back(21);
    expectRefused(dxf(face(kSquare, twice)), "code 21 twice");
    expectRefused(dxf(face(kSquare, {10, 20, 30, 11, 21, 31, 12, 22, 32, 13, 23})), "no code 33");
    expectRefused("0\n3DFACE\n8\n0\n", "no code 10");

    std::string text = dxf(face(kSquare));
    text.replace(text.find("22\n1.0"), 6, "22\nabc");
    expectRefused(text, "value \"abc00000\" of code 22");
    text = dxf(face(kSquare));
    text.replace(text.find("22\n1.0"), 6, "22\n1e99");
    expectRefused(text, "of code 22");
}

TEST(DxfRead, RefusesFilesWithoutFaces) {
    expectRefused("", "no 3DFACE");
    expectRefused(dxf("0\nLINE\n10\n0\n20\n0\n30\n0\n11\n1\n21\n1\n31\n1\n"), "no 3DFACE");
    expectRefused(dxf("0\n3dface\n" + coordinates(kSquare, kUsualOrder)), "no 3DFACE");
    expectRefused(dxf("0\n3DFACE   x\n" + coordinates(kSquare, kUsualOrder)), "no 3DFACE");
}

TEST(DxfRead, LineEndsAndBlockFaces) {
    const std::string text = dxf(face(kSquare));
    const Model lf = readOk(text);
    for (const std::string eol : {"\r\n", "\r"}) {
        std::string other;
        for (char c : text)
            other += c == '\n' ? eol : std::string(1, c);
        expectSameMesh(readOk(other), lf);
    }
    // Faces inside a block definition are read where they are defined.
    const Model block = readOk("0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nA\n70\n64\n10\n0\n20\n0\n30\n0\n" + face(kSquare) +
                               "0\nENDBLK\n0\nENDSEC\n" + dxf("0\nINSERT\n2\nA\n10\n0\n20\n0\n30\n0\n"));
    expectSameMesh(block, lf);
}

TEST(DxfRead, FaceCountLimit) {
    std::string faces;
    const std::string one = face(kSquare);
    faces.reserve(one.size() * (kMaxPolygons + 1));
    for (int i = 0; i < kMaxPolygons; ++i)
        faces += one;
    const Model m = readOk(dxf(faces));
    EXPECT_EQ(m.polygonCount(), kMaxPolygons);
    EXPECT_EQ(m.positionCount(), 4 * kMaxPolygons);
    expectRefused(dxf(faces + one), "3DFACE count 65001 is over the limit of 65000");
}

TEST(DxfRead, TruncatedFilesAreRefusedOrReadInPart) {
    const std::string whole = dxf(face(kSquare) + face(kSquare, kLightWaveOrder));
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const std::vector<std::byte> prefix = test::bytesOf(whole.substr(0, n));
        Model m;
        ReadContext ctx;
        if (!readDxf(prefix, m, ctx)) {
            EXPECT_LE(m.polygonCount(), 2) << n;
            EXPECT_EQ(m.positionCount(), 4 * m.polygonCount()) << n;
        }
    }
}

TEST(DxfRead, FixtureFilesRead) {
    const std::string dir = std::string(REVIZEVOZ_TEST_DATA) + "/dxf/";
    Model m;
    ReadContext ctx;
    ASSERT_FALSE(readDxf(test::readBytes(dir + "pyramid.dxf"), m, ctx).has_value());
    EXPECT_EQ(m.polygonCount(), 5);
    EXPECT_EQ(m.positions[4], (ModelVertex{0.5f, 0.5f, 1.0f}));
    Model reversed;
    ASSERT_FALSE(readDxf(test::readBytes(dir + "pyramid_reversed.dxf"), reversed, ctx).has_value());
    expectSameMesh(reversed, m);
}

}  // namespace
}  // namespace rv

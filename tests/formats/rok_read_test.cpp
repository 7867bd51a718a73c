#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/rok/rok.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

struct RokPoint {
    std::string x, y, z;
};
struct RokEdge {
    int start, end;
};
struct RokFaceRecord {
    int corners, palette, number;
    std::vector<int> lines;
};

// Palette entry n (1-based) of the default test palette: c1..c6 = n, 2n, 3n, n, 2n, 3n.
std::vector<std::vector<int>> defaultPalette() {
    std::vector<std::vector<int>> entries;
    for (int n = 1; n <= 13; ++n)
        entries.push_back({n, 2 * n, 3 * n, n, 2 * n, 3 * n, 0});
    return entries;
}

std::string rokText(const std::vector<RokPoint>& points, const std::vector<RokEdge>& edges,
                    const std::vector<RokFaceRecord>& faces,
                    const std::vector<std::vector<int>>& palette = defaultPalette(), const std::string& eol = "\n") {
    std::string s = "ROKKAKU" + eol + "header" + eol + "POINT" + eol;
    for (std::size_t i = 0; i < points.size(); ++i)
        s += std::to_string(i + 1) + eol + "0" + eol + "0" + eol + "0" + eol + "0" + eol + points[i].x + eol +
             points[i].y + eol + points[i].z + eol;
    s += "LINE0" + eol;
    for (const RokEdge& e : edges)
        s += std::to_string(e.start) + eol + std::to_string(e.end) + eol + "0" + eol + "0" + eol;
    s += "FACE0" + eol;
    for (const RokFaceRecord& f : faces) {
        s += std::to_string(f.corners) + eol + std::to_string(f.palette) + eol + std::to_string(f.number) + eol;
        for (int l : f.lines)
            s += std::to_string(l) + eol;
    }
    s += "END00" + eol + "junk" + eol + "PALC0" + eol + "13" + eol + "0" + eol;
    for (const auto& entry : palette)
        for (int c : entry)
            s += std::to_string(c) + eol;
    s += "ENDP0" + eol;
    return s;
}

const std::vector<RokPoint> kTrianglePoints{{"1", "2", "3"}, {"4", "5", "6"}, {"7", "8", "9"}};
const std::vector<RokEdge> kTriangleEdges{{1, 2}, {2, 3}, {3, 1}};

std::string triangleText(int palette = 1) {
    return rokText(kTrianglePoints, kTriangleEdges, {{3, palette, 1, {1, 2, 3}}});
}

std::optional<FormatError> read(const std::string& text, Model& m) {
    ReadContext ctx;
    const std::vector<std::byte> bytes = test::bytesOf(text);
    return readRok(bytes, m, ctx);
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

TEST(RokRead, SingleTriangle) {
    const Model m = readOk(triangleText());
    ASSERT_EQ(m.polygonCount(), 1);
    EXPECT_EQ(m.positionCount(), 4);
    EXPECT_EQ(m.colorCount(), 4);
    EXPECT_EQ(m.uvCount(), 1);
    EXPECT_EQ(m.skin.size(), 4u);
    const ModelPolygon& p = m.polygons[0];
    EXPECT_EQ(p.cornerCount, 3);
    EXPECT_EQ(p.group, 0);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(p.corners[k].position, k);
        EXPECT_EQ(p.corners[k].color, k);
        EXPECT_EQ(p.corners[k].uv, 0);
    }
    // Corner points 1, 2, 3; y negated, all times ten.
    EXPECT_EQ(m.positions[0], (ModelVertex{10, -20, 30}));
    EXPECT_EQ(m.positions[1], (ModelVertex{40, -50, 60}));
    EXPECT_EQ(m.positions[2], (ModelVertex{70, -80, 90}));
    // The unused fourth entry repeats the third corner, so the bounds stay on the model.
    EXPECT_EQ(m.positions[3], m.positions[2]);
    EXPECT_EQ(m.colors[3], m.colors[2]);
    EXPECT_EQ(m.groupCount(), 1);
    EXPECT_EQ(m.groups[0].shadeParam, 3);
    EXPECT_EQ(m.groups[0].materialParams[4], 1u);
    EXPECT_EQ(m.groups[0].materialParams[5], 4u);
    EXPECT_EQ(m.renderModeDirty, 1);
    // Every corner points into the normal table the reader leaves behind.
    ASSERT_GT(m.normalCount(), 0);
    for (int k = 0; k < 3; ++k)
        EXPECT_LT(p.corners[k].normal, m.normalCount());
}

TEST(RokRead, CornersFollowTheLinesWhateverTheirDirection) {
    // Line 1 written as (2, 1): its start touches line 2, so corner 0 is still point 1.
    Model m = readOk(rokText(kTrianglePoints, {{2, 1}, {2, 3}, {3, 1}}, {{3, 1, 1, {1, 2, 3}}}));
    EXPECT_EQ(m.positions[0], (ModelVertex{10, -20, 30}));
    EXPECT_EQ(m.positions[1], (ModelVertex{40, -50, 60}));
    EXPECT_EQ(m.positions[2], (ModelVertex{70, -80, 90}));

    // Line 2 written backwards: corner 2 is the end of line 2 away from corner 1.
    m = readOk(rokText(kTrianglePoints, {{1, 2}, {3, 2}, {3, 1}}, {{3, 1, 1, {1, 2, 3}}}));
    EXPECT_EQ(m.positions[2], (ModelVertex{70, -80, 90}));

    // A quad 1-2-3-4 with every line reversed and listed from the third corner.
    const std::vector<RokPoint> quad{{"0", "0", "0"}, {"1", "0", "0"}, {"1", "1", "0"}, {"0", "1", "0"}};
    m = readOk(rokText(quad, {{3, 2}, {4, 3}, {1, 4}, {2, 1}}, {{4, 0, 1, {1, 2, 3, 4}}}));
    ASSERT_EQ(m.polygons[0].cornerCount, 4);
    EXPECT_EQ(m.positions[0], (ModelVertex{10, 0, 0}));  // point 2
    EXPECT_EQ(m.positions[1], (ModelVertex{10, -10, 0}));  // point 3
    EXPECT_EQ(m.positions[2], (ModelVertex{0, -10, 0}));  // point 4
    EXPECT_EQ(m.positions[3], (ModelVertex{0, 0, 0}));  // point 1
    EXPECT_EQ(m.polygons[0].corners[3].position, 3);
}

TEST(RokRead, FacesTakeTheirPaletteColour) {
    std::vector<std::vector<int>> palette = defaultPalette();
    palette[4] = {255, 0, 0, 255, 0, 0, 99};  // entry 5
    palette[12] = {0, 0, 255, 0, 0, 255, 0};
    const std::vector<RokPoint> points{{"0", "0", "0"}, {"1", "0", "0"}, {"1", "1", "0"}, {"0", "1", "0"}};
    const std::vector<RokEdge> edges{{1, 2}, {2, 3}, {3, 1}, {3, 4}, {4, 1}};
    const Model m =
        readOk(rokText(points, edges, {{3, 5, 1, {1, 2, 3}}, {3, 0, 2, {3, 2, 4}}, {3, 13, 3, {4, 5, 3}}}, palette));
    ASSERT_EQ(m.polygonCount(), 3);
    ASSERT_EQ(m.colorCount(), 12);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(m.colors[k], (ModelColor{255, 0, 0, 255})) << k;
        EXPECT_FLOAT_EQ(m.colors[4 + k].red, 128);
        EXPECT_FLOAT_EQ(m.colors[4 + k].green, 128);
        EXPECT_FLOAT_EQ(m.colors[4 + k].blue, 128);
        EXPECT_EQ(m.colors[4 + k].alpha, 255);
        EXPECT_EQ(m.colors[8 + k], (ModelColor{0, 0, 255, 255})) << k;
    }
    EXPECT_EQ(m.polygons[1].corners[0].color, 4);
    EXPECT_EQ(m.polygons[2].corners[2].position, 10);
    // Second face: lines (3,1), (2,3): corner 0 = 1, corner 1 = 3, corner 2 = 2.
    EXPECT_EQ(m.positions[4], (ModelVertex{0, 0, 0}));
    EXPECT_EQ(m.positions[5], (ModelVertex{10, -10, 0}));
    EXPECT_EQ(m.positions[6], (ModelVertex{10, 0, 0}));
}

TEST(RokRead, RefusesEveryInconsistency) {
    const std::vector<RokFaceRecord> face{{3, 1, 1, {1, 2, 3}}};
    expectRefused(triangleText(14), "palette index 14");
    expectRefused(triangleText(-1), "palette index -1");
    expectRefused(rokText(kTrianglePoints, kTriangleEdges, {{5, 1, 1, {1, 2, 3, 1, 2}}}), "corner count 5");
    expectRefused(rokText(kTrianglePoints, kTriangleEdges, {{2, 1, 1, {1, 2}}}), "corner count 2");
    expectRefused(rokText(kTrianglePoints, kTriangleEdges, {{3, 1, 2, {1, 2, 3}}}), "face number 2");
    expectRefused(rokText(kTrianglePoints, kTriangleEdges, {{3, 1, 0, {1, 2, 3}}}), "face number 0");
    expectRefused(rokText(kTrianglePoints, kTriangleEdges, {{3, 1, 1, {1, 2, 4}}}), "face line 4");
    expectRefused(rokText(kTrianglePoints, kTriangleEdges, {{3, 1, 1, {1, 0, 3}}}), "face line 0");
    expectRefused(rokText(kTrianglePoints, {{1, 2}, {2, 4}, {3, 1}}, face), "end point 4");
    expectRefused(rokText(kTrianglePoints, {{0, 2}, {2, 3}, {3, 1}}, face), "start point 0");
    expectRefused(rokText(kTrianglePoints, {{1, 2}, {2, -3}, {3, 1}}, face), "end point -3");

    std::vector<std::vector<int>> palette = defaultPalette();
    palette.pop_back();
    expectRefused(rokText(kTrianglePoints, kTriangleEdges, face, palette), "12 entries");
    palette = defaultPalette();
    palette.push_back(palette.back());
    expectRefused(rokText(kTrianglePoints, kTriangleEdges, face, palette), "more than 13");

    std::string text = triangleText();
    text.replace(text.find("POINT\n1\n"), 8, "POINT\n2\n");
    expectRefused(text, "point number 2");

    text = triangleText();
    text.replace(text.find("PALC0\n13\n"), 9, "PALC0\n12\n");
    expectRefused(text, "palette size");

    // Empty sections.
    expectRefused(rokText({}, kTriangleEdges, face), "point section is empty");
    expectRefused(rokText(kTrianglePoints, {}, face), "line section is empty");
    expectRefused(rokText(kTrianglePoints, kTriangleEdges, {}), "face section is empty");

    // Markers are whole lines, compared exactly.
    text = triangleText();
    text.replace(text.find("POINT"), 5, "point");
    expectRefused(text, "no \"POINT\"");
    text = triangleText();
    text.replace(text.find("PALC0"), 5, "PALC0 ");
    expectRefused(text, "no \"PALC0\"");
}

TEST(RokRead, RefusesEveryTruncationWithoutRunningOn) {
    const std::string whole = triangleText();
    for (std::size_t n = 0; n + 1 < whole.size(); ++n) {
        Model m;
        EXPECT_TRUE(read(whole.substr(0, n), m).has_value()) << "a " << n << "-byte prefix was accepted";
    }
    // The last line may lack its line end.
    Model m;
    EXPECT_FALSE(read(whole.substr(0, whole.size() - 1), m).has_value());
}

TEST(RokRead, LongLinesAreCutAtNineteenCharacters) {
    // The fourth ignored value of point 1 has 25 characters: its last 6 are read as x, and every
    // following line of the record moves up by one.
    std::string text = rokText(kTrianglePoints, kTriangleEdges, {{3, 1, 1, {1, 2, 3}}});
    const std::string record = "POINT\n1\n0\n0\n0\n0\n1\n2\n3\n";
    ASSERT_NE(text.find(record), std::string::npos);
    text.replace(text.find(record), record.size(), "POINT\n1\n0\n0\n0\n0000000000000000000   7.5\n2\n3\n");
    Model m = readOk(text);
    EXPECT_EQ(m.positions[0], (ModelVertex{75, -20, 30}));

    // A line of exactly 19 characters is whole: no shift.
    text = rokText({{"1.00000000000000000", "2", "3"}, {"4", "5", "6"}, {"7", "8", "9"}}, kTriangleEdges,
                   {{3, 1, 1, {1, 2, 3}}});
    m = readOk(text);
    EXPECT_EQ(m.positions[0], (ModelVertex{10, -20, 30}));

    // Without the missing line the shifted record runs into the next one and is refused.
    text = triangleText();
    text.replace(text.find(record), record.size(), "POINT\n1\n0\n0\n0\n0000000000000000000   7.5\n1\n2\n3\n");
    expectRefused(text, "point number");
}

TEST(RokRead, LineEndsAndNumbers) {
    const Model lf = readOk(triangleText());
    for (const char* eol : {"\r\n", "\n\r", "\r"}) {
        const Model other =
            readOk(rokText(kTrianglePoints, kTriangleEdges, {{3, 1, 1, {1, 2, 3}}}, defaultPalette(), eol));
        EXPECT_EQ(other.positions, lf.positions) << "line end " << int(eol[0]);
        EXPECT_EQ(other.colors, lf.colors);
    }
    // Two equal line ends enclose an empty line, which shifts the record.
    std::string text = triangleText();
    text.replace(text.find("POINT\n1\n"), 8, "POINT\n1\n\n");
    expectRefused(text, "point number");

    // Values are read as the leading number; text without digits reads 0.
    const Model m = readOk(rokText({{"1.5e1xyz", "abc", " -2"}, {"4", "5", "6"}, {"7", "8", "9"}}, kTriangleEdges,
                                   {{3, 1, 1, {1, 2, 3}}}));
    EXPECT_EQ(m.positions[0], (ModelVertex{150, 0, -20}));
    expectRefused(
        rokText({{"1e999", "0", "0"}, {"4", "5", "6"}, {"7", "8", "9"}}, kTriangleEdges, {{3, 1, 1, {1, 2, 3}}}),
        "out of range");
}

TEST(RokRead, RefusesMoreFacesThanTheModelHolds) {
    std::vector<RokFaceRecord> faces;
    for (int i = 0; i < kMaxPolygons + 1; ++i)
        faces.push_back({3, 1, i + 1, {1, 2, 3}});
    expectRefused(rokText(kTrianglePoints, kTriangleEdges, faces), "over the limit of 65000");
    faces.pop_back();
    const Model m = readOk(rokText(kTrianglePoints, kTriangleEdges, faces));
    EXPECT_EQ(m.polygonCount(), kMaxPolygons);
    EXPECT_EQ(m.positionCount(), 4 * kMaxPolygons);
}

TEST(RokRead, FixtureFilesRead) {
    const std::string dir = std::string(REVIZEVOZ_TEST_DATA) + "/rok/";
    Model m;
    ReadContext ctx;
    ASSERT_FALSE(readRok(test::readBytes(dir + "cube.rok"), m, ctx).has_value());
    EXPECT_EQ(m.polygonCount(), 6);
    for (const ModelPolygon& p : m.polygons)
        EXPECT_EQ(p.cornerCount, 4);
}

}  // namespace
}  // namespace rv

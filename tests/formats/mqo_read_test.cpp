#include <bit>
#include <clocale>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "formats/mqo/mqo.h"
#include "formats/mqo/mqo_tokenizer.h"
#include "model/textures.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

const std::string kHeader = "Metasequoia Document\nFormat Text Ver 1.0\n\n";

struct ReadResult {
    Model model;
    std::optional<FormatError> error;
    std::vector<std::pair<int, std::string>> textureCalls;
};

ReadResult readText(const std::string& text) {
    ReadResult result;
    ReadContext ctx;
    const auto bytes = test::bytesOf(text);
    result.error = readMqo(bytes, result.model, ctx);
    if (!result.error)
        loadModelTextures(result.model, [&result](Model&, int entry, const std::string& name) {
            result.textureCalls.emplace_back(entry, name);
            return false;
        });
    return result;
}

std::string cube(const std::string& name, const std::string& faces, int faceCount, const std::string& extra = "") {
    return "Object \"" + name + "\" {\n\tdepth 0\n" + extra +
           "\tvertex 8 {\n"
           "\t\t0 0 0\n\t\t10 0 0\n\t\t10 10 0\n\t\t0 10 0\n"
           "\t\t0 0 10\n\t\t10 0 10\n\t\t10 10 10\n\t\t0 10 10\n"
           "\t}\n\tface " +
           std::to_string(faceCount) + " {\n" + faces + "\t}\n}\n";
}

std::vector<int> positionsOf(const ModelPolygon& p) {
    std::vector<int> out;
    for (int c = 0; c < p.cornerCount; ++c)
        out.push_back(p.corners[std::size_t(c)].position);
    return out;
}

TEST(MqoTokenizer, QuotesParenthesesAndBlanks) {
    std::string_view rest = "\t\"my material\" col(1.000 0.5 0.25 1) tex(\"a (1).png\") V(0 1)M(2)  \r";
    std::vector<std::string_view> tokens;
    while (auto token = nextMqoToken(rest))
        tokens.push_back(*token);
    ASSERT_EQ(tokens.size(), 4u);
    EXPECT_EQ(tokens[0], "my material");
    EXPECT_EQ(tokens[1], "col(1.000 0.5 0.25 1)");
    EXPECT_EQ(tokens[2], "tex(\"a (1).png\")");
    EXPECT_EQ(tokens[3], "V(0 1)M(2)");
    EXPECT_EQ(mqoArguments(tokens[2]), "\"a (1).png\"");
    EXPECT_EQ(mqoArguments("UV(0 1"), "0 1");  // unclosed: to the end
    EXPECT_EQ(mqoArguments("face"), "");
    std::string_view open = "\"unclosed name";
    EXPECT_EQ(nextMqoToken(open), "unclosed name");
    EXPECT_FALSE(nextMqoToken(open));
}

TEST(MqoRead, ThirdLineEofGivesEmptyModel) {
    for (const char* end : {"eof\n", "Eof\n", "eof"}) {
        const ReadResult r = readText(std::string("Metasequoia Document\nFormat Text Ver 1.0\n") + end +
                                      cube("never read", "\t\t3 V(0 1 2)\n", 1));
        ASSERT_FALSE(r.error) << r.error->message();
        EXPECT_EQ(r.model.positionCount(), 0);
        EXPECT_EQ(r.model.polygonCount(), 0);
        ASSERT_EQ(r.model.colorCount(), 1);
        EXPECT_EQ(r.model.colors[0], (ModelColor{255, 255, 255, 255}));
        ASSERT_EQ(r.model.uvCount(), 1);
        EXPECT_EQ(r.model.uvs[0], (ModelUV{0, 0}));
        EXPECT_EQ(r.model.textureCount(), 1);
        EXPECT_EQ(r.model.groupCount(), 1);
        EXPECT_EQ(r.model.renderModeDirty, 1);
    }
}

TEST(MqoRead, ObjectsAppendWithTheirVertexBase) {
    const std::string second = "Object \"small\" {\n\tvertex 4 {\n\t\t0 0 0\n\t\t1 0 0\n\t\t1 1 0\n\t\t0 1 0\n\t}\n"
                               "\tface 2 {\n\t\t3 V(0 1 2)\n\t\t4 V(3 2 1 0) M(0)\n\t}\n}\n";
    const ReadResult r = readText(kHeader + cube("big", "\t\t4 V(0 1 2 3)\n\t\t2 V(6 7)\n", 2) + second + "Eof\n");
    ASSERT_FALSE(r.error) << r.error->message();
    EXPECT_EQ(r.model.positionCount(), 12);
    EXPECT_EQ(r.model.skin.size(), 12u);
    ASSERT_EQ(r.model.polygonCount(), 4);
    EXPECT_EQ(positionsOf(r.model.polygons[0]), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(positionsOf(r.model.polygons[1]), (std::vector<int>{6, 7}));
    EXPECT_EQ(positionsOf(r.model.polygons[2]), (std::vector<int>{8, 9, 10}));
    EXPECT_EQ(positionsOf(r.model.polygons[3]), (std::vector<int>{11, 10, 9, 8}));
    // Normals are computed before the reader returns.
    EXPECT_FALSE(r.model.normals.empty());
    for (const ModelPolygon& p : r.model.polygons) {
        EXPECT_EQ(p.group, 0);
        for (int c = 0; c < p.cornerCount; ++c) {
            EXPECT_EQ(p.corners[std::size_t(c)].color, 0);
            EXPECT_EQ(p.corners[std::size_t(c)].uv, 0);
            EXPECT_LT(p.corners[std::size_t(c)].normal, r.model.normalCount());
        }
    }
    EXPECT_FLOAT_EQ(r.model.polygons[0].faceNormal.z, 1.0f);
}

TEST(MqoRead, VerticesAreScaledAndZMirroredInSinglePrecision) {
    const ReadResult r =
        readText(kHeader + "Object \"o\" {\n\tvertex 2 {\n\t\t1 2 3\n\t\t-12.5 0.333 1e2\n\t}\n}\nEof\n");
    ASSERT_FALSE(r.error) << r.error->message();
    ASSERT_EQ(r.model.positionCount(), 2);
    EXPECT_EQ(r.model.positions[0], (ModelVertex{1.0f * 0.1f, 2.0f * 0.1f, 3.0f * -0.1f}));
    EXPECT_FLOAT_EQ(r.model.positions[0].x, 0.1f);
    EXPECT_FLOAT_EQ(r.model.positions[0].y, 0.2f);
    EXPECT_FLOAT_EQ(r.model.positions[0].z, -0.3f);
    EXPECT_EQ(r.model.positions[1], (ModelVertex{-12.5f * 0.1f, 0.333f * 0.1f, 100.0f * -0.1f}));
}

TEST(MqoRead, MaterialColoursAreWhitespaceSeparatedDecimals) {
    const ReadResult r =
        readText(kHeader + "Material 4 {\n"
                           "\t\"fixed\" col(0.800 0.600 0.400 1.000) dif(0.800) amb(0.600)\n"
                           "\t\"short\" col(1 1 1 1)\n"
                           "\t\"printf\" shader(3) col(0.500000 0.250000 0.000000 0.400000) power(5.00)\n"
                           "\tplain\n"
                           "}\nEof\n");
    ASSERT_FALSE(r.error) << r.error->message();
    ASSERT_EQ(r.model.groupCount(), 4);
    EXPECT_EQ(r.model.groups[0].name, "fixed");
    EXPECT_EQ(r.model.groups[0].color, (ModelColor{204, 153, 102, 255}));
    EXPECT_EQ(r.model.groups[1].color, (ModelColor{255, 255, 255, 255}));
    EXPECT_EQ(r.model.groups[2].name, "printf");
    EXPECT_FLOAT_EQ(r.model.groups[2].color.red, 127.5f);
    EXPECT_FLOAT_EQ(r.model.groups[2].color.green, 63.75f);
    EXPECT_FLOAT_EQ(r.model.groups[2].color.blue, 0.0f);
    EXPECT_FLOAT_EQ(r.model.groups[2].color.alpha, 102.0f);
    // No col(): white, not the new-group grey.
    EXPECT_EQ(r.model.groups[3].name, "plain");
    EXPECT_EQ(r.model.groups[3].color, (ModelColor{255, 255, 255, 255}));
    for (const ModelGroup& g : r.model.groups) {
        EXPECT_EQ(g.edgeParam, 10);
        EXPECT_EQ(g.textureIndex, 0);
        EXPECT_EQ(g.shadeParam, 4);
    }
}

TEST(MqoRead, TexturesKeepTheBareNameAndAreNeverShared) {
    // "\x95\x5c" is a Shift-JIS character whose second byte is '\'.
    const ReadResult r = readText(kHeader + "Material 5 {\n"
                                            "\t\"a\" col(1 1 1 1) tex(\"C:\\Users\\me\\img\\wood.png\")\n"
                                            "\t\"b\" tex(\"wood.png\")\n"
                                            "\t\"c\" col(1 0 0 1)\n"
                                            "\t\"d\" tex(\"textures/rock.bmp\")\n"
                                            "\t\"e\" tex(\"..\\\x95\x5c\\\x95\x5c.png\")\n"
                                            "}\nEof\n");
    ASSERT_FALSE(r.error) << r.error->message();
    ASSERT_EQ(r.model.textureCount(), 5);
    EXPECT_EQ(r.model.textures[0].kind, 0);
    EXPECT_EQ(r.model.textures[1].fileName, "wood.png");
    EXPECT_EQ(r.model.textures[2].fileName, "wood.png");
    EXPECT_EQ(r.model.textures[3].fileName, "textures/rock.bmp");
    EXPECT_EQ(r.model.textures[4].fileName, "\x95\x5c.png");
    for (int t = 1; t < 5; ++t)
        EXPECT_EQ(r.model.textures[std::size_t(t)].kind, 1);
    const std::vector<int> expected{1, 2, 0, 3, 4};
    for (int g = 0; g < 5; ++g) {
        EXPECT_EQ(r.model.groups[std::size_t(g)].textureIndex, expected[std::size_t(g)]) << g;
        EXPECT_EQ(r.model.groups[std::size_t(g)].textured, expected[std::size_t(g)] != 0 ? 1 : 0) << g;
    }
    // Every textured entry is loaded once, by its bare name.
    ASSERT_EQ(r.textureCalls.size(), 4u);
    EXPECT_EQ(r.textureCalls[0], (std::pair<int, std::string>{1, "wood.png"}));
    EXPECT_EQ(r.textureCalls[1], (std::pair<int, std::string>{2, "wood.png"}));
    EXPECT_EQ(r.textureCalls[3], (std::pair<int, std::string>{4, "\x95\x5c.png"}));
}

TEST(MqoRead, FaceLinesOfTexturedAndUntexturedMaterials) {
    const std::string materials = "Material 2 {\n\t\"plain\" col(1 1 1 1)\n\t\"skin\" tex(\"skin.png\")\n}\n";
    const std::string faces = "\t\t3 V(0 1 2) M(1) UV(0 0 1 0 1 1)\n"
                              "\t\t3 V(0 1 2) M(0) UV(0 0 1 0 1 1)\n"
                              "\t\t4 V(4 5 6 7) M(1) UV(0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8) UID(9)\n"
                              "\t\t2 V(3 4) M(1) UV(0.5 0.25 0.75 1)\n"
                              "\t\t3 V(1 2 3) M(1)\n";
    const ReadResult r = readText(kHeader + materials + cube("o", faces, 5) + "Eof\n");
    ASSERT_FALSE(r.error) << r.error->message();
    ASSERT_EQ(r.model.polygonCount(), 5);
    const std::vector<ModelUV> expectedUvs{{0, 0},       {0, 0},       {1, 0},       {1, 1},        {0.1f, 0.2f},
                                           {0.3f, 0.4f}, {0.5f, 0.6f}, {0.7f, 0.8f}, {0.5f, 0.25f}, {0.75f, 1},
                                           {0, 0},       {0, 0},       {0, 0}};
    EXPECT_EQ(std::vector<ModelUV>(r.model.uvs.begin(), r.model.uvs.end()), expectedUvs);
    const ModelPolygon& textured = r.model.polygons[0];
    EXPECT_EQ(textured.group, 1);
    EXPECT_EQ(textured.cornerCount, 3);
    EXPECT_EQ(textured.corners[0].uv, 1);
    EXPECT_EQ(textured.corners[1].uv, 2);
    EXPECT_EQ(textured.corners[2].uv, 3);
    const ModelPolygon& untextured = r.model.polygons[1];
    EXPECT_EQ(untextured.group, 0);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(untextured.corners[std::size_t(c)].uv, 0);
    EXPECT_EQ(r.model.polygons[2].corners[3].uv, 7);  // UV(...) read, not the UID after it
    EXPECT_EQ(r.model.polygons[3].cornerCount, 2);
    EXPECT_EQ(r.model.polygons[3].corners[1].uv, 9);
    EXPECT_EQ(r.model.polygons[4].corners[2].uv, 12);  // no UV(...): fresh (0, 0) entries
}

TEST(MqoRead, LargerFacesBecomeTriangleFans) {
    std::string ngon = "\t\t8 V(0 1 2 3 4 5 6 7) M(0) UV(";
    for (int i = 0; i < 16; ++i)
        ngon += std::to_string(i) + " ";
    ngon += ")\n";
    const std::string faces = "\t\t5 V(0 1 2 3 4) M(1)\n" + ngon + "\t\t1 V(0)\n\t\tx V(0 1 2)\n";
    const ReadResult r =
        readText(kHeader + "Material 2 {\n\t\"t\" tex(\"t.png\")\n\t\"u\"\n}\n" + cube("o", faces, 4) + "Eof\n");
    ASSERT_FALSE(r.error) << r.error->message();
    ASSERT_EQ(r.model.polygonCount(), 3 + 6);
    EXPECT_EQ(positionsOf(r.model.polygons[0]), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(positionsOf(r.model.polygons[1]), (std::vector<int>{0, 2, 3}));
    EXPECT_EQ(positionsOf(r.model.polygons[2]), (std::vector<int>{0, 3, 4}));
    EXPECT_EQ(r.model.polygons[2].group, 1);
    EXPECT_EQ(positionsOf(r.model.polygons[8]), (std::vector<int>{0, 6, 7}));
    EXPECT_EQ(r.model.polygons[8].group, 0);
    // The textured octagon: one uv per original corner, shared by the fan's triangles.
    ASSERT_EQ(r.model.uvCount(), 1 + 8);
    const ModelPolygon& last = r.model.polygons[8];
    EXPECT_EQ(r.model.uvs[std::size_t(last.corners[0].uv)], (ModelUV{0, 1}));
    EXPECT_EQ(r.model.uvs[std::size_t(last.corners[1].uv)], (ModelUV{12, 13}));
    EXPECT_EQ(r.model.uvs[std::size_t(last.corners[2].uv)], (ModelUV{14, 15}));
}

TEST(MqoRead, TwentyOneCornersAreReadAsOneFace) {
    std::string vertices, indices;
    for (int i = 0; i < 21; ++i) {
        vertices += "\t\t" + std::to_string(i) + " " + std::to_string(i * i % 7) + " 0\n";
        indices += std::to_string(i) + " ";
    }
    const ReadResult r = readText(kHeader + "Object \"o\" {\n\tvertex 21 {\n" + vertices +
                                  "\t}\n\tface 1 {\n\t\t21 V(" + indices + ")\n\t}\n}\nEof\n");
    ASSERT_FALSE(r.error) << r.error->message();
    EXPECT_EQ(r.model.polygonCount(), 19);
}

TEST(MqoRead, MirrorLineMarksTheGroupOfTheObjectIndex) {
    const std::string faces = "\t\t3 V(0 1 2) M(0)\n";
    const ReadResult r = readText(kHeader + "Material 1 {\n\t\"m\"\n}\n" + cube("first", faces, 1) +
                                  cube("second", faces, 1, "\tmirror 1\n\tmirror_axis 1\n") + "Eof\n");
    ASSERT_FALSE(r.error) << r.error->message();
    ASSERT_EQ(r.model.groupCount(), 2);
    EXPECT_EQ(r.model.groups[0].mirror(), 0);
    EXPECT_EQ(r.model.groups[1].mirror(), 1);
    // Group 1 lies beyond the Material chunk: new-group defaults, edge 10.
    EXPECT_EQ(r.model.groups[1].color, (ModelColor{200, 200, 200, 255}));
    EXPECT_EQ(r.model.groups[1].edgeParam, 10);
}

TEST(MqoRead, GroupCountCoversEveryMaterialIndexUsed) {
    const ReadResult r = readText(kHeader + "Material 2 {\n\t\"a\"\n\t\"b\"\n}\n" +
                                  cube("o", "\t\t3 V(0 1 2) M(5)\n\t\t3 V(0 1 2)\n", 2) + "Eof\n");
    ASSERT_FALSE(r.error) << r.error->message();
    ASSERT_EQ(r.model.groupCount(), 6);
    EXPECT_EQ(r.model.polygons[0].group, 5);
    EXPECT_EQ(r.model.polygons[1].group, 0);
    EXPECT_EQ(r.model.groups[1].name, "b");
    EXPECT_EQ(r.model.groups[5].name, ModelGroup{}.name);
    for (const ModelGroup& g : r.model.groups)
        EXPECT_EQ(g.edgeParam, 10);
}

TEST(MqoRead, NestedChunksInsideAnObjectDoNotEndIt) {
    const std::string object = "Object \"o\" {\n\tuid 14\n\tvertex 3 {\n\t\t0 0 0\n\t\t1 0 0\n\t\t0 1 0\n\t}\n"
                               "\tvertexattr {\n\t\tuid {\n\t\t\t1\n\t\t\t2\n\t\t\t3\n\t\t}\n\t\tweit {\n\t\t}\n\t}\n"
                               "\tface 1 {\n\t\t3 V(0 1 2) M(0) UV(0 0 1 0 0 1) UID(1)\n\t}\n}\n"
                               "Object \"next\" {\n\tvertex 3 {\n\t\t0 0 0\n\t\t1 0 0\n\t\t0 1 0\n\t}\n"
                               "\tface 1 {\n\t\t3 V(2 1 0)\n\t}\n}\n";
    const ReadResult r = readText(kHeader + object + "Eof\n");
    ASSERT_FALSE(r.error) << r.error->message();
    ASSERT_EQ(r.model.polygonCount(), 2);
    EXPECT_EQ(positionsOf(r.model.polygons[1]), (std::vector<int>{5, 4, 3}));
}

std::string objectOf(int vertices) {
    std::string text = "Object \"big\" {\n\tvertex " + std::to_string(vertices) + " {\n";
    text.reserve(std::size_t(vertices) * 8 + 200);
    for (int i = 0; i < vertices; ++i)
        text += "\t\t1 2 3\n";
    return text + "\t}\n\tface 1 {\n\t\t3 V(0 1 2)\n\t}\n}\n";
}

TEST(MqoRead, OversizedVertexChunkDropsItsObject) {
    const ReadResult r = readText(kHeader + "Material 1 {\n\t\"m\"\n}\n" + objectOf(160001) +
                                  cube("after", "\t\t3 V(0 1 2)\n", 1) + "Eof\n");
    ASSERT_FALSE(r.error) << r.error->message();
    EXPECT_EQ(r.model.positionCount(), 8);
    ASSERT_EQ(r.model.polygonCount(), 1);
    EXPECT_EQ(positionsOf(r.model.polygons[0]), (std::vector<int>{0, 1, 2}));
    // 160,000 still read.
    const ReadResult limit = readText(kHeader + objectOf(160000) + "Eof\n");
    ASSERT_FALSE(limit.error) << limit.error->message();
    EXPECT_EQ(limit.model.positionCount(), 160000);
    EXPECT_EQ(limit.model.polygonCount(), 1);
}

// The little-endian bytes of 32-bit floats.
std::string floatBytes(const std::vector<float>& values) {
    std::string out;
    for (float v : values) {
        const auto bits = std::bit_cast<std::uint32_t>(v);
        for (int shift = 0; shift < 32; shift += 8)
            out += char((bits >> shift) & 0xff);
    }
    return out;
}

// An object whose vertices are a binary block, with one triangle. The counts and the size are
// those of the floats given unless set.
struct BinaryObject {
    std::vector<float> xyz;
    std::string eol = "\n";
    std::string afterBlock = "\n\t}\n";
    int count = -1, vectorCount = -1, size = -1;
    std::string face = "3 V(0 1 2)";

    std::string text() const {
        const int n = int(xyz.size() / 3);
        return "Object \"b\" {" + eol + "\tBVertex " + std::to_string(count < 0 ? n : count) + " {" + eol +
               "\t\tVector " + std::to_string(vectorCount < 0 ? n : vectorCount) + " [" +
               std::to_string(size < 0 ? 12 * n : size) + "]" + eol + floatBytes(xyz) + afterBlock + "\tface 1 {" +
               eol + "\t\t" + face + eol + "\t}" + eol + "}" + eol;
    }
};

// Bytes that look like line ends, quotes and braces inside the block must stay floats.
const std::vector<float> kBinaryXyz{1, 2, 3, std::bit_cast<float>(0x7d0a0d22u), 5, 6, 7, 8, -9};

TEST(MqoRead, BinaryVertexBlocksAreTheObjectsVertices) {
    for (const std::string eol : {"\n", "\r\n"}) {
        for (const std::string& after : {eol + "\t}" + eol, "}" + eol}) {
            const ReadResult r = readText(kHeader + BinaryObject{kBinaryXyz, eol, after}.text() +
                                          cube("after", "\t\t3 V(0 1 2)\n", 1) + "Eof\n");
            ASSERT_FALSE(r.error) << r.error->message();
            ASSERT_EQ(r.model.positionCount(), 3 + 8);
            EXPECT_EQ(r.model.skin.size(), 11u);
            EXPECT_EQ(r.model.positions[0], (ModelVertex{1 * 0.1f, 2 * 0.1f, 3 * -0.1f}));
            EXPECT_EQ(r.model.positions[1].x, std::bit_cast<float>(0x7d0a0d22u) * 0.1f);
            EXPECT_EQ(r.model.positions[2], (ModelVertex{7 * 0.1f, 8 * 0.1f, -9 * -0.1f}));
            ASSERT_EQ(r.model.polygonCount(), 2);
            EXPECT_EQ(positionsOf(r.model.polygons[0]), (std::vector<int>{0, 1, 2}));
            EXPECT_EQ(positionsOf(r.model.polygons[1]), (std::vector<int>{3, 4, 5}));
        }
    }
}

TEST(MqoRead, RefusesABinaryVertexBlockThatDoesNotFit) {
    struct Case {
        std::string object;
        std::string reason;
        std::uint32_t line;  // the Vector line is line 6
    };
    const std::vector<Case> cases{
        {BinaryObject{.xyz = kBinaryXyz, .size = 35}.text(), "block of 35 bytes does not hold 3 vertices", 6},
        {BinaryObject{.xyz = kBinaryXyz, .size = 24}.text(), "block of 24 bytes does not hold 3 vertices", 6},
        {BinaryObject{.xyz = kBinaryXyz, .vectorCount = 2}.text(), "BVertex count 3 and Vector count 2 differ", 6},
        // Fewer bytes than announced: the face chunk after them is no "}".
        {BinaryObject{.xyz = {1, 2, 3, 4, 5, 6}, .count = 3, .vectorCount = 3, .size = 36}.text(),
         "not followed by \"}\"", 6},
        {"Object \"b\" {\n\tBVertex 2 {\n\t\tVector 2 [24]\n" + floatBytes({1, 2, 3, 4}), "file ends inside the binary",
         6},
        {"Object \"b\" {\n\tBVertex 2 {\n\t\tvertex 2 [24]\n", "no \"Vector N [S]\" line", 6},
        {"Object \"b\" {\n\tBVertex 2 {\n\t\tVector 2 24\n", "no \"Vector N [S]\" line", 6},
        {"Object \"b\" {\n\tBVertex two {\n", "no vertex count", 5},
        // Lines after a block are counted as if its bytes were one line, whatever they hold.
        {BinaryObject{.xyz = kBinaryXyz, .face = "3 V(0 1 3)"}.text(), "vertex 3 of an object with 3", 10},
        {BinaryObject{.xyz = kBinaryXyz, .afterBlock = "}\n", .face = "3 V(0 1 3)"}.text(), "vertex 3", 9},
    };
    for (const Case& c : cases) {
        const ReadResult r = readText(kHeader + c.object + "Eof\n");
        ASSERT_TRUE(r.error) << c.reason;
        EXPECT_NE(r.error->reason.find(c.reason), std::string::npos) << r.error->reason;
        EXPECT_EQ(r.error->line, c.line) << r.error->reason;
    }
    // Every truncation is refused or loads with sound indices.
    const std::string whole = kHeader + BinaryObject{kBinaryXyz}.text() + "Eof\n";
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const ReadResult p = readText(whole.substr(0, n));
        for (const ModelPolygon& poly : p.model.polygons)
            for (int c = 0; !p.error && c < poly.cornerCount; ++c)
                ASSERT_LT(poly.corners[std::size_t(c)].position, p.model.positionCount()) << n;
    }
}

TEST(MqoRead, OversizedBinaryVertexBlockDropsItsObject) {
    const std::vector<float> xyz(3 * 160001, 1.0f);
    const ReadResult r = readText(kHeader + BinaryObject{xyz}.text() + cube("after", "\t\t3 V(0 1 2)\n", 1) + "Eof\n");
    ASSERT_FALSE(r.error) << r.error->message();
    EXPECT_EQ(r.model.positionCount(), 8);
    ASSERT_EQ(r.model.polygonCount(), 1);
    EXPECT_EQ(positionsOf(r.model.polygons[0]), (std::vector<int>{0, 1, 2}));
}

TEST(MqoRead, FileWithoutEofKeepsWhatWasRead) {
    const std::string whole = kHeader + cube("o", "\t\t3 V(0 1 2)\n\t\t3 V(2 3 0)\n", 2);
    const ReadResult r = readText(whole);
    ASSERT_FALSE(r.error) << r.error->message();
    EXPECT_EQ(r.model.polygonCount(), 2);
    // Every prefix loads or is refused; what loads never points outside its tables.
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const ReadResult p = readText(whole.substr(0, n));
        if (p.error)
            continue;
        for (const ModelPolygon& poly : p.model.polygons)
            for (int c = 0; c < poly.cornerCount; ++c)
                ASSERT_LT(poly.corners[std::size_t(c)].position, p.model.positionCount()) << n;
    }
}

TEST(MqoRead, RefusesWhatTheModelCannotHold) {
    struct Case {
        std::string text;
        std::string reason;
    };
    const std::string longName(300, 'n');
    const std::vector<Case> cases{
        {"Material 257 {\n", "material count 257 is over the limit of 256"},
        {"Material x {\n", "no material count"},
        {"Material 1 {\n\t\"" + longName + "\"\n}\n", "material name of 300 bytes"},
        {"Material 1 {\n\t\"m\" tex(\"" + longName + "\")\n}\n", "texture path of 300 bytes"},
        {cube("o", "\t\t3 V(0 1 2) M(256)\n", 1), "material index 256"},
        {cube("o", "\t\t3 V(0 1 -2) M(0)\n", 1), "vertex -2"},
        {cube("o", "\t\t3 V(0 1 8)\n", 1), "vertex 8 of an object with 8 vertices"},
        {cube("o", "\t\t4 V(0 1 2)\n", 1), "face of 4 corners lists 3 vertices"},
        {"Object \"o\" {\n\tvertex 2 {\n\t\t1 2 3\n\t\t1 2\n\t}\n}\n", "three numbers"},
        {"Object \"o\" {\n\tvertex many {\n", "no vertex count"},
    };
    for (const Case& c : cases) {
        const ReadResult r = readText(kHeader + c.text + "Eof\n");
        ASSERT_TRUE(r.error) << c.text.substr(0, 80);
        EXPECT_NE(r.error->reason.find(c.reason), std::string::npos) << r.error->reason;
        EXPECT_GT(r.error->line, 0u);
    }
}

TEST(MqoRead, RefusesMoreThan65000Polygons) {
    std::string faces;
    for (int i = 0; i < 32501; ++i)
        faces += "\t\t5 V(0 1 2 3 4)\n";  // three triangles each
    const ReadResult r = readText(kHeader + cube("o", faces, 32501) + "Eof\n");
    ASSERT_TRUE(r.error);
    EXPECT_NE(r.error->reason.find("over the limit of 65000"), std::string::npos) << r.error->reason;
}

TEST(MqoRead, Utf8CodePageNamesBecomeShiftJis) {
    test::RecordingSinks sinks;
    const ReadResult r =
        readText("Metasequoia Document\nFormat Text Ver 1.1\nCodePage utf8\n"
                 "Material 2 {\n"
                 "\t\"\xe7\xb4\xa0\xe6\x9d\x90\" col(1 1 1 1) tex(\"\xe7\x94\xbb\xe5\x83\x8f\\\xe8\xa1\xa8.png\")\n"
                 "\t\"smile \xf0\x9f\x98\x80\"\n"
                 "}\nEof\n");
    ASSERT_FALSE(r.error) << r.error->message();
    EXPECT_EQ(r.model.groups[0].name, "\x91\x66\x8d\xde");  // 素材
    EXPECT_EQ(r.model.textures[1].fileName, "\x95\x5c.png");  // 表.png, folder cut off
    EXPECT_EQ(r.model.groups[1].name.substr(0, 6), "smile ");
    EXPECT_TRUE(sinks.logged("smile")) << "an emoji cannot be written in Shift-JIS";
    // Without the code page the bytes are kept as they are.
    const ReadResult raw = readText(kHeader + "Material 1 {\n\t\"\xe7\xb4\xa0\xe6\x9d\x90\"\n}\nEof\n");
    EXPECT_EQ(raw.model.groups[0].name, "\xe7\xb4\xa0\xe6\x9d\x90");
}

TEST(MqoRead, NumbersIgnoreTheProcessLocale) {
    const std::string text = kHeader + "Material 1 {\n\t\"m\" col(0.800 0.600 0.400 1.000) tex(\"t.png\")\n}\n" +
                             "Object \"o\" {\n\tvertex 3 {\n\t\t1.5 -2.25 3.125\n\t\t0.1 0.2 0.3\n\t\t1e1 2 3\n\t}\n"
                             "\tface 1 {\n\t\t3 V(0 1 2) M(0) UV(0.5 0.25 0.125 1 0 0.75)\n\t}\n}\nEof\n";
    const ReadResult plain = readText(text);
    ASSERT_FALSE(plain.error);
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8") && !std::setlocale(LC_ALL, "de_DE.utf8"))
        GTEST_SKIP() << "no locale with a decimal comma (de_DE.UTF-8) is installed";
    const ReadResult german = readText(text);
    std::setlocale(LC_ALL, previous.c_str());
    ASSERT_FALSE(german.error);
    EXPECT_EQ(german.model.positions, plain.model.positions);
    EXPECT_EQ(german.model.uvs, plain.model.uvs);
    EXPECT_EQ(german.model.groups[0].color, plain.model.groups[0].color);
    EXPECT_FLOAT_EQ(german.model.positions[0].x, 0.15f);
}

}  // namespace
}  // namespace rv

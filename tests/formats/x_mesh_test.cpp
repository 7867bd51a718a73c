// The merged mesh the parser builds: what the D3DX loader would yield for the same file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "formats/common/byte_writer.h"
#include "formats/x/x_mesh.h"
#include "formats/x/x_mszip.h"
#include "formats/x/x_parser.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

using Tri = std::array<std::uint32_t, 3>;
using Vec = std::array<float, 3>;

std::optional<FormatError> build(const std::vector<std::byte>& bytes, XMesh& mesh) {
    XDocument doc;
    if (auto error = parseX(bytes, doc))
        return error;
    return buildXMesh(doc, mesh);
}

XMesh meshOf(const std::string& text) {
    XMesh mesh;
    const auto error = build(test::bytesOf(text), mesh);
    EXPECT_FALSE(error.has_value()) << error->message();
    return mesh;
}

// A cube of 8 vertices, 6 quads, one normal per face.
const std::string kBox =
    "xof 0303txt 0032\n"
    "Mesh {\n8;\n0.0; 0.0; 0.0;,\n0.0; 0.0; 1.0;,\n0.0; 1.0; 0.0;,\n0.0; 1.0; 1.0;,\n"
    "1.0; 0.0; 0.0;,\n1.0; 0.0; 1.0;,\n1.0; 1.0; 0.0;,\n1.0; 1.0; 1.0;;\n"
    "6;\n4; 0, 1, 3, 2;,\n4; 2, 3, 7, 6;,\n4; 6, 7, 5, 4;,\n4; 1, 0, 4, 5;,\n4; 1, 5, 7, 3;,\n4; 0, 2, 6, 4;;\n"
    "MeshNormals {\n6;\n-1.0; 0.0; 0.0;,\n0.0; 1.0; 0.0;,\n1.0; 0.0; 0.0;,\n0.0; -1.0; 0.0;,\n0.0; 0.0; 1.0;,\n"
    "0.0; 0.0; -2.0;;\n6;\n4; 0, 0, 0, 0;,\n4; 1, 1, 1, 1;,\n4; 2, 2, 2, 2;,\n4; 3, 3, 3, 3;,\n4; 4, 4, 4, 4;,\n"
    "4; 5, 5, 5, 5;;\n}\n"
    "MeshVertexColors {\n2;\n1; 0.0; 0.0; 1.0; 0.1;;,\n3; 2.0; -1.0; 0.5; 1.0;;;\n}\n"
    "}\n";

TEST(XMesh, VerticesMeetingSeveralNormalsAreDuplicatedInCornerOrder) {
    const XMesh mesh = meshOf(kBox);
    ASSERT_EQ(mesh.positions.size(), 24u);
    const std::vector<Tri> expected{{0, 1, 3},    {0, 3, 2},    {8, 9, 7},    {8, 7, 6},    {10, 11, 5},  {10, 5, 4},
                                    {12, 13, 14}, {12, 14, 15}, {16, 17, 18}, {16, 18, 19}, {20, 21, 22}, {20, 22, 23}};
    EXPECT_EQ(mesh.triangles, expected);
    const int copies[] = {2, 3, 6, 7, 1, 0, 4, 5, 1, 5, 7, 3, 0, 2, 6, 4};
    const XMesh plain = meshOf(kBox);
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(mesh.positions[std::size_t(8 + k)], plain.positions[std::size_t(copies[k])]) << k;
        EXPECT_EQ(mesh.colors[std::size_t(8 + k)], mesh.colors[std::size_t(copies[k])]) << k;
    }
    EXPECT_EQ(mesh.normals[0], (Vec{-1, 0, 0}));
    EXPECT_EQ(mesh.normals[20], (Vec{0, 0, -1}));  // normalised on load
    EXPECT_EQ(mesh.colors[1], 0x1A0000FFu);
    EXPECT_EQ(mesh.colors[3], 0xFFFF0080u);  // clamped to 0..1
    EXPECT_EQ(mesh.colors[0], 0x00FFFFFFu);
}

const std::string kTri(float z) {
    const std::string s = std::to_string(z);
    return "Mesh {\n3;\n0;0;" + s + ";,\n1;0;" + s + ";,\n0;1;" + s + ";;\n1;\n3;0,1,2;;\n}\n";
}

std::string translate(float x, float y, float z) {
    return "FrameTransformMatrix {\n1,0,0,0,0,1,0,0,0,0,1,0," + std::to_string(x) + "," + std::to_string(y) + "," +
           std::to_string(z) + ",1;;\n}\n";
}

TEST(XMesh, TransformsApplyToTheMeshesAfterThemAndAccumulate) {
    const XMesh mesh = meshOf("xof 0303txt 0032\nFrame {\n" + kTri(0) + translate(0, 0, 2) + kTri(0) +
                              translate(0, 0, 3) + kTri(0) + "}\n");
    ASSERT_EQ(mesh.positions.size(), 9u);
    EXPECT_EQ(mesh.positions[0][2], 0);
    EXPECT_EQ(mesh.positions[3][2], 2);
    EXPECT_EQ(mesh.positions[6][2], 5);
    EXPECT_EQ(mesh.triangles[2], (Tri{6, 7, 8}));
    EXPECT_EQ(mesh.materials.size(), 1u);
}

// Assumed: a child frame's matrix applies before its parent's (the loader's order is not known
// beyond translations).
TEST(XMesh, NestedFramesApplyTheChildMatrixFirst) {
    const std::string rotateZ = "FrameTransformMatrix {\n0,1,0,0,-1,0,0,0,0,0,1,0,0,0,0,1;;\n}\n";
    const std::string mesh = "Mesh {\n3;\n1;0;0;,\n0;0;0;,\n0;0;1;;\n1;\n3;0,1,2;;\n"
                             "MeshNormals {\n1;\n1;0;0;;\n1;\n3;0,0,0;;\n}\n}\n";
    const XMesh m = meshOf("xof 0303txt 0032\nFrame parent {\n" + translate(10, 0, 0) + "Frame child {\n" + rotateZ +
                           mesh + "}\n}\n");
    ASSERT_EQ(m.positions.size(), 3u);
    EXPECT_NEAR(m.positions[0][0], 10, 1e-6);
    EXPECT_NEAR(m.positions[0][1], 1, 1e-6);
    EXPECT_NEAR(m.positions[0][2], 0, 1e-6);
    // Normals turn with the frame but do not move with it.
    EXPECT_NEAR(m.normals[0][0], 0, 1e-6);
    EXPECT_NEAR(m.normals[0][1], 1, 1e-6);
}

TEST(XMesh, FacesBecomeFansAndSortStablyByMaterial) {
    const XMesh quad = meshOf("xof 0303txt 0032\nMesh {\n4;\n0;0;0;,1;0;0;,1;1;0;,0;1;0;;\n1;\n4;0,1,3,2;;\n}\n");
    EXPECT_EQ(quad.triangles, (std::vector<Tri>{{0, 1, 3}, {0, 3, 2}}));

    std::string big = "xof 0303txt 0032\nMesh {\n20;\n";
    for (int v = 0; v < 20; ++v)
        big += std::to_string(v) + ";0;0;" + (v < 19 ? "," : ";");
    big += "\n3;\n5;0,1,2,3,4;,\n20;";
    for (int v = 0; v < 20; ++v)
        big += std::to_string(v) + (v < 19 ? "," : ";");
    big += ",\n2;0,1;;\n}\n";  // a two-index face adds nothing
    const XMesh ngons = meshOf(big);
    EXPECT_EQ(ngons.triangles.size(), 3u + 18u);
    EXPECT_EQ(ngons.triangles[2], (Tri{0, 3, 4}));
    EXPECT_EQ(ngons.triangles[20], (Tri{0, 18, 19}));

    const std::string mat = "Material {\n1;1;1;1;;\n0;\n0;0;0;;\n0;0;0;;\n}\n";
    const XMesh sorted = meshOf("xof 0303txt 0032\nMesh {\n5;\n0;0;0;,1;0;0;,1;1;0;,0;1;0;,2;2;0;;\n3;\n"
                                "3;0,1,2;,\n3;1,2,3;,\n3;2,3,4;;\nMeshMaterialList {\n2;\n3;\n1,0,1;;\n" +
                                mat + mat + "}\n}\n");
    EXPECT_EQ(sorted.triangles, (std::vector<Tri>{{1, 2, 3}, {0, 1, 2}, {2, 3, 4}}));
    EXPECT_EQ(sorted.attributes, (std::vector<std::uint32_t>{0, 1, 1}));
}

TEST(XMesh, MaterialsOfSeveralMeshesFollowEachOther) {
    const std::string red = "Material {\n1;0;0;1;;\n5;\n0;0;0;;\n0;0;0;;\n}\n";
    const std::string withRed =
        "Mesh {\n3;\n0;0;0;,1;0;0;,0;1;0;;\n1;\n3;0,1,2;;\nMeshMaterialList {\n1;\n1;\n0;;\n{ red }\n}\n}\n";
    const XMesh m =
        meshOf("xof 0303txt 0032\nMaterial red {\n1;0;0;1;;\n5;\n0;0;0;;\n0;0;0;;\n}\n" + withRed + kTri(1) + withRed);
    ASSERT_EQ(m.materials.size(), 3u);  // red, the default of the mesh without any, red
    EXPECT_EQ(m.materials[0].diffuse, (std::array<float, 4>{1, 0, 0, 1}));
    EXPECT_EQ(m.materials[0].power, 5);
    EXPECT_EQ(m.materials[1].diffuse, (std::array<float, 4>{0.5f, 0.5f, 0.5f, 0}));
    EXPECT_EQ(m.attributes, (std::vector<std::uint32_t>{0, 1, 2}));
    EXPECT_EQ(m.triangles[2], (Tri{6, 7, 8}));
}

TEST(XMesh, AMeshNamedInAFrameIsPlacedAgain) {
    const XMesh m = meshOf("xof 0303txt 0032\nMesh tri {\n3;\n0;0;0;,1;0;0;,0;1;0;;\n1;\n3;0,1,2;;\n}\n"
                           "Frame f {\n" +
                           translate(0, 0, 4) + "{ tri }\n}\n");
    ASSERT_EQ(m.positions.size(), 6u);
    EXPECT_EQ(m.positions[3][2], 4);
}

TEST(XMesh, ReadsWhatExportersWrite) {
    // Declared templates with blanks in the GUID, comments, odd number spellings, other cases,
    // a named header, undeclared templates and objects it does not know.
    const XMesh m = meshOf(
        "xof 0303txt 0064\n"
        "template Vector {\n < 3D82AB5E-62DA-11cf-AB39-0020AF71E433 >\n FLOAT x;\n FLOAT y;\n FLOAT z;\n}\n"
        "template Mesh {\n <3D82AB44-62DA-11CF-AB39-0020AF71E433>\n DWORD nVertices;\n array Vector "
        "vertices[nVertices];\n"
        " DWORD nFaces;\n array MeshFace faces[nFaces];\n [...]\n}\n"
        "Header hdr { 1; 0; 1; }\n"
        "# a comment\n"
        "SomethingElse { \"x\"; 1; }\n"
        "Frame Box01 {\n  FrameTransformMatrix { 1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0;; }\n"
        "  mesh 1stMesh { // unnamed in spirit\n 3;\n 1.5e-3;-1.#IND00;+2;,\n 1.#QNAN0;0;0;,\n .5;1;0;;\n 1;\n "
        "3;0,1,2;;\n"
        "   MeshMaterialList { 1; 1; 0;;\n    Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;;\n"
        "     TextureFileName { \"sub\\\\a.png\"; }\n    }\n   }\n"
        "   MeshTextureCoords { 2; 0.25;0.75;, 1;1;; }\n"
        "  }\n}\n");
    ASSERT_EQ(m.positions.size(), 3u);
    EXPECT_FLOAT_EQ(m.positions[0][0], 0.0015f);
    EXPECT_EQ(m.positions[0][1], 0);
    EXPECT_EQ(m.positions[0][2], 2);
    EXPECT_EQ(m.positions[1][0], 0);
    EXPECT_EQ(m.positions[2][0], 0.5f);
    ASSERT_EQ(m.materials.size(), 1u);
    EXPECT_TRUE(m.materials[0].hasTexture);
    EXPECT_EQ(m.materials[0].texture, "sub\\\\a.png");
    // A short coordinate list still gives the vertices it names their coordinates.
    EXPECT_EQ(m.uvs[0], (std::array<float, 2>{0.25f, 0.75f}));
    EXPECT_EQ(m.uvs[2], (std::array<float, 2>{0, 0}));
}

TEST(XMesh, ToleratesMismatchedOptionalChildren) {
    const std::string mat = "Material {\n0;1;0;1;;\n0;\n0;0;0;;\n0;0;0;;\n}\n";
    // Normals for the wrong number of faces are left out; one material index stands for all
    // faces; an index of a missing material takes material 0.
    const XMesh m = meshOf("xof 0303txt 0032\nMesh {\n4;\n0;0;0;,1;0;0;,1;1;0;,0;1;0;;\n2;\n3;0,1,2;,\n3;0,2,3;;\n"
                           "MeshNormals {\n1;\n0;0;1;;\n1;\n3;0,0,0;;\n}\n"
                           "MeshMaterialList {\n3;\n1;\n1;;\n" +
                           mat + mat + "}\n}\n");
    EXPECT_EQ(m.normals[0], (Vec{0, 0, 0}));
    ASSERT_EQ(m.materials.size(), 2u);
    EXPECT_EQ(m.materials[0].diffuse[1], 1);
    EXPECT_EQ(m.attributes, (std::vector<std::uint32_t>{1, 1}));
    const XMesh none = meshOf("xof 0303txt 0032\nMesh {\n3;\n0;0;0;,1;0;0;,0;1;0;;\n1;\n3;0,1,2;;\n"
                              "MeshMaterialList {\n4000000000;\n1;\n3999999999;;\n}\n}\n");
    ASSERT_EQ(none.materials.size(), 1u);
    EXPECT_EQ(none.materials[0].diffuse, (std::array<float, 4>{0.5f, 0.5f, 0.5f, 0}));
    EXPECT_EQ(none.attributes, (std::vector<std::uint32_t>{0}));
    const XMesh bad = meshOf("xof 0303txt 0032\nMesh {\n3;\n0;0;0;,1;0;0;,0;1;0;;\n1;\n3;0,1,2;;\n"
                             "MeshMaterialList {\n1;\n1;\n7;;\n" +
                             mat + "}\n}\n");
    EXPECT_EQ(bad.attributes, (std::vector<std::uint32_t>{0}));
}

TEST(XMesh, DeclDataStandsInForMissingCoordinatesAndColours) {
    // Elements: FLOAT2 TEXCOORD 0 and D3DCOLOR COLOR 0, 3 DWORDs per vertex.
    std::string data;
    const float uvs[3][2] = {{0.25f, 0.5f}, {1, 0}, {0, 1}};
    for (int v = 0; v < 3; ++v) {
        std::uint32_t u, w;
        std::memcpy(&u, &uvs[v][0], 4);
        std::memcpy(&w, &uvs[v][1], 4);
        data += std::to_string(u) + "," + std::to_string(w) + "," + std::to_string(0xFF102030u) + (v < 2 ? "," : ";");
    }
    const XMesh m = meshOf("xof 0303txt 0032\nMesh {\n3;\n0;0;0;,1;0;0;,0;1;0;;\n1;\n3;0,1,2;;\n"
                           "DeclData {\n2;\n1;0;5;0;,\n4;0;10;0;;\n9;\n" +
                           data + ";\n}\n}\n");
    EXPECT_EQ(m.uvs[0], (std::array<float, 2>{0.25f, 0.5f}));
    EXPECT_EQ(m.colors[2], 0xFF102030u);
}

// Binary tokens by hand.
struct BinaryFile {
    std::vector<std::byte> bytes;
    ByteWriter w{bytes};
    explicit BinaryFile(const char* header) { w.text(header); }
    void name(const std::string& s) { w.u16(1), w.u32(std::uint32_t(s.size())), w.text(s); }
    void ints(std::initializer_list<std::uint32_t> v) {
        w.u16(6), w.u32(std::uint32_t(v.size()));
        for (auto x : v)
            w.u32(x);
    }
    void token(std::uint16_t t) { w.u16(t); }
};

TEST(XMesh, BinaryFilesReadDoublesAndEitherStringTerminator) {
    BinaryFile f("xof 0303bin 0064");
    f.name("Mesh");
    f.token(10);
    f.token(3), f.w.u32(3);  // a single INTEGER
    f.token(7), f.w.u32(9);
    for (double v : {1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.25, 8.0, 9.0})
        f.w.f64(v);
    f.ints({1});
    f.ints({3, 0, 1, 2});  // lists split anywhere
    f.name("MeshMaterialList");
    f.token(10);
    f.ints({1, 1, 0});
    f.name("Material");
    f.token(10);
    f.token(7), f.w.u32(11);
    for (int k = 0; k < 11; ++k)
        f.w.f64(k == 3 ? 0.5 : 1.0);
    f.name("TextureFilename");
    f.token(10);
    f.token(2), f.w.u32(5), f.w.text("a.bmp"), f.w.u32(20);  // terminator as a DWORD
    f.token(11);
    f.token(11);
    f.token(11);
    f.token(11);
    XMesh m;
    const auto error = build(f.bytes, m);
    ASSERT_FALSE(error.has_value()) << error->message();
    EXPECT_EQ(m.positions[2], (Vec{7.25f, 8, 9}));
    EXPECT_EQ(m.triangles, (std::vector<Tri>{{0, 1, 2}}));
    EXPECT_EQ(m.materials[0].texture, "a.bmp");
    EXPECT_EQ(m.materials[0].diffuse[3], 0.5f);

    BinaryFile bad("xof 0303bin 0032");
    bad.name("Mesh");
    bad.token(10);
    bad.token(4);  // not a token
    EXPECT_TRUE(build(bad.bytes, m).has_value());
    BinaryFile longList("xof 0303bin 0032");
    longList.name("Mesh");
    longList.token(10);
    longList.token(6), longList.w.u32(1000000);
    const auto refused = build(longList.bytes, m);
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->reason, "integer list passes the end of the file");
}

TEST(XMesh, BinaryNumberRunsSpanSeparatorsAndResumeAfterChildren) {
    BinaryFile f("xof 0303bin 0032");
    f.name("Outer");
    f.token(10);
    f.ints({1, 2});
    f.token(20);
    f.token(7), f.w.u32(1), f.w.f32(0.5f);
    f.token(19);
    f.token(3), f.w.u32(9);
    f.token(6), f.w.u32(0);  // an empty list inside the run
    f.name("Inner");
    f.token(10);
    f.ints({7});
    f.token(11);
    f.ints({3});
    f.token(11);
    XDocument doc;
    const auto error = parseX(f.bytes, doc);
    ASSERT_FALSE(error.has_value()) << error->message();
    ASSERT_EQ(doc.objects.size(), 2u);
    EXPECT_TRUE(std::ranges::equal(doc.objects[0].numbers, std::vector<double>{1, 2, 0.5, 9, 3}));
    EXPECT_TRUE(std::ranges::equal(doc.objects[1].numbers, std::vector<double>{7}));

    // A list that passes the end after good ones still fails the file.
    BinaryFile cut("xof 0303bin 0032");
    cut.name("Outer");
    cut.token(10);
    cut.ints({1, 2});
    cut.token(7), cut.w.u32(50), cut.w.f32(1);
    EXPECT_TRUE(parseX(cut.bytes, doc).has_value());
}

TEST(Mszip, BlocksReferBackIntoThePreviousBlock) {
    std::vector<std::byte> body(2 * kMszipBlockBytes + 100);
    std::mt19937 random(7);
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = i < kMszipBlockBytes / 2 ? std::byte(random() & 0xFF) : body[i - kMszipBlockBytes / 2];
    const std::vector<std::byte> header = test::bytesOf("xof 0303bzip0032");
    const std::vector<std::byte> file = deflateMszip(header, body);
    // Block 2 repeats the end of block 1: it is tiny only because it refers back.
    const std::size_t block2 = 24 + (std::size_t(file[22]) | std::size_t(file[23]) << 8);
    const std::size_t block2Packed = std::size_t(file[block2 + 2]) | std::size_t(file[block2 + 3]) << 8;
    EXPECT_LT(block2Packed, 1000u);
    HugePageVector<std::byte> out;
    ASSERT_FALSE(inflateMszip(file, out).has_value());
    EXPECT_TRUE(std::ranges::equal(out, body));
}

TEST(Mszip, RefusesBlocksThatDoNotMatchTheirSizes) {
    const std::vector<std::byte> header = test::bytesOf("xof 0303bzip0032");
    const std::vector<std::byte> body = test::bytesOf(std::string(5000, 'a') + "tail");
    const std::vector<std::byte> good = deflateMszip(header, body);
    HugePageVector<std::byte> out;
    ASSERT_FALSE(inflateMszip(good, out).has_value());

    std::vector<std::byte> longer = good;
    longer[20] = std::byte(std::uint8_t(longer[20]) + 1);  // the block and the total state one byte more
    longer[16] = std::byte(std::uint8_t(longer[16]) + 1);
    auto e = inflateMszip(longer, out);
    ASSERT_TRUE(e.has_value());
    EXPECT_NE(e->reason.find("inflates to 5004 bytes instead of 5005"), std::string::npos) << e->reason;

    std::vector<std::byte> shorter = good;
    shorter[20] = std::byte(std::uint8_t(shorter[20]) - 1);
    shorter[16] = std::byte(std::uint8_t(shorter[16]) - 1);
    e = inflateMszip(shorter, out);
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->reason, "compressed block inflates to more than 5003 bytes");

    std::vector<std::byte> wrongTotal = good;
    wrongTotal[16] = std::byte(std::uint8_t(wrongTotal[16]) + 1);
    ASSERT_TRUE(inflateMszip(wrongTotal, out).has_value());

    std::vector<std::byte> noSignature = good;
    noSignature[24] = std::byte{'X'};
    e = inflateMszip(noSignature, out);
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->reason, "compressed block lacks its CK signature");

    std::vector<std::byte> huge = good;
    huge[19] = std::byte{0x7F};  // about 2 GB stated
    EXPECT_TRUE(inflateMszip(huge, out).has_value());

    std::vector<std::byte> damaged = good;
    for (std::size_t i = 26; i < damaged.size(); ++i)
        damaged[i] = std::byte{0xFF};
    EXPECT_TRUE(inflateMszip(damaged, out).has_value());
}

}  // namespace
}  // namespace rv

// The X reader: materials become groups, faces become triangles in their material's group, and
// every encoding of the same file gives the same model.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "formats/x/x.h"
#include "formats/x/x_mesh.h"
#include "formats/x/x_mszip.h"
#include "formats/x/x_parser.h"
#include "model/textures.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

std::optional<FormatError> readText(const std::string& text, Model& m, ReadContext& ctx) {
    const std::vector<std::byte> bytes = test::bytesOf(text);
    return readX(bytes, m, ctx);
}

Model loadText(const std::string& text) {
    Model m;
    ReadContext ctx;
    const auto error = readText(text, m, ctx);
    EXPECT_FALSE(error.has_value()) << error->message();
    return m;
}

XMesh meshOf(const std::string& text) {
    const std::vector<std::byte> bytes = test::bytesOf(text);
    XDocument doc;
    XMesh mesh;
    auto error = parseX(bytes, doc);
    if (!error)
        error = buildXMesh(doc, mesh);
    EXPECT_FALSE(error.has_value()) << error->message();
    return mesh;
}

const std::string kTriangle = "Mesh {\n 3;\n 0.0;0.0;0.0;,\n 1.0;0.0;0.0;,\n 0.0;1.0;0.0;;\n 1;\n 3;0,1,2;;\n";

std::string material(const std::string& rgba, const std::string& texture = {}) {
    std::string s = "  Material {\n   " + rgba + ";;\n   10.0;\n   0.5;0.5;0.5;;\n   0.0;0.0;0.0;;\n";
    if (!texture.empty())
        s += "   TextureFilename {\n    \"" + texture + "\";\n   }\n";
    return s + "  }\n";
}

// Two triangles, one per material.
std::string twoMaterials(const std::string& texture) {
    return "xof 0303txt 0032\n"
           "Mesh {\n 4;\n 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;;\n 2;\n 3;0,1,2;, 3;0,2,3;;\n"
           " MeshMaterialList {\n  2;\n  2;\n  0,\n  1;\n" +
           material("0.2;0.4;0.6;1.0") + material("1.0;1.0;1.0;0.5", texture) + " }\n}\n";
}

TEST(XRead, MaterialsBecomeGroupsAndTexturesLoadAtOnce) {
    Model m;
    ReadContext ctx;
    std::vector<std::pair<int, std::string>> loads;
    ASSERT_FALSE(readText(twoMaterials("wood.bmp"), m, ctx).has_value());
    loadModelTextures(m, [&](Model& model, int entry, const std::string& name) {
        loads.emplace_back(entry, name);
        EXPECT_EQ(model.textures[std::size_t(entry)].fileName, name);  // the entry exists when it loads
        return true;
    });
    ASSERT_EQ(m.groupCount(), 2);
    EXPECT_EQ(m.groups[0].textureIndex, 0);
    EXPECT_EQ(m.groups[0].name, ModelGroup{}.name);
    EXPECT_FLOAT_EQ(m.groups[0].color.red, 0.2f * 255);
    EXPECT_FLOAT_EQ(m.groups[0].color.green, 0.4f * 255);
    EXPECT_FLOAT_EQ(m.groups[0].color.blue, 0.6f * 255);
    EXPECT_FLOAT_EQ(m.groups[0].color.alpha, 255);
    EXPECT_EQ(m.groups[0].edgeParam, 10);
    EXPECT_EQ(m.groups[0].textured, 0);
    EXPECT_EQ(m.groups[1].name, "wood");
    EXPECT_EQ(m.groups[1].textureIndex, 1);
    EXPECT_EQ(m.groups[1].textured, 1);  // drawn and exported with its texture
    EXPECT_FLOAT_EQ(m.groups[1].color.alpha, 127.5f);
    EXPECT_EQ(m.groups[1].edgeParam, 10);
    ASSERT_EQ(m.textureCount(), 2);
    EXPECT_EQ(m.textures[1].kind, 1);
    EXPECT_EQ(m.textures[1].fileName, "wood.bmp");
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(loads[0], (std::pair<int, std::string>{1, "wood.bmp"}));
    ASSERT_EQ(m.polygonCount(), 2);
    EXPECT_EQ(m.polygons[0].group, 0);
    EXPECT_EQ(m.polygons[1].group, 1);
    EXPECT_EQ(m.tint, (ModelColor{255, 255, 255, 255}));
    for (int b = 0; b < m.boneCount; ++b) {
        ASSERT_EQ(m.bones[std::size_t(b)].tracks.size(), 1u);
        EXPECT_EQ(m.bones[std::size_t(b)].tracks[0].keys.size(), 16u);
        EXPECT_EQ(m.bones[std::size_t(b)].tracks[0].keys[15], ModelBoneKey{});
    }
}

TEST(XRead, GroupNamesAreTextureNamesCutAtTheLastDot) {
    EXPECT_EQ(loadText(twoMaterials("tex/skin.old.png")).groups[1].name, "tex/skin.old");
    EXPECT_EQ(loadText(twoMaterials("tex/skin.old.png")).textures[1].fileName, "tex/skin.old.png");
    EXPECT_EQ(loadText(twoMaterials("noextension")).groups[1].name, "");
    EXPECT_EQ(loadText(twoMaterials("noextension")).groups[1].textureIndex, 1);
    // Stored as written: the backslashes of a text file stay doubled, the resolver copes.
    EXPECT_EQ(loadText(twoMaterials(".\\\\test.png")).textures[1].fileName, ".\\\\test.png");
    // An empty name is no texture.
    const Model empty = loadText(twoMaterials(""));
    EXPECT_EQ(empty.textureCount(), 1);
    EXPECT_EQ(empty.groups[1].textureIndex, 0);
    EXPECT_EQ(empty.groups[1].textured, 0);
}

TEST(XRead, FacesPastTheLimitAreDroppedWithAWarning) {
    std::string text = "xof 0303txt 0032\nMesh {\n4;\n0;0;0;,1;0;0;,1;1;0;,0;1;0;;\n70000;\n";
    for (int f = 0; f < 70000; ++f)
        text += f % 2 ? "3;0,2,3;,\n" : "3;0,1,2;,\n";
    text += ";\n}\n";
    test::RecordingSinks sinks;
    Model m;
    ReadContext ctx;
    ctx.path = "/models/big.x";
    ASSERT_FALSE(readText(text, m, ctx).has_value());
    EXPECT_EQ(m.polygonCount(), 65000);
    const std::string line = "/models/big.x : ポリゴン数 70000 ( 最大65000を超えています )";
    ASSERT_EQ(ctx.warnings.size(), 1u);
    EXPECT_EQ(ctx.warnings[0], line);
    EXPECT_TRUE(sinks.logged(line));
    EXPECT_EQ(m.fileName, "/models/big.x");
}

TEST(XRead, CliPrintsThePolygonLimitWarning) {
    test::TempDir dir;
    std::string text = "xof 0303txt 0032\nMesh {\n3;\n0;0;0;,1;0;0;,1;1;0;;\n65001;\n";
    for (int f = 0; f < 65001; ++f)
        text += "3;0,1,2;,\n";
    text += ";\n}\n";
    test::writeText(dir.file("many.x"), text);
    const std::string out = dir.file("stderr.txt");
    const std::string command = std::string(REVIZEVOZ_CLI) + " info " + dir.file("many.x") + " >/dev/null 2>" + out;
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::vector<std::byte> err = test::readBytes(out);
    const std::string printed(reinterpret_cast<const char*>(err.data()), err.size());
    EXPECT_NE(printed.find("warning: " + dir.file("many.x") + " : ポリゴン数 65001 ( 最大65000を超えています )"),
              std::string::npos)
        << printed;
}

TEST(XRead, VertexColoursTakeRgbAndAZeroAlphaGivesWhite) {
    const std::string text = "xof 0303txt 0032\n" + kTriangle +
                             " MeshVertexColors {\n  2;\n  0;1.0;0.0;0.0;0.5;;,\n  1;0.0;1.0;0.0;0.0;;;\n }\n}\n";
    const XMesh mesh = meshOf(text);
    ASSERT_EQ(mesh.colors.size(), 3u);
    EXPECT_EQ(mesh.colors[0], 0x80FF0000u);
    EXPECT_EQ(mesh.colors[1], 0x0000FF00u);
    EXPECT_EQ(mesh.colors[2], 0x00FFFFFFu);  // not listed
    const Model m = loadText(text);
    ASSERT_EQ(m.polygonCount(), 1);
    const auto& c = m.polygons[0].corners;
    EXPECT_EQ(m.colors[std::size_t(c[0].color)], (ModelColor{255, 0, 0, 255}));
    EXPECT_EQ(m.colors[std::size_t(c[1].color)], (ModelColor{255, 255, 255, 255}));
    EXPECT_EQ(m.colors[std::size_t(c[2].color)], (ModelColor{255, 255, 255, 255}));
}

TEST(XRead, AMeshWithoutColoursIsWhite) {
    const Model m = loadText("xof 0303txt 0032\n" + kTriangle + "}\n");
    ASSERT_EQ(m.colorCount(), 1);
    EXPECT_EQ(m.colors[0], (ModelColor{255, 255, 255, 255}));
    EXPECT_EQ(m.uvs[0], (ModelUV{0, 0}));
}

TEST(XRead, PositionsAndIndicesComeThroughUnchanged) {
    const std::string text =
        "xof 0303txt 0032\nMesh {\n 7;\n 9;9;9;, 9;9;8;, 9;9;7;, 9;9;6;, 1;2;3;, 4;5;6;, 7;8;9;;\n 1;\n 3;4,5,6;;\n}\n";
    const XMesh mesh = meshOf(text);
    ASSERT_EQ(mesh.triangles.size(), 1u);
    EXPECT_EQ(mesh.triangles[0], (std::array<std::uint32_t, 3>{4, 5, 6}));
    EXPECT_EQ(mesh.positions[4], (std::array<float, 3>{1, 2, 3}));
    const Model m = loadText(text);
    ASSERT_EQ(m.polygonCount(), 1);
    const ModelPolygon& p = m.polygons[0];
    EXPECT_EQ(p.cornerCount, 3);
    EXPECT_EQ(m.positions[std::size_t(p.corners[0].position)], (ModelVertex{1, 2, 3}));
    EXPECT_EQ(m.positions[std::size_t(p.corners[1].position)], (ModelVertex{4, 5, 6}));
    EXPECT_EQ(m.positions[std::size_t(p.corners[2].position)], (ModelVertex{7, 8, 9}));
    EXPECT_EQ(m.positionCount(), 3);  // welded: unused vertices go
}

// D3DX viewers draw without blending: a diffuse alpha of 0 and a mesh without materials (the
// loader's grey stand-in, alpha 0) show opaque, and would be invisible if taken as written.
TEST(XRead, MaterialsAreOpaqueAsViewersDrawThem) {
    const Model none = loadText("xof 0303txt 0032\n" + kTriangle + "}\n");
    ASSERT_EQ(none.groupCount(), 1);
    EXPECT_EQ(none.groups[0].color, (ModelColor{255, 255, 255, 255}));
    EXPECT_EQ(none.groups[0].textureIndex, 0);
    EXPECT_EQ(none.textureCount(), 1);

    const Model zero = loadText("xof 0303txt 0032\n" + kTriangle + " MeshMaterialList {\n  1;\n  1;\n  0;;\n" +
                                material("0.2;0.4;0.6;0.0") + " }\n}\n");
    EXPECT_EQ(zero.groups[0].color, (ModelColor{0.2f * 255, 0.4f * 255, 0.6f * 255, 255}));
    // Other alpha values stay: 0.5 in the second material of twoMaterials.
    EXPECT_FLOAT_EQ(loadText(twoMaterials("")).groups[1].color.alpha, 127.5f);

    // A mesh without materials between meshes with materials: its own white group.
    const std::string withRed = "Mesh {\n3;\n0;0;0;,1;0;0;,0;1;0;;\n1;\n3;0,1,2;;\nMeshMaterialList {\n1;\n1;\n0;;\n" +
                                material("1;0;0;0") + "}\n}\n";
    const Model mixed =
        loadText("xof 0303txt 0032\n" + withRed + "Mesh {\n3;\n0;0;1;,1;0;1;,0;1;1;;\n1;\n3;0,1,2;;\n}\n" + withRed);
    ASSERT_EQ(mixed.groupCount(), 3);
    EXPECT_EQ(mixed.groups[0].color, (ModelColor{255, 0, 0, 255}));
    EXPECT_EQ(mixed.groups[1].color, (ModelColor{255, 255, 255, 255}));
    EXPECT_EQ(mixed.groups[2].color, (ModelColor{255, 0, 0, 255}));
    ASSERT_EQ(mixed.polygonCount(), 3);
    EXPECT_EQ(mixed.polygons[1].group, 1);
}

TEST(XRead, MaterialsPastTheGroupLimitPutTheirFacesInTheFirstGroup) {
    std::string text = "xof 0303txt 0032\nMesh {\n3;\n0;0;0;,1;0;0;,0;1;0;;\n300;\n";
    for (int f = 0; f < 300; ++f)
        text += "3;0,1,2;,\n";
    text += ";\nMeshMaterialList {\n300;\n300;\n";
    for (int f = 0; f < 300; ++f)
        text += std::to_string(f) + (f + 1 < 300 ? ",\n" : ";\n");
    for (int f = 0; f < 300; ++f)
        text += material("1;1;1;1", "t" + std::to_string(f) + ".bmp");
    text += "}\n}\n";
    const Model m = loadText(text);
    EXPECT_EQ(m.groupCount(), 256);
    EXPECT_EQ(m.textureCount(), 256);  // entry 0 plus 255 textured materials
    EXPECT_EQ(m.groups[254].textureIndex, 255);
    EXPECT_EQ(m.groups[255].textureIndex, 0);
    EXPECT_EQ(m.groups[255].name, ModelGroup{}.name);
    EXPECT_EQ(m.polygons[255].group, 255);
    EXPECT_EQ(m.polygons[299].group, 0);
}

// The same triangles by hand as text, through our writer as binary, and both compressed.
const std::string kSmallText =
    "xof 0303txt 0032\n"
    "// written by hand\n"
    "Mesh {\n"
    " 6;\n"
    " 0.0;0.0;0.0;, 1.0;0.0;0.0;, 1.0;1.0;0.0;, 0.0;0.0;0.0;, 1.0;1.0;0.0;, 0.0;1.0;0.5;;\n"
    " 2;\n"
    " 3;0,1,2;, 3;3,4,5;;\n"
    " MeshNormals {\n  6;\n  0;0;1;, 0;0;1;, 0;0;1;, 0;0;1;, 0;0;1;, 0;0;1;;\n  2;\n  3;0,1,2;, 3;3,4,5;;\n }\n"
    " MeshTextureCoords {\n  6;\n  0;0;, 1;0;, 1;1;, 0;0;, 1;1;, 0;1;;\n }\n"
    " MeshMaterialList {\n  1;\n  2;\n  0,\n  0;\n"
    "  Material {\n   1.0;1.0;1.0;1.0;;\n   0.0;\n   0.0;0.0;0.0;;\n   0.0;0.0;0.0;;\n"
    "   TextureFilename {\n    \"tex\\\\wood.bmp\";\n   }\n  }\n }\n"
    "}\n";

void expectSameModel(const Model& a, const Model& b, const char* what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(a.positions, b.positions);
    EXPECT_EQ(a.normals, b.normals);
    EXPECT_EQ(a.colors, b.colors);
    EXPECT_EQ(a.uvs, b.uvs);
    EXPECT_EQ(a.skin, b.skin);
    ASSERT_EQ(a.polygonCount(), b.polygonCount());
    for (int i = 0; i < a.polygonCount(); ++i) {
        EXPECT_EQ(a.polygons[std::size_t(i)].cornerCount, b.polygons[std::size_t(i)].cornerCount);
        EXPECT_EQ(a.polygons[std::size_t(i)].corners, b.polygons[std::size_t(i)].corners);
        EXPECT_EQ(a.polygons[std::size_t(i)].group, b.polygons[std::size_t(i)].group);
    }
    ASSERT_EQ(a.groupCount(), b.groupCount());
    for (int i = 0; i < a.groupCount(); ++i) {
        EXPECT_EQ(a.groups[std::size_t(i)].name, b.groups[std::size_t(i)].name);
        EXPECT_EQ(a.groups[std::size_t(i)].color, b.groups[std::size_t(i)].color);
        EXPECT_EQ(a.groups[std::size_t(i)].textureIndex, b.groups[std::size_t(i)].textureIndex);
    }
    ASSERT_EQ(a.textureCount(), b.textureCount());
    for (int i = 0; i < a.textureCount(); ++i) {
        EXPECT_EQ(a.textures[std::size_t(i)].kind, b.textures[std::size_t(i)].kind);
        EXPECT_EQ(a.textures[std::size_t(i)].fileName, b.textures[std::size_t(i)].fileName);
    }
}

std::vector<std::byte> withHeader(const char* header, const std::vector<std::byte>& file) {
    const std::vector<std::byte> head = test::bytesOf(header);
    return deflateMszip(head, std::span(file).subspan(16));
}

TEST(XRead, TextBinaryAndCompressedFilesGiveTheSameModel) {
    const Model fromText = loadText(kSmallText);
    ASSERT_EQ(fromText.polygonCount(), 2);
    EXPECT_EQ(fromText.positionCount(), 4);
    EXPECT_EQ(fromText.groups[0].name, "tex\\\\wood");

    Model copy = fromText;
    WriteContext w;
    ASSERT_FALSE(writeX(copy, w).has_value());
    const std::vector<std::byte> binary = w.bytes;
    const std::vector<std::byte> text = test::bytesOf(kSmallText);
    struct Variant {
        const char* name;
        std::vector<std::byte> bytes;
    } variants[] = {
        {"binary", binary},
        {"bzip", withHeader("xof 0303bzip0032", binary)},
        {"tzip", withHeader("xof 0303tzip0032", text)},
        {"text, 0302 with 64-bit header", test::bytesOf("xof 0302txt 0064" + kSmallText.substr(16))},
    };
    for (const Variant& v : variants) {
        Model m;
        ReadContext ctx;
        const auto error = readX(v.bytes, m, ctx);
        ASSERT_FALSE(error.has_value()) << v.name << ": " << error->message();
        expectSameModel(fromText, m, v.name);
    }
}

TEST(XRead, RefusesMalformedFilesNamingTheProblem) {
    const std::string head = "xof 0303txt 0032\n";
    struct Case {
        const char* what;
        std::string text;
        const char* reason;
    } cases[] = {
        {"unbalanced braces", head + kTriangle, "file ends inside \"Mesh\""},
        {"a brace too many", head + kTriangle + "}\n}\n", "unexpected \"}\" outside any object"},
        {"unknown token", head + kTriangle + " @@ = ;\n}\n", nullptr},
        {"vertex count past the data", head + "Mesh {\n 4;\n 0;0;0;, 1;0;0;, 0;1;0;;\n 1;\n 3;0,1,2;;\n}\n",
         "passes the values that follow"},
        {"index past the vertices", head + "Mesh {\n 3;\n 0;0;0;, 1;0;0;, 0;1;0;;\n 1;\n 3;0,1,3;;\n}\n",
         "face 0 names vertex 3 of 3"},
        {"face count past the data", head + "Mesh {\n 3;\n 0;0;0;, 1;0;0;, 0;1;0;;\n 2;\n 3;0,1,2;;\n}\n",
         "face size is missing"},
        {"material count past the data",
         head + kTriangle + " MeshMaterialList {\n  1;\n  5;\n  0;;\n" + material("1;1;1;1") + " }\n}\n",
         "face index count 5"},
        {"short material",
         head + kTriangle + " MeshMaterialList {\n  1;\n  1;\n  0;;\n  Material {\n   1;1;1;1;;\n  }\n }\n}\n",
         "Material: 4 values instead of 11"},
        {"string not closed",
         head + kTriangle +
             " MeshMaterialList {\n  1;\n  1;\n  0;;\n  Material {\n   1;1;1;1;;\n   0;\n"
             "   0;0;0;;\n   0;0;0;;\n   TextureFilename {\n    \"a.bmp;\n   }\n  }\n }\n}\n",
         "string is not closed"},
        {"no mesh", head + "Frame root {\n}\n", "the file holds no mesh"},
        {"empty file", head, "the file holds no mesh"},
        {"old version", "xof 0102txt 0064\n" + kTriangle + "}\n", "unsupported .x version"},
        {"float size 0050", "xof 0303txt 0050\n" + kTriangle + "}\n", "unsupported float size"},
        {"cmp format", "xof 0303cmp 0032\n" + kTriangle + "}\n", "unsupported .x format"},
        {"not an .x file", "solid cube\nfacet normal 0 0 1\n", "not an .x file"},
        {"too short", "xof 0303", "too short"},
    };
    for (const Case& c : cases) {
        Model m;
        ReadContext ctx;
        const auto error = readText(c.text, m, ctx);
        ASSERT_TRUE(error.has_value()) << c.what;
        if (c.reason) {
            EXPECT_NE(error->reason.find(c.reason), std::string::npos) << c.what << ": " << error->reason;
        }
    }
}

TEST(XRead, TextErrorsGiveTheLine) {
    Model m;
    ReadContext ctx;
    const auto error =
        readText("xof 0303txt 0032\nMesh {\n 3;\n 0;0;0;, 1;0;0;, 0;1;0;;\n 1;\n 3;0,1,2;;\n}\n}\n", m, ctx);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->line, 8u);
    // Mesh errors point at their object.
    const auto meshError =
        readText("xof 0303txt 0032\n\n\nMesh {\n 3;\n 0;0;0;, 1;0;0;, 0;1;0;;\n 1;\n 3;0,1,3;;\n}\n", m, ctx);
    ASSERT_TRUE(meshError.has_value());
    EXPECT_EQ(meshError->line, 4u);
    EXPECT_EQ(meshError->offset, 19u);
}

TEST(XRead, RefusesOrLoadsEveryTruncationOfBinaryAndCompressedFiles) {
    Model small = loadText(kSmallText);
    WriteContext w;
    ASSERT_FALSE(writeX(small, w).has_value());
    for (const std::vector<std::byte>& whole : {w.bytes, withHeader("xof 0303bzip0032", w.bytes)}) {
        for (std::size_t n = 0; n < whole.size(); ++n) {
            const std::vector<std::byte> prefix(whole.begin(), whole.begin() + std::ptrdiff_t(n));
            Model m;
            ReadContext ctx;
            if (!readX(prefix, m, ctx).has_value()) {
                EXPECT_EQ(m.polygonCount(), 2) << "a " << n << "-byte prefix loaded in part";
            }
        }
    }
}

}  // namespace
}  // namespace rv

// The X writer: groups as materials, shared vertices, vertex colours where there are any, and the
// text, binary and compressed forms, each read back through our own parser and reader (Assimp's
// reading of them is checked over the corpus).
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/convert.h"
#include "formats/common/float_text.h"
#include "formats/x/x.h"
#include "formats/x/x_mesh.h"
#include "formats/x/x_mszip.h"
#include "formats/x/x_parser.h"
#include "formats/x/x_write.h"
#include "tests/support/make_model.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

using Tri = std::array<std::uint32_t, 3>;
using Vec = std::array<float, 3>;
constexpr XForm kForms[] = {XForm::Binary, XForm::Text, XForm::Compressed};

const char* formName(XForm form) {
    return form == XForm::Text ? "text" : form == XForm::Binary ? "binary" : "compressed";
}

std::vector<std::byte> write(const Model& model, XForm form = XForm::Binary, WriteContext* ctxOut = nullptr) {
    WriteContext ctx;
    ctx.outputPath = "out.X";
    ctx.xForm = form;
    const auto error = writeX(model, ctx);
    EXPECT_FALSE(error.has_value()) << error->message();
    if (ctxOut)
        *ctxOut = ctx;
    return ctx.bytes;
}

// `docOut`'s names point into `bytes`: they must outlive it.
XMesh reparse(const std::vector<std::byte>& bytes, XDocument* docOut = nullptr) {
    XDocument doc;
    XMesh mesh;
    auto error = parseX(bytes, doc);
    if (!error)
        error = buildXMesh(doc, mesh);
    EXPECT_FALSE(error.has_value()) << error->message();
    if (docOut)
        *docOut = std::move(doc);
    return mesh;
}

std::string headerOf(const std::vector<std::byte>& bytes) {
    return bytes.size() < 16 ? std::string() : std::string(reinterpret_cast<const char*>(bytes.data()), 16);
}

bool hasChild(const XDocument& doc, std::string_view type) {
    for (const XObject& o : doc.objects)
        if (o.type == type)
            return true;
    return false;
}

// A quad whose corners each have their own position, normal, colour and uv entry.
ModelPolygon quadOf(std::int32_t first, std::int32_t group = 0) {
    ModelPolygon p;
    p.cornerCount = 4;
    p.group = group;
    for (int c = 0; c < 4; ++c)
        p.corners[std::size_t(c)] = {first + c, 0, 0, first + c};
    return p;
}

TEST(XWrite, GroupsBecomeMaterialsWithColoursAndTextures) {
    Model model = test::makeSmallModel();  // quad in group 0, triangle in group 1
    model.groups.resize(4);
    model.groups[0].color = {255, 0, 0, 127.5f};
    model.textures.resize(3);
    model.textures[1] = {};
    model.textures[1].kind = 1;
    model.textures[1].fileName = "wood\\bark.bmp";
    model.textures[2].kind = 1;
    model.textures[2].fileName = "stone.bmp";
    for (int g : {1, 2}) {  // two groups drawn with entry 1, one group textured by a non-image
        model.groups[std::size_t(g)].textured = 1;
        model.groups[std::size_t(g)].textureIndex = 1;
    }
    model.groups[3].textureIndex = 2;  // not `textured`: drawn with its colour
    model.tint = {255, 255, 127.5f, 255};
    ModelPolygon stray = model.polygons[1];
    stray.group = 9;  // out of range: material 0
    model.polygons.push_back(stray);

    for (XForm form : kForms) {
        SCOPED_TRACE(formName(form));
        WriteContext ctx;
        const XMesh mesh = reparse(write(model, form, &ctx));
        ASSERT_EQ(mesh.materials.size(), 4u);
        EXPECT_EQ(mesh.materials[0].diffuse, (std::array<float, 4>{1, 0, 0, 0.5f}));
        EXPECT_FLOAT_EQ(mesh.materials[1].diffuse[2], 30.0f / 255 * 0.5f);  // tinted as the preview draws it
        EXPECT_FALSE(mesh.materials[0].hasTexture);
        EXPECT_EQ(mesh.materials[1].texture, "wood\\bark.bmp");
        EXPECT_EQ(mesh.materials[2].texture, "wood\\bark.bmp");
        EXPECT_FALSE(mesh.materials[3].hasTexture);
        EXPECT_EQ(mesh.materials[1].power, 0.0f);
        EXPECT_EQ(mesh.materials[1].specular, (std::array<float, 3>{0, 0, 0}));
        // Faces in material order (the loader's stable sort): quad, stray triangle, triangle.
        EXPECT_EQ(mesh.attributes, (std::vector<std::uint32_t>{0, 0, 0, 1}));
        // Entry 1 once, for the driver to put its image beside the output.
        ASSERT_EQ(ctx.namedImages.size(), 1u);
        EXPECT_EQ(ctx.namedImages[0].entry, 1);
        EXPECT_EQ(ctx.namedImages[0].fileName, "wood\\bark.bmp");
    }
}

TEST(XWrite, EqualCornersShareOneVertex) {
    Model model;
    model.positions = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}, {2, 1, 0}};
    model.uvs = {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {5, 5}};
    ModelPolygon quad = quadOf(0);
    ModelPolygon right = quadOf(0);  // 1-4-5-2: shares the edge 1-2, but with another uv at 2
    right.corners[0] = {1, 0, 0, 1};
    right.corners[1] = {4, 0, 0, 1};
    right.corners[2] = {5, 0, 0, 2};
    right.corners[3] = {2, 0, 0, 4};
    model.polygons = {quad, right};
    XMesh mesh = reparse(write(model));
    // The quad's triangles share 0 and 2; the second quad reuses vertex 1 but not 2 (uv differs).
    EXPECT_EQ(mesh.triangles, (std::vector<Tri>{{0, 1, 2}, {0, 2, 3}, {1, 4, 5}, {1, 5, 6}}));
    ASSERT_EQ(mesh.positions.size(), 7u);
    EXPECT_EQ(mesh.positions[6], (Vec{1, 1, 0}));
    EXPECT_EQ(mesh.uvs[6], (std::array<float, 2>{5, 5}));

    // Equal values under different indices share; +0.0 and -0.0 are different bits and do not.
    model.positions.push_back({2, 0, 0});  // 6: a copy of entry 4
    model.positions.push_back({-0.0f, 0, 0});  // 7: entry 0 with a negative zero
    ModelPolygon tri;
    tri.cornerCount = 3;
    tri.corners[0] = {6, 0, 0, 1};
    tri.corners[1] = {5, 0, 0, 2};
    tri.corners[2] = {7, 0, 0, 0};
    model.polygons.push_back(tri);
    mesh = reparse(write(model));
    EXPECT_EQ(mesh.positions.size(), 8u);
    EXPECT_EQ(mesh.triangles[4], (Tri{4, 5, 7}));

    // Corners past their tables (a damaged model) give zeros.
    model.polygons[0].corners[0] = {100, 100, -3, 100};
    mesh = reparse(write(model));
    EXPECT_EQ(mesh.positions[0], (Vec{0, 0, 0}));
    EXPECT_EQ(mesh.uvs[0], (std::array<float, 2>{0, 0}));
}

TEST(XWrite, VertexColoursOnlyWhenSomeAreNotWhite) {
    Model model = test::makeSmallModel();
    model.colors = {{255, 255, 255, 255}, {255, 255, 255, 255}};
    for (XForm form : kForms) {
        SCOPED_TRACE(formName(form));
        XDocument doc;  // its names point into the bytes
        const std::vector<std::byte> bytes = write(model, form);
        reparse(bytes, &doc);
        EXPECT_FALSE(hasChild(doc, "MeshVertexColors"));
    }
    model.colors[1] = {255, 0, 0, 255};  // the triangle's corners
    for (XForm form : kForms) {
        SCOPED_TRACE(formName(form));
        XDocument doc;
        const std::vector<std::byte> bytes = write(model, form);
        const XMesh mesh = reparse(bytes, &doc);
        EXPECT_TRUE(hasChild(doc, "MeshVertexColors"));
        Model back;
        ReadContext ctx;
        ASSERT_FALSE(readX(write(model, form), back, ctx).has_value());
        const ModelPolygon& tri = back.polygons.back();
        EXPECT_EQ(back.colors[std::size_t(tri.corners[0].color)], (ModelColor{255, 0, 0, 255}));
        EXPECT_EQ(back.colors[std::size_t(back.polygons[0].corners[0].color)], (ModelColor{255, 255, 255, 255}));
        EXPECT_EQ(mesh.colors.size(), mesh.positions.size());
    }
}

TEST(XWrite, LinesAreLeftOutWithAWarningAndAModelWithoutTrianglesIsRefused) {
    Model model = test::makeSmallModel();
    ModelPolygon line;
    line.cornerCount = 2;
    line.corners[1] = {3, 0, 0, 3};
    model.polygons.insert(model.polygons.begin() + 1, line);
    model.polygons.push_back(line);
    WriteContext ctx;
    EXPECT_EQ(reparse(write(model, XForm::Binary, &ctx)).triangles.size(), 3u);
    EXPECT_EQ(ctx.warnings, (std::vector<std::string>{"out.X: 2 lines and points are not kept by DirectX .x"}));
    EXPECT_TRUE(write(test::makeSmallModel(), XForm::Binary, &ctx).size() > 0);
    EXPECT_TRUE(ctx.warnings.empty());

    Model lines;
    lines.positions = {{0, 0, 0}, {1, 0, 0}};
    lines.polygons = {line};
    lines.polygons[0].corners[1].position = 1;
    WriteContext refused;
    const auto error = writeX(lines, refused);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->reason, "the model has no triangles to write");

    // Through the driver: the save fails and leaves no file behind.
    test::TempDir dir;
    const std::string path = dir.file("empty.X");
    const SaveOutcome outcome = saveModel(Model{}, ConversionTarget::X, path, SaveOptions{XForm::Text});
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(errorText(outcome.error), path + ": the model has no triangles to write");
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(XWrite, EveryFormReadsBackAsTheSameMesh) {
    Model model = test::makeSmallModel();
    model.textures.resize(2);
    model.textures[1].kind = 1;
    model.textures[1].fileName = "skin.png";
    model.groups[1].textured = 1;
    model.groups[1].textureIndex = 1;
    const char* headers[] = {"xof 0303bin 0032", "xof 0303txt 0032", "xof 0303bzip0032"};
    const XMesh binary = reparse(write(model));
    for (std::size_t f = 0; f < 3; ++f) {
        SCOPED_TRACE(formName(kForms[f]));
        const std::vector<std::byte> bytes = write(model, kForms[f]);
        EXPECT_EQ(headerOf(bytes), headers[f]);
        EXPECT_EQ(write(model, kForms[f]), bytes);  // two saves, the same bytes
        const XMesh mesh = reparse(bytes);
        EXPECT_EQ(mesh.positions, binary.positions);
        EXPECT_EQ(mesh.normals, binary.normals);
        EXPECT_EQ(mesh.uvs, binary.uvs);
        EXPECT_EQ(mesh.colors, binary.colors);
        EXPECT_EQ(mesh.triangles, binary.triangles);

        Model back;
        ReadContext ctx;
        ASSERT_FALSE(readX(bytes, back, ctx).has_value());
        ASSERT_EQ(back.polygonCount(), 3);
        const int source[] = {0, 1, 2, 0, 2, 3};  // the quad's fans (0, 1, 2), (0, 2, 3)
        for (int k = 0; k < 6; ++k) {
            const ModelCorner& c = back.polygons[std::size_t(k / 3)].corners[std::size_t(k % 3)];
            EXPECT_EQ(back.positions[std::size_t(c.position)], model.positions[std::size_t(source[k])]);
            EXPECT_EQ(back.uvs[std::size_t(c.uv)], model.uvs[std::size_t(source[k])]);
            EXPECT_EQ(back.polygons[std::size_t(k / 3)].group, 0);
        }
        EXPECT_EQ(back.polygons[2].group, 1);
        ASSERT_EQ(back.groupCount(), 2);
        EXPECT_EQ(back.groups[0].color, model.groups[0].color);
        EXPECT_EQ(back.groups[1].color, (ModelColor{10, 20, 30, 255}));
        EXPECT_EQ(back.groups[1].name, "skin");
        EXPECT_EQ(back.textures[std::size_t(back.groups[1].textureIndex)].fileName, "skin.png");
    }
}

TEST(XWrite, TextFloatsReadBackBitExact) {
    const float awkward[] = {0.1f, 1e-7f, 123456.79f, -0.0f, 1.0f / 3, 3.4028235e38f, 1.4e-45f, -2.5f, 16777216.0f};
    Model model;
    for (float v : awkward)
        model.positions.push_back({v, -v, v * 0.5f});
    ModelPolygon p;
    p.cornerCount = 3;
    for (std::size_t i = 0; i + 2 < model.positions.size(); ++i) {
        p.corners = {};
        for (int c = 0; c < 3; ++c)
            p.corners[std::size_t(c)].position = std::int32_t(i) + c;
        model.polygons.push_back(p);
    }
    const std::vector<std::byte> text = write(model, XForm::Text);
    const std::string s(reinterpret_cast<const char*>(text.data()), text.size());
    const std::size_t body = s.find("\nMesh {");
    EXPECT_EQ(s.find_first_of("eE", body + 3), s.find("MeshNormals {", body) + 1) << "an exponent in a position";
    const XMesh mesh = reparse(text);
    ASSERT_EQ(mesh.positions.size(), model.positions.size());
    for (std::size_t i = 0; i < model.positions.size(); ++i) {
        const ModelVertex& v = model.positions[i];
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(std::bit_cast<std::uint32_t>(mesh.positions[i][std::size_t(k)]),
                      std::bit_cast<std::uint32_t>(k == 0   ? v.x
                                                   : k == 1 ? v.y
                                                            : v.z))
                << "vertex " << i << " component " << k;
    }
    // The spellings every .x reader takes: digits, a point, digits.
    char buffer[kFloatTextChars];
    auto spelled = [&](float v) { return std::string(buffer, formatShortestFloat(buffer, v)); };
    EXPECT_EQ(spelled(0.1f), "0.1");
    EXPECT_EQ(spelled(1e-7f), "0.0000001");
    EXPECT_EQ(spelled(123456.79f), "123456.79");
    EXPECT_EQ(spelled(-0.0f), "-0.0");
    EXPECT_EQ(spelled(2.0f), "2.0");
    EXPECT_EQ(spelled(std::numeric_limits<float>::quiet_NaN()), "0.0");
}

TEST(XWrite, TextLeavesOutTextureNamesItCannotQuote) {
    Model model = test::makeSmallModel();
    model.textures.resize(2);
    model.textures[1].kind = 1;
    model.textures[1].fileName = "say \"cheese\".png";
    model.groups[0].textured = 1;
    model.groups[0].textureIndex = 1;
    WriteContext ctx;
    XMesh mesh = reparse(write(model, XForm::Text, &ctx));
    EXPECT_FALSE(mesh.materials[0].hasTexture);
    EXPECT_TRUE(ctx.namedImages.empty());
    ASSERT_EQ(ctx.warnings.size(), 1u);
    EXPECT_NE(ctx.warnings[0].find("say \"cheese\".png"), std::string::npos) << ctx.warnings[0];
    // Binary strings carry their length: the name is kept.
    mesh = reparse(write(model, XForm::Binary, &ctx));
    EXPECT_EQ(mesh.materials[0].texture, "say \"cheese\".png");
    EXPECT_TRUE(ctx.warnings.empty());
}

TEST(XWrite, LargeModelsCompressInBlocksOverThePreviousBlock) {
    const Model grid = test::makeQuadGrid(30000, 3);  // 60,000 triangles over 3 groups
    const std::vector<std::byte> binary = write(grid);
    const std::vector<std::byte> compressed = write(grid, XForm::Compressed);
    EXPECT_LT(compressed.size(), binary.size() / 2);
    HugePageVector<std::byte> body;
    ASSERT_FALSE(inflateMszip(compressed, body).has_value());
    ASSERT_GT(body.size(), 4 * kMszipBlockBytes);
    EXPECT_TRUE(std::equal(body.begin(), body.end(), binary.begin() + 16, binary.end()));
    const XMesh mesh = reparse(compressed);
    EXPECT_EQ(mesh.triangles.size(), 60000u);
    EXPECT_EQ(mesh.materials.size(), 3u);
    EXPECT_EQ(mesh.positions.size(), grid.positions.size());  // one vertex per grid position
}

TEST(XWrite, CliConvertsXFilesToEveryTargetAndEveryForm) {
    test::TempDir dir;
    const std::string source = std::string(REVIZEVOZ_TEST_DATA) + "/x/small_text.x";
    for (const char* target : {"kzp", "lwo", "mx", "x"}) {
        const std::string command = std::string(REVIZEVOZ_CLI) + " convert --to " + target + " --out-dir " +
                                    dir.path().string() + " " + source + " >/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << target;
    }
    for (const char* out : {"small_text.KZP", "small_text.LWO", "small_text.MX", "small_text.X"})
        EXPECT_TRUE(std::filesystem::is_regular_file(dir.file(out))) << out;
    const std::pair<const char*, const char*> forms[] = {{"binary", "bin "}, {"text", "txt "}, {"compressed", "bzip"}};
    for (const auto& [form, field] : forms) {
        const std::string command = std::string(REVIZEVOZ_CLI) + " convert --to x --x-format " + form + " --out-dir " +
                                    dir.path().string() + " " + source + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << form;
        const std::vector<std::byte> bytes = test::readBytes(dir.file("small_text.X"));
        EXPECT_EQ(headerOf(bytes).substr(8, 4), field);
        Model back;
        ReadContext ctx;
        ASSERT_FALSE(readX(bytes, back, ctx).has_value());
        EXPECT_EQ(back.polygonCount(), 4);
    }
}

}  // namespace
}  // namespace rv

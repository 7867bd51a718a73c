// The X writer: unshared fan triangles with one white material, in a binary layout that our
// reader and general importers accept.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/convert.h"
#include "app/load.h"
#include "formats/x/x.h"
#include "formats/x/x_mesh.h"
#include "formats/x/x_parser.h"
#include "tests/support/make_model.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

using Tri = std::array<std::uint32_t, 3>;
using Vec = std::array<float, 3>;

std::vector<std::byte> write(Model model) {
    WriteContext ctx;
    const auto error = writeX(model, ctx);
    EXPECT_FALSE(error.has_value()) << error->message();
    return ctx.bytes;
}

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

TEST(XWrite, QuadAndTriangleGiveThreeFacesOfNineVertices) {
    const Model model = test::makeSmallModel();  // a quad 0-1-2-3 and a triangle 1-4-2
    const std::vector<std::byte> bytes = write(model);
    ASSERT_GE(bytes.size(), 16u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), 16), "xof 0303bin 0032");
    XDocument doc;
    const XMesh mesh = reparse(bytes, &doc);
    EXPECT_EQ(doc.templates.size(), 11u);
    ASSERT_EQ(mesh.positions.size(), 9u);
    EXPECT_EQ(mesh.triangles, (std::vector<Tri>{{0, 1, 2}, {3, 4, 5}, {6, 7, 8}}));
    const int source[] = {0, 1, 2, 0, 2, 3, 1, 4, 2};  // fans (0, 1, 2), (0, 2, 3)
    for (int k = 0; k < 9; ++k) {
        const ModelVertex& p = model.positions[std::size_t(source[k])];
        EXPECT_EQ(mesh.positions[std::size_t(k)], (Vec{p.x, p.y, p.z})) << k;
    }
    // Texture coordinates and normals follow their corners.
    EXPECT_EQ(mesh.uvs[5], (std::array<float, 2>{0, 1}));
    EXPECT_EQ(mesh.uvs[7], (std::array<float, 2>{1, 0}));
    EXPECT_EQ(mesh.normals[4], (Vec{0, 0, 1}));
    ASSERT_EQ(mesh.materials.size(), 1u);
    EXPECT_EQ(mesh.materials[0].diffuse, (std::array<float, 4>{1, 1, 1, 1}));
    EXPECT_FALSE(mesh.materials[0].hasTexture);
    EXPECT_EQ(mesh.attributes, (std::vector<std::uint32_t>{0, 0, 0}));
}

TEST(XWrite, LinesAddNothingAndAModelWithoutTrianglesIsNotWritten) {
    Model model = test::makeSmallModel();
    ModelPolygon line;
    line.cornerCount = 2;
    line.corners[1] = {3, 0, 0, 3};
    model.polygons.insert(model.polygons.begin() + 1, line);
    EXPECT_EQ(reparse(write(model)).triangles.size(), 3u);

    Model lines;
    lines.positions = {{0, 0, 0}, {1, 0, 0}};
    lines.polygons = {line};
    lines.polygons[0].corners[1].position = 1;
    WriteContext ctx;
    const auto error = writeX(lines, ctx);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->reason, "the model has no triangles to write");

    // Through the driver: the save fails and leaves no file behind.
    test::TempDir dir;
    const std::string path = dir.file("empty.X");
    Model empty;
    const SaveOutcome outcome = saveModel(empty, ConversionTarget::X, path);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(errorText(outcome.error), path + ": the model has no triangles to write");  // no byte offset
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(XWrite, TheOneMaterialNamesTextureEntryOne) {
    Model model = test::makeSmallModel();
    model.textures.resize(3);
    model.textures[1].kind = 1;
    model.textures[1].fileName = "wood\\bark.bmp";
    model.textures[2].kind = 1;
    model.textures[2].fileName = "stone.bmp";
    model.groups[0].textureIndex = 1;
    model.groups[1].textureIndex = 2;
    XMesh mesh = reparse(write(model));
    ASSERT_EQ(mesh.materials.size(), 1u);
    EXPECT_TRUE(mesh.materials[0].hasTexture);
    EXPECT_EQ(mesh.materials[0].texture, "wood\\bark.bmp");

    model.textures[1].kind = 0;  // not an image: no texture
    mesh = reparse(write(model));
    EXPECT_FALSE(mesh.materials[0].hasTexture);
}

TEST(XWrite, VerticesAreNeverShared) {
    Model model;
    model.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};
    ModelPolygon a, b;
    a.cornerCount = b.cornerCount = 3;
    a.corners[0].position = 0, a.corners[1].position = 1, a.corners[2].position = 2;
    b.corners[0].position = 1, b.corners[1].position = 3, b.corners[2].position = 2;
    model.polygons = {a, b};
    const XMesh mesh = reparse(write(model));
    ASSERT_EQ(mesh.positions.size(), 6u);
    EXPECT_EQ(mesh.positions[1], mesh.positions[3]);
    EXPECT_EQ(mesh.positions[2], mesh.positions[5]);
    // No normals or uvs in the model: zeros, not garbage.
    EXPECT_EQ(mesh.normals[0], (Vec{0, 0, 0}));
}

TEST(XWrite, LargeModelsAreWrittenWhole) {
    const Model grid = test::makeQuadGrid(30000);  // 60,000 triangles, 180,000 vertices
    const XMesh mesh = reparse(write(grid));
    EXPECT_EQ(mesh.triangles.size(), 60000u);
    EXPECT_EQ(mesh.positions.size(), 180000u);
    EXPECT_EQ(mesh.triangles.back(), (Tri{179997, 179998, 179999}));
}

TEST(XWrite, ReadingBackGivesTheSameTriangles) {
    Model model = test::makeSmallModel();
    model.textures.resize(2);
    model.textures[1].kind = 1;
    model.textures[1].fileName = "skin.png";
    const std::vector<std::byte> bytes = write(model);
    Model back;
    ReadContext ctx;
    ASSERT_FALSE(readX(bytes, back, ctx).has_value());
    ASSERT_EQ(back.polygonCount(), 3);
    const int source[] = {0, 1, 2, 0, 2, 3, 1, 4, 2};
    for (int k = 0; k < 9; ++k) {
        const ModelCorner& c = back.polygons[std::size_t(k / 3)].corners[std::size_t(k % 3)];
        EXPECT_EQ(back.positions[std::size_t(c.position)], model.positions[std::size_t(source[k])]);
        EXPECT_EQ(back.colors[std::size_t(c.color)], (ModelColor{255, 255, 255, 255}));
    }
    ASSERT_EQ(back.groupCount(), 1);
    EXPECT_EQ(back.groups[0].color, (ModelColor{255, 255, 255, 255}));
    EXPECT_EQ(back.groups[0].name, "skin");
    EXPECT_EQ(back.textures[1].fileName, "skin.png");
    // Two saves give the same bytes.
    EXPECT_EQ(write(model), bytes);
}

// Faces as Assimp's command-line tool reports them, or -1 when it cannot read the file.
long assimpFaces(const std::string& path) {
    const std::string command = "assimp info '" + path + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    std::string output;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    if (pclose(pipe) != 0)
        return -1;
    const auto at = output.find("Faces:");
    return at == std::string::npos ? -1 : std::stol(output.substr(at + 6));
}

TEST(XWrite, AssimpReadsEveryFileWeWrite) {
    if (std::system("command -v assimp >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "assimp is not installed";
    test::TempDir dir;
    Model textured = test::makeSmallModel();
    textured.textures.resize(2);
    textured.textures[1].kind = 1;
    textured.textures[1].fileName = "tex\\skin.png";
    struct Case {
        const char* name;
        Model model;
        long faces;
    } cases[] = {
        {"small.x", test::makeSmallModel(), 3},
        {"textured.x", textured, 3},
        {"grid.x", test::makeQuadGrid(30000), 60000},
    };
    for (Case& c : cases) {
        const std::string path = dir.file(c.name);
        test::writeBytes(path, write(c.model));
        EXPECT_EQ(assimpFaces(path), c.faces) << c.name;
    }
}

TEST(XWrite, CliConvertsXFilesToEveryTargetAndModelsToX) {
    test::TempDir dir;
    const std::string source = std::string(REVIZEVOZ_TEST_DATA) + "/x/small_text.x";
    for (const char* target : {"kzp", "lwo", "mx", "x"}) {
        const std::string command = std::string(REVIZEVOZ_CLI) + " convert --to " + target + " --out-dir " +
                                    dir.path().string() + " " + source + " >/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << target;
    }
    for (const char* out : {"small_text.KZP", "small_text.LWO", "small_text.MX", "small_text.X"})
        EXPECT_TRUE(std::filesystem::is_regular_file(dir.file(out))) << out;
    // And back: the written .X reads with its 4 triangles.
    Model back;
    ReadContext ctx;
    ASSERT_FALSE(readX(test::readBytes(dir.file("small_text.X")), back, ctx).has_value());
    EXPECT_EQ(back.polygonCount(), 4);
}

}  // namespace
}  // namespace rv

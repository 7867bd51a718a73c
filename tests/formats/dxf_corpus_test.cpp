// DXF files written by other tools: each reads with its known face count (or is refused when it
// holds no 3DFACE) and converts to every target through the command-line program.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "formats/dxf/dxf.h"
#include "formats/kzp/kzp.h"
#include "formats/lwo/lwo.h"
#include "formats/mx/mx.h"
#include "formats/x/x.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

namespace fs = std::filesystem;

struct CorpusFile {
    const char* path;  // under the corpus's dxf folder
    int faces;  // 0: no 3DFACE, refused
};

const CorpusFile kFiles[] = {
    {"assimp/rifle.dxf", 572},  // strict 10..33 order, triangles
    {"assimp/PinkEggFromLW.dxf", 288},  // 13 .. 10 order, code 70 first
    {"assimp/lineTest.dxf", 2},  // codes 8 and 62 before 10, a LINE
    {"vreng/man.dxf", 3012},  // every face inside a BLOCK placed at the origin
    {"assimp/issue_2229.dxf", 0},      {"vreng/cube.dxf", 0}, {"vreng/bridge.dxf", 0}, {"assimp/points.dxf", 0},
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

// Converts `source` with the command-line program; the exit status.
int convert(const fs::path& source, const char* target) {
    const std::string command =
        std::string("'") + REVIZEVOZ_CLI + "' convert --to " + target + " '" + source.string() + "' >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return status == -1 ? -1 : WEXITSTATUS(status);
}

TEST(DxfCorpus, FilesConvertToEveryTarget) {
    if (test::corpusDir().empty() || !fs::exists(test::corpusDir() / "dxf"))
        GTEST_SKIP() << "no corpus";
    struct Target {
        const char* name;
        const char* extension;
        ReadFn read;
    };
    const Target targets[] = {
        {"kzp", "KZP", readKzp}, {"lwo", "LWO", readLwo}, {"mx", "MX", readMx}, {"x", "X", readX}};
    for (const CorpusFile& f : kFiles) {
        test::TempDir dir;
        const fs::path source = test::copyWithNeighbours(corpusFile(f), dir.path());
        for (const Target& t : targets) {
            const fs::path output = dir.path() / (source.stem().string() + "." + t.extension);
            const int status = convert(source, t.name);
            if (f.faces == 0) {
                EXPECT_EQ(status, 1) << f.path << " to " << t.name;
                EXPECT_FALSE(fs::exists(output)) << f.path;
                continue;
            }
            // An MX file holds at most 2,000 polygons.
            if (std::string(t.name) == "mx" && f.faces > 2000) {
                EXPECT_EQ(status, 1) << f.path << " to " << t.name;
                continue;
            }
            ASSERT_EQ(status, 0) << f.path << " to " << t.name;
            ASSERT_TRUE(fs::exists(output)) << f.path << " to " << t.name;
            Model back;
            ReadContext ctx;
            ctx.path = output.string();
            const auto err = t.read(test::readBytes(output.string()), back, ctx);
            ASSERT_FALSE(err.has_value()) << f.path << " to " << t.name << ": " << err->message();
            EXPECT_GT(back.polygonCount(), 0) << f.path << " to " << t.name;
            if (std::string(t.name) == "kzp") {
                EXPECT_EQ(back.polygonCount(), f.faces) << f.path;
            }
        }
    }
}

}  // namespace
}  // namespace rv

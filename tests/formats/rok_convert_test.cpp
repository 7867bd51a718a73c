// A hand-made ROK file converts to every target through the command-line program, and a refused
// file writes nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "formats/kzp/kzp.h"
#include "formats/lwo/lwo.h"
#include "formats/mx/mx.h"
#include "formats/x/x.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

namespace fs = std::filesystem;

int convert(const fs::path& source, const char* target) {
    const std::string command =
        std::string("'") + REVIZEVOZ_CLI + "' convert --to " + target + " '" + source.string() + "' >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return status == -1 ? -1 : WEXITSTATUS(status);
}

TEST(RokConvert, CubeConvertsToEveryTarget) {
    test::TempDir dir;
    const fs::path source = dir.path() / "cube.rok";
    test::writeBytes(source.string(), test::readBytes(std::string(REVIZEVOZ_TEST_DATA) + "/rok/cube.rok"));
    struct Target {
        const char* name;
        const char* extension;
        ReadFn read;
    };
    const Target targets[] = {
        {"kzp", "KZP", readKzp}, {"lwo", "LWO", readLwo}, {"mx", "MX", readMx}, {"x", "X", readX}};
    for (const Target& t : targets) {
        ASSERT_EQ(convert(source, t.name), 0) << t.name;
        const fs::path output = dir.path() / (std::string("cube.") + t.extension);
        ASSERT_TRUE(fs::exists(output)) << t.name;
        Model back;
        ReadContext ctx;
        ctx.path = output.string();
        const auto err = t.read(test::readBytes(output.string()), back, ctx);
        ASSERT_FALSE(err.has_value()) << t.name << ": " << err->message();
        EXPECT_GT(back.polygonCount(), 0) << t.name;
    }
    Model kzp;
    ReadContext ctx;
    ASSERT_FALSE(readKzp(test::readBytes(dir.file("cube.KZP")), kzp, ctx).has_value());
    EXPECT_EQ(kzp.polygonCount(), 6);
    EXPECT_EQ(kzp.positionCount(), 24);
}

TEST(RokConvert, RefusedFileWritesNothing) {
    test::TempDir dir;
    const fs::path source = dir.path() / "broken.rok";
    test::writeText(source.string(), "POINT\n1\n0\n0\n0\n0\n1\n2\n3\nLINE0\n");
    EXPECT_EQ(convert(source, "kzp"), 1);
    EXPECT_FALSE(fs::exists(dir.path() / "broken.KZP"));
}

}  // namespace
}  // namespace rv

// Runs the built revizevoz-cli as a user would.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>

#include "formats/kzp/kzp.h"
#include "tests/support/make_model.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

struct CliRun {
    int status = -1;
    std::string out;
};

CliRun runCli(const std::string& args) {
    CliRun run;
    const std::string command = std::string(REVIZEVOZ_CLI) + " " + args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return run;
    std::array<char, 4096> buffer;
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        run.out.append(buffer.data(), n);
    const int rc = ::pclose(pipe);
    run.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return run;
}

void writeSmallKzp(const std::string& path) {
    Model m = test::makeSmallModel();
    WriteContext ctx;
    ASSERT_FALSE(writeKzp(m, ctx).has_value());
    test::writeBytes(path, ctx.bytes);
}

TEST(Cli, UsageErrorsExitTwo) {
    EXPECT_EQ(runCli("").status, 2);
    EXPECT_EQ(runCli("frobnicate a.kzp").status, 2);
    EXPECT_EQ(runCli("convert a.kzp").status, 2);
    EXPECT_EQ(runCli("convert --to obj a.kzp").status, 2);
    EXPECT_EQ(runCli("convert --to kzp").status, 2);
    EXPECT_EQ(runCli("convert --to kzp --bogus a.kzp").status, 2);
    EXPECT_EQ(runCli("info").status, 2);
    EXPECT_EQ(runCli("--help").status, 0);
}

TEST(Cli, ConvertPrintsOneLinePerFileAndExitsOneWhenAnyFails) {
    test::TempDir dir;
    writeSmallKzp(dir.file("a.kzp"));
    test::writeText(dir.file("b.obj"), "v 0 0 0");
    const CliRun ok = runCli("convert --to kzp " + dir.file("a.kzp"));
    EXPECT_EQ(ok.status, 0) << ok.out;
    EXPECT_NE(ok.out.find(dir.file("a.kzp") + " -> " + dir.file("a.KZP")), std::string::npos) << ok.out;
    const CliRun mixed = runCli("convert --to kzp " + dir.file("b.obj") + " " + dir.file("a.kzp"));
    EXPECT_EQ(mixed.status, 1);
    EXPECT_NE(mixed.out.find("revizevoz-cli: " + dir.file("b.obj")), std::string::npos) << mixed.out;
    EXPECT_FALSE(std::filesystem::exists(dir.file("b.KZP")));
}

TEST(Cli, OutDirCollectsTheOutputs) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.path() / "out");
    writeSmallKzp(dir.file("a.kzp"));
    const CliRun run = runCli("convert --to kzp --out-dir " + dir.file("out") + " " + dir.file("a.kzp"));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(std::filesystem::exists(dir.file("out/a.KZP")));
}

TEST(Cli, InfoJsonHasTheCountsAndBounds) {
    test::TempDir dir;
    writeSmallKzp(dir.file("a.kzp"));
    const CliRun run = runCli("info --json " + dir.file("a.kzp"));
    ASSERT_EQ(run.status, 0) << run.out;
    for (const char* key : {"\"fileName\"", "\"revision\": 2009000", "\"polygonCount\": 2", "\"groupCount\": 2",
                            "\"textureCount\": 1", "\"positionCount\": 5", "\"normalCount\"", "\"colorCount\": 2",
                            "\"uvCount\": 4", "\"boneCount\": 2", "\"motionCount\": 1", "\"boundsMin\": [0, 0, 0]",
                            "\"boundsMax\": [2, 1, 0]", "\"renderMode\": 3"})
        EXPECT_NE(run.out.find(key), std::string::npos) << key << " in " << run.out;
}

}  // namespace
}  // namespace rv

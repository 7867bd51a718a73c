// Runs the built revizevoz-cli as a user would.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "formats/kzp/kzp.h"
#include "tests/support/make_model.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

struct CliRun {
    int status = -1;
    std::string out;
};

// Runs the CLI with `args`, in folder `cwd` when given, with `env` ("NAME=value ...") set.
CliRun runCli(const std::string& args, const std::string& cwd = {}, const std::string& env = {}) {
    CliRun run;
    const std::string command = (cwd.empty() ? "" : "cd '" + cwd + "' && ") + (env.empty() ? "" : "env " + env + " ") +
                                std::string(REVIZEVOZ_CLI) + " " + args + " 2>&1";
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
    EXPECT_EQ(runCli("convert --to fbx a.kzp").status, 2);
    EXPECT_EQ(runCli("convert --to kzp").status, 2);
    EXPECT_EQ(runCli("convert --to kzp --bogus a.kzp").status, 2);
    EXPECT_EQ(runCli("info").status, 2);
    EXPECT_EQ(runCli("--help").status, 0);
    const CliRun help = runCli("render --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("revizevoz-cli render -o OUT.png"), std::string::npos) << help.out;
    EXPECT_EQ(help.out.find("[--verbose] FILE...\n       revizevoz-cli thumbnail"), std::string::npos) << help.out;
}

TEST(Cli, ConvertPrintsOneLinePerFileAndExitsOneWhenAnyFails) {
    test::TempDir dir;
    writeSmallKzp(dir.file("a.kzp"));
    test::writeText(dir.file("b.fbx"), "v 0 0 0");
    const CliRun ok = runCli("convert --to kzp " + dir.file("a.kzp"));
    EXPECT_EQ(ok.status, 0) << ok.out;
    EXPECT_NE(ok.out.find(dir.file("a.kzp") + " -> " + dir.file("a.KZP")), std::string::npos) << ok.out;
    const CliRun mixed = runCli("convert --to kzp " + dir.file("b.fbx") + " " + dir.file("a.kzp"));
    EXPECT_EQ(mixed.status, 1);
    EXPECT_NE(mixed.out.find("revizevoz-cli: " + dir.file("b.fbx")), std::string::npos) << mixed.out;
    EXPECT_FALSE(std::filesystem::exists(dir.file("b.KZP")));
}

TEST(Cli, ConvertingAFileToItselfIsRefusedAndTheRestConverts) {
    test::TempDir dir;
    writeSmallKzp(dir.file("a.KZP"));
    writeSmallKzp(dir.file("b.kzp"));
    const std::vector<std::byte> before = test::readBytes(dir.file("a.KZP"));
    const CliRun run = runCli("convert --to kzp ./a.KZP b.kzp", dir.path().string());
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("revizevoz-cli: ./a.KZP: not converted: the output would replace the source file"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("b.kzp -> b.KZP"), std::string::npos) << run.out;
    EXPECT_EQ(test::readBytes(dir.file("a.KZP")), before);
}

TEST(Cli, OutDirCollectsTheOutputsAndIsCreatedWhenMissing) {
    test::TempDir dir;
    writeSmallKzp(dir.file("a.kzp"));
    const CliRun run = runCli("convert --to kzp --out-dir " + dir.file("out/deeper") + " " + dir.file("a.kzp"));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(std::filesystem::exists(dir.file("out/deeper/a.KZP")));
}

TEST(Cli, MisspelledOptionsTargetsAndCommandsSuggestTheNearest) {
    EXPECT_NE(runCli("convert --to kzp --outdir x a.kzp").out.find("did you mean --out-dir?"), std::string::npos);
    EXPECT_NE(runCli("convert --to lwp a.kzp").out.find("did you mean lwo?"), std::string::npos);
    EXPECT_NE(runCli("conver --to kzp a.kzp").out.find("did you mean convert?"), std::string::npos);
    const CliRun help = runCli("--help");
    for (const char* part : {"kzp|lwo|mx|x", ".dxf .lwo .mqo .mx .rok .x .glb .gltf .obj .kzp", "--out-dir", "--json"})
        EXPECT_NE(help.out.find(part), std::string::npos) << part << " in " << help.out;
}

// Names as the user gave them, each message once.
TEST(Cli, RelativeNamesStayRelativeAndARevisionMessageIsPrintedOnce) {
    test::TempDir dir;
    writeSmallKzp(dir.file("a.kzp"));
    test::writeText(dir.file("old.kzp"), std::string("KZP\x38\x90\x1e\x00", 7));  // revision 2003000
    test::writeText(dir.file("blank.mqo"), "Metasequoia Document\nFormat Text Ver 1.0\nEof\n");
    const CliRun run = runCli("convert --to lwo a.kzp old.kzp blank.mqo", dir.path().string());
    const std::string& out = run.out;
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(out.find("a.kzp -> a.LWO\n"), std::string::npos) << out;
    const std::string message = "revizevoz-cli: old.kzp: KZP 2004 以上に対応しています。";
    ASSERT_NE(out.find(message), std::string::npos) << out;
    EXPECT_EQ(out.find(message, out.find(message) + 1), std::string::npos) << out;
    EXPECT_NE(out.find("revizevoz-cli: warning: blank.mqo: no polygons were read"), std::string::npos) << out;
    EXPECT_EQ(out.find(dir.path().string()), std::string::npos) << out;
}

TEST(Cli, InfoJsonHasTheCountsAndBounds) {
    test::TempDir dir;
    writeSmallKzp(dir.file("a.kzp"));
    const CliRun run = runCli("info --json " + dir.file("a.kzp"));
    ASSERT_EQ(run.status, 0) << run.out;
    for (const char* key : {"\"fileName\": \"a.kzp\"", "\"revision\": 2009000", "\"polygonCount\": 2",
                            "\"groupCount\": 2", "\"textureCount\": 1", "\"positionCount\": 5", "\"normalCount\"",
                            "\"colorCount\": 2", "\"uvCount\": 4", "\"boneCount\": 2", "\"motionCount\": 1",
                            "\"boundsMin\": [0, 0, 0]", "\"boundsMax\": [2, 1, 0]", "\"renderMode\": 3"})
        EXPECT_NE(run.out.find(key), std::string::npos) << key << " in " << run.out;
}

}  // namespace
}  // namespace rv

namespace rv {
namespace {

TEST(Cli, RenderWritesTheSamePngEachTimeAndFailsCleanlyWithoutAContext) {
    test::TempDir dir;
    std::filesystem::copy_file(std::string(REVIZEVOZ_TEST_DATA) + "/../../samples/cube.mqo", dir.file("cube.mqo"));
    const CliRun first = runCli("render cube.mqo -o a.png --size 160x90 --fit --frames 3", dir.path().string());
    if (first.status == 1 && first.out.find("Could not initialize") != std::string::npos)
        GTEST_SKIP() << "no OpenGL context here: " << first.out;
    ASSERT_EQ(first.status, 0) << first.out;
    ASSERT_EQ(runCli("render cube.mqo -o b.png --size 160x90 --fit --frames 3", dir.path().string()).status, 0);
    const std::vector<std::byte> a = test::readBytes(dir.file("a.png")), b = test::readBytes(dir.file("b.png"));
    ASSERT_GT(a.size(), 8u);
    EXPECT_EQ(std::memcmp(a.data(), "\x89PNG", 4), 0);
    EXPECT_EQ(a, b) << "the same input must give the same bytes";

    EXPECT_EQ(runCli("render cube.mqo", dir.path().string()).status, 2);
    EXPECT_EQ(runCli("render cube.mqo -o c.png --size 0x90", dir.path().string()).status, 2);
    EXPECT_EQ(runCli("render cube.mqo -o c.png --yaw left", dir.path().string()).status, 2);

    // No EGL vendor to be found: no context, the message, exit 1 and no picture.
    const CliRun bare =
        runCli("render cube.mqo -o c.png", dir.path().string(), "__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json");
    EXPECT_EQ(bare.status, 1) << bare.out;
    EXPECT_NE(bare.out.find("Could not initialize"), std::string::npos) << bare.out;
    EXPECT_FALSE(std::filesystem::exists(dir.file("c.png")));
}

// The size in a PNG's IHDR, or 0 when the bytes are no PNG.
std::pair<std::uint32_t, std::uint32_t> pngSize(const std::vector<std::byte>& png) {
    if (png.size() < 24 || std::memcmp(png.data(), "\x89PNG", 4) != 0)
        return {0, 0};
    auto be32 = [&](std::size_t at) {
        return std::uint32_t(png[at]) << 24 | std::uint32_t(png[at + 1]) << 16 | std::uint32_t(png[at + 2]) << 8 |
               std::uint32_t(png[at + 3]);
    };
    return {be32(16), be32(20)};
}

TEST(Cli, ThumbnailServesFileManagerSizesAndRefusesNonsense) {
    test::TempDir dir;
    std::filesystem::copy_file(std::string(REVIZEVOZ_TEST_DATA) + "/../../samples/cube.mqo", dir.file("cube.mqo"));
    const CliRun first = runCli("thumbnail cube.mqo t.png", dir.path().string());
    if (first.status == 1 && first.out.find("Could not initialize") != std::string::npos)
        GTEST_SKIP() << "no OpenGL context here: " << first.out;
    ASSERT_EQ(first.status, 0) << first.out;
    EXPECT_EQ(pngSize(test::readBytes(dir.file("t.png"))), std::make_pair(256u, 256u));
    for (const std::uint32_t size : {128u, 512u, 1024u}) {
        const std::string out = "t" + std::to_string(size) + ".png";
        ASSERT_EQ(runCli("thumbnail cube.mqo " + out + " " + std::to_string(size), dir.path().string()).status, 0);
        EXPECT_EQ(pngSize(test::readBytes(dir.file(out))), std::make_pair(size, size));
    }
    for (const char* args : {"cube.mqo", "cube.mqo n.png 0", "cube.mqo n.png -256", "cube.mqo n.png 256px",
                             "cube.mqo n.png big", "cube.mqo n.png 100000", "cube.mqo n.png 256 256"})
        EXPECT_EQ(runCli(std::string("thumbnail ") + args, dir.path().string()).status, 2) << args;
    EXPECT_FALSE(std::filesystem::exists(dir.file("n.png")));
}

TEST(Cli, ThumbnailOfWhatItCannotDrawWritesNothing) {
    test::TempDir dir;
    test::writeText(dir.file("keep.png"), "the thumbnail from before");
    test::writeText(dir.file("bad.kzp"), "KZP");
    test::writeText(dir.file("notes.txt"), "not a model");
    test::writeText(dir.file("empty.mqo"), "Metasequoia Document\nFormat Text Ver 1.0\n\nEof\n");
    // Over 100 MiB: skipped by its size, never read (the file is sparse).
    test::writeText(dir.file("huge.mqo"), "");
    std::filesystem::resize_file(dir.file("huge.mqo"), (std::uintmax_t(100) << 20) + 1);
    for (const auto& [file, says] : {std::pair{"bad.kzp", "bad.kzp"},
                                     {"notes.txt", "not a model file"},
                                     {"empty.mqo", "no polygons"},
                                     {"huge.mqo", "100 MiB"},
                                     {"gone.mqo", "gone.mqo"}}) {
        const CliRun r = runCli(std::string("thumbnail ") + file + " keep.png", dir.path().string());
        EXPECT_EQ(r.status, 1) << file << ": " << r.out;
        EXPECT_NE(r.out.find(says), std::string::npos) << file << ": " << r.out;
        EXPECT_EQ(test::readBytes(dir.file("keep.png")), test::bytesOf("the thumbnail from before")) << file;
    }
}

TEST(Cli, SimplifyFitsAModelOverTheLimitsAndSaysByHowMuch) {
    test::TempDir dir;
    test::writeText(dir.file("big.obj"), test::gridObj(500, 200));

    const CliRun refused = runCli("convert --to kzp big.obj", dir.path().string());
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find("big.obj: 200,000 polygons; a model holds at most 65,000"), std::string::npos)
        << refused.out;
    EXPECT_NE(refused.out.find("--simplify"), std::string::npos) << refused.out;
    EXPECT_FALSE(std::filesystem::exists(dir.file("big.KZP")));

    const CliRun simplified = runCli("convert --to kzp --simplify big.obj", dir.path().string());
    EXPECT_EQ(simplified.status, 0) << simplified.out;
    EXPECT_NE(simplified.out.find("warning: big.obj: simplified from 200,000 to "), std::string::npos)
        << simplified.out;
    EXPECT_NE(simplified.out.find("big.obj -> big.KZP"), std::string::npos) << simplified.out;
    const CliRun info = runCli("info --json big.KZP", dir.path().string());
    ASSERT_EQ(info.status, 0) << info.out;
    const auto at = info.out.find("\"polygonCount\": ");
    ASSERT_NE(at, std::string::npos) << info.out;
    EXPECT_LE(std::stoi(info.out.substr(at + 16)), kMaxPolygons) << info.out;
}

}  // namespace
}  // namespace rv

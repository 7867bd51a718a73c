// The one load function: a path into a load result, with bounded input.
#include "app/convert.h"
#include "app/load.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>

#include "formats/common/file_io.h"
#include "formats/kzp/kzp.h"
#include "model/mesh.h"
#include "model/registry.h"
#include "model/simplify.h"
#include "runtime/paths.h"
#include "tests/support/make_model.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

using namespace std::chrono_literals;

// A 2x1 24-bit BMP.
std::vector<std::byte> smallBmp() {
    const unsigned char bmp[] = {
        'B',  'M',  62, 0, 0, 0, 0, 0,  0, 0, 54, 0, 0, 0, 40,  0, 0,   0,    2,    0, 0,
        0,    1,    0,  0, 0, 1, 0, 24, 0, 0, 0,  0, 0, 8, 0,   0, 0,   0x13, 0x0B, 0, 0,
        0x13, 0x0B, 0,  0, 0, 0, 0, 0,  0, 0, 0,  0, 0, 0, 255, 0, 255, 0,    0,    0,
    };
    const auto* p = reinterpret_cast<const std::byte*>(bmp);
    return std::vector<std::byte>(p, p + sizeof bmp);
}

const char* kTexturedMqo = "Metasequoia Document\nFormat Text Ver 1.0\n"
                           "Material 1 {\n\t\"wood\" col(1 1 1 1) tex(\"Wood.bmp\")\n}\n"
                           "Object \"tri\" {\n\tvertex 3 {\n\t\t0 0 0\n\t\t1 0 0\n\t\t0 1 0\n\t}\n"
                           "\tface 1 {\n\t\t3 V(0 1 2) M(0) UV(0 0 1 0 0 1)\n\t}\n}\nEof\n";

TEST(LoadModelFile, ReadsDecodesTexturesAndLeavesTheRegistryAlone) {
    test::TempDir dir;
    test::writeText(dir.file("tri.mqo"), kTexturedMqo);
    test::writeBytes(dir.file("wood.bmp"), smallBmp());  // other case than the model names it
    const int slotsBefore = registry().count();

    const LoadResult r = loadModelFile(dir.file("tri.mqo"));
    ASSERT_NE(r.model, nullptr) << r.error->message();
    EXPECT_EQ(registry().count(), slotsBefore);
    EXPECT_EQ(r.model->fileName, "tri.mqo");
    EXPECT_EQ(r.model->folder, dir.path().string());
    EXPECT_EQ(r.model->polygonCount(), 1);
    ASSERT_EQ(r.model->textureCount(), 2);
    EXPECT_EQ(r.model->textures[1].width, 2);
    ASSERT_EQ(r.instance.textures.size(), 2u);
    EXPECT_EQ(r.instance.textures[1].width, 2);
    EXPECT_EQ(r.instance.textures[1].rgba.size(), 8u);
    EXPECT_EQ(r.instance.bones.size(), 2u);
    EXPECT_FALSE(r.instance.playback.animating);  // only KZP models start their motion
    EXPECT_TRUE(r.warnings.empty());
}

// Readers take bytes and touch no file: read from memory into a model whose folder does not
// exist, a corpus file comes out as the driver loads it from disk.
TEST(LoadModelFile, ReadersNeedNothingButTheBytes) {
    namespace fs = std::filesystem;
    const fs::path corpus = test::corpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus";
    int compared = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
        const ReaderEntry* reader = entry.is_regular_file() ? readerForName(entry.path().string()) : nullptr;
        if (!reader)
            continue;
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        const LoadResult loaded = loadModelFile(path);

        const std::vector<std::byte> bytes = test::readBytes(path);
        Model m;
        m.folder = "/nonexistent/reader-contract";
        m.fileName = fileNameOf(path);
        m.path = joinPath(m.folder, m.fileName);
        ReadContext ctx;
        ctx.path = path;
        // Files a model names beside it (an OBJ's .mtl) come only through this callback.
        ctx.companion = [folder = directoryOf(path)](const std::string& name, std::string& why) {
            const auto found = resolveModelFile(folder, name);
            why = found ? "" : name + " was not found";
            return found ? readFile(*found, &why) : std::nullopt;
        };
        const std::optional<FormatError> error = reader->read(bytes, m, ctx);
        if (!error && limitExcess(m))
            continue;  // glTF and OBJ read past the model's limits; the loader applies them
        ASSERT_EQ(error.has_value(), loaded.model == nullptr) << (error ? error->message() : loaded.error->message());
        if (error)
            continue;
        const Model& expected = *loaded.model;
        EXPECT_EQ(m.polygonCount(), expected.polygonCount());
        EXPECT_EQ(m.groupCount(), expected.groupCount());
        EXPECT_EQ(m.textureCount(), expected.textureCount());

        m.fileName = expected.fileName;
        ModelInstance instance;
        postLoad(m, instance);
        WriteContext fromBytes, fromDisk;
        ASSERT_FALSE(writeKzp(m, fromBytes));
        ASSERT_FALSE(writeKzp(expected, fromDisk));
        EXPECT_TRUE(fromBytes.bytes == fromDisk.bytes) << "the KZP output differs";
        ++compared;
    }
    EXPECT_GT(compared, 0);
}

TEST(LoadModelFile, ErrorsNameTheFileAsGivenAndRelativeStaysRelative) {
    test::TempDir dir;
    test::writeText(dir.file("bad.kzp"), std::string("KZP\x38\x90\x1e\x00", 7));  // revision 2003000
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const LoadResult r = loadModelFile("bad.kzp");
    const LoadResult missing = loadModelFile("missing.mqo");
    std::filesystem::current_path(cwd);
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.model, nullptr);
    EXPECT_EQ(r.error->file, "bad.kzp");
    EXPECT_TRUE(r.error->userMessage);  // the revision message, shown once by whoever asked
    ASSERT_TRUE(missing.error);
    EXPECT_EQ(missing.error->message().rfind("missing.mqo: cannot be opened", 0), 0u) << missing.error->message();
}

TEST(LoadModelFile, KzpRevisionsTheReaderRefusesAreWordedForTheUser) {
    test::TempDir dir;
    WriteContext ctx;
    ASSERT_FALSE(writeKzp(test::makeSmallModel(), ctx));
    const std::string path = dir.file("a.kzp");
    const std::pair<std::int32_t, std::string> cases[] = {
        {2004001, "KZP 2004 以上に対応しています。\n\n" + path},
        {2009001,
         "KZP形式のバージョンが新しいので\n読み込むことができません。\n最新版へバージョンアップして下さい。\n\n" +
             path},
        {2007000, "KZP形式のバージョン 2007000 には対応していません。\n\n" + path},
    };
    for (const auto& [revision, text] : cases) {
        std::memcpy(ctx.bytes.data() + 3, &revision, 4);
        test::writeBytes(path, ctx.bytes);
        const LoadResult r = loadModelFile(path);
        ASSERT_TRUE(r.error) << revision;
        EXPECT_EQ(r.error->reason, text);
        EXPECT_EQ(r.error->message(), path + ": " + text);
    }
}

TEST(LoadModelFile, WhatIsNotARegularFileIsRefusedAtOnce) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.path() / "folder.mqo");
    std::filesystem::create_symlink("/dev/zero", dir.path() / "zero.x");
    ASSERT_EQ(::mkfifo(dir.file("pipe.dxf").c_str(), 0600), 0);
    for (const char* name : {"folder.mqo", "zero.x", "pipe.dxf"}) {
        const auto start = std::chrono::steady_clock::now();
        const LoadResult r = loadModelFile(dir.file(name));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << name;
        ASSERT_TRUE(r.error) << name;
        EXPECT_EQ(r.error->message(), dir.file(name) + ": not a regular file");
        // The window's path refuses it before anything is queued.
        const LoadOutcome out = test::loadCurrent(dir.file(name));
        EXPECT_EQ(out.model, nullptr);
        ASSERT_TRUE(out.error);
        EXPECT_EQ(out.error->reason, "not a regular file");
    }
    registry().releaseAll();
}

TEST(LoadModelFile, AFileOverTheLimitIsRefusedWithoutReadingIt) {
    test::TempDir dir;
    {
        std::FILE* f = std::fopen(dir.file("huge.kzp").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    // Sparse: no disk is used, and nothing of it may be read.
    ASSERT_EQ(::truncate(dir.file("huge.kzp").c_str(), off_t((1LL << 30) + 1)), 0);
    const LoadResult r = loadModelFile(dir.file("huge.kzp"));
    ASSERT_TRUE(r.error);
    EXPECT_NE(r.error->reason.find("over the limit of 1 GiB"), std::string::npos) << r.error->reason;
}

TEST(LoadModelFile, AModelWithoutPolygonsFromANonEmptyFileWarns) {
    test::TempDir dir;
    test::writeText(dir.file("empty.mqo"), "Metasequoia Document\nFormat Text Ver 1.0\nEof\n");
    const LoadResult r = loadModelFile(dir.file("empty.mqo"));
    ASSERT_NE(r.model, nullptr);
    EXPECT_EQ(r.warnings, (std::vector<std::string>{dir.file("empty.mqo") + ": no polygons were read"}));
    test::writeText(dir.file("empty.txt"), "x");
    EXPECT_TRUE(loadModelFile(dir.file("empty.txt")).warnings.empty());  // unknown extensions load empty
}

// A model over the limits, as the glTF and OBJ readers hand it to the loader.
TEST(FitToLimits, RefusesAModelOverTheLimitsUnlessAskedToSimplify) {
    const Model big = test::makeSeamedGrid(500, 200);
    std::vector<std::string> warnings;
    Model m = big;
    const std::optional<FormatError> refused = fitToLimits(m, "big.obj", false, warnings);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->message(), "big.obj: 200,000 polygons; a model holds at most 65,000");
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(m.polygonCount(), 200000);

    EXPECT_FALSE(fitToLimits(m, "big.obj", true, warnings));
    EXPECT_LE(m.polygonCount(), kMaxPolygons);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].rfind("big.obj: simplified from 200,000 to " + withThousands(std::size_t(m.polygonCount())) +
                                    " polygons (error ",
                                0),
              0u)
        << warnings[0];

    // A model that fits is left alone; one that cannot be made to fit is still refused.
    warnings.clear();
    Model small = test::makeSmallModel();
    EXPECT_FALSE(fitToLimits(small, "small.obj", true, warnings));
    EXPECT_EQ(small.positionCount(), 5);
    EXPECT_TRUE(warnings.empty());
    Model lines;
    lines.positions = {{0, 0, 0}, {1, 0, 0}};
    ModelPolygon line;
    line.cornerCount = 2;
    line.corners[1].position = 1;
    lines.polygons.assign(70000, line);
    const std::optional<FormatError> still = fitToLimits(lines, "lines.obj", true, warnings);
    ASSERT_TRUE(still);
    EXPECT_EQ(still->message(), "lines.obj: 70,000 polygons; a model holds at most 65,000 even when simplified");
}

TEST(LoadModelFile, AnObjOverTheLimitsLoadsOnlyWhenAskedToSimplify) {
    test::TempDir dir;
    test::writeText(dir.file("big.obj"), test::gridObj(500, 200));
    const LoadResult refused = loadModelFile(dir.file("big.obj"));
    EXPECT_EQ(refused.model, nullptr);
    EXPECT_TRUE(refused.overLimits);
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->message(), dir.file("big.obj") + ": 200,000 polygons; a model holds at most 65,000");

    const LoadResult simplified = loadModelFile(dir.file("big.obj"), LoadOptions{true});
    ASSERT_NE(simplified.model, nullptr) << simplified.error->message();
    EXPECT_FALSE(simplified.overLimits);
    EXPECT_LE(simplified.model->polygonCount(), kMaxPolygons);
    EXPECT_EQ(simplified.model->boundsMin.x, 0.0f);  // post-load ran on the reduced model
    EXPECT_EQ(simplified.model->boundsMin.z, -200.0f);  // OBJ z is negated on reading
    ASSERT_FALSE(simplified.warnings.empty());
    EXPECT_NE(simplified.warnings.back().find("big.obj: simplified from 200,000 to "), std::string::npos);
}

}  // namespace
}  // namespace rv

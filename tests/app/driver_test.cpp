#include "app/convert.h"
#include "app/current_model.h"
#include "app/load.h"
#include "app/overlay.h"

#include <gtest/gtest.h>

#include "formats/kzp/kzp.h"
#include "model/registry.h"
#include "tests/support/make_model.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

// Writes a small valid KZP file.
void writeSmallKzp(const std::string& path) {
    Model m = test::makeSmallModel();
    WriteContext ctx;
    ASSERT_FALSE(writeKzp(m, ctx).has_value());
    test::writeBytes(path, ctx.bytes);
}

TEST(ReaderTable, ExtensionsMatchWithoutRegardToCaseInTableOrder) {
    const auto& table = readerTable();
    const char* order[] = {"dxf", "lwo", "mqo", "mx", "rok", "x", "glb", "gltf", "obj", "kzp"};
    ASSERT_EQ(table.size(), std::size(order));
    for (std::size_t i = 0; i < std::size(order); ++i)
        EXPECT_STREQ(table[i].extension, order[i]);
    ASSERT_NE(readerForName("A.MQO"), nullptr);
    EXPECT_STREQ(readerForName("A.MQO")->extension, "mqo");
    EXPECT_STREQ(readerForName("dir.x/model.Kzp")->extension, "kzp");
    EXPECT_STREQ(readerForName("model.GLTF")->extension, "gltf");
    EXPECT_EQ(readerForName("model.fbx"), nullptr);
    EXPECT_EQ(readerForName("x"), nullptr);
}

TEST(OutputNames, OnlyTheLastExtensionIsReplaced) {
    EXPECT_EQ(outputPathFor("/m/a.b.kzp", ConversionTarget::Kzp), "/m/a.b.KZP");
    EXPECT_EQ(outputPathFor("/m/a.mqo", ConversionTarget::Lwo), "/m/a.LWO");
    EXPECT_EQ(outputPathFor("a.mqo", ConversionTarget::Mx), "a.MX");
    EXPECT_EQ(outputPathFor("/m/a.mqo", ConversionTarget::X, "/out"), "/out/a.X");
    // A name without an extension keeps its name rather than becoming ".KZP".
    EXPECT_EQ(outputPathFor("/m/model", ConversionTarget::Kzp), "/m/model.KZP");
}

TEST(Overlay, ModelLinesOnlyWhileAModelIsCurrent) {
    EXPECT_EQ(overlayLines(nullptr).size(), 2u);
    Model m = test::makeSmallModel();
    const auto lines = overlayLines(&m);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0].text, "ファイル名 : 新規.KZP");
    EXPECT_EQ(lines[1].text, "ポリゴン　 : 2");
    EXPECT_EQ(lines[2].text, "グループ　 : 2");
    EXPECT_EQ(lines[3].text, "テクスチャ : 1");
    EXPECT_EQ(lines[3].y, 80);
    EXPECT_TRUE(lines[5].fromBottom);
    EXPECT_EQ(lines[5].y, 25);
}

TEST(LoadByPath, LoadsIntoSlotZeroAndReplacesTheCurrentModel) {
    test::TempDir dir;
    writeSmallKzp(dir.file("a.kzp"));
    writeSmallKzp(dir.file("b.KZP"));
    LoadOutcome first = test::loadCurrent(dir.file("a.kzp"));
    ASSERT_NE(first.model, nullptr);
    EXPECT_EQ(first.model, registry().get(0));
    EXPECT_EQ(currentModel(), first.model);
    EXPECT_EQ(first.model->polygonCount(), 2);
    EXPECT_EQ(first.model->fileName, "a.kzp");
    EXPECT_EQ(first.model->folder, dir.path().string());
    LoadOutcome second = test::loadCurrent(dir.file("b.KZP"));
    ASSERT_NE(second.model, nullptr);
    EXPECT_EQ(second.model, registry().get(0));
    EXPECT_EQ(second.model->fileName, "b.KZP");
    EXPECT_EQ(registry().count(), 1);
    // A KZP model plays its first motion once loaded.
    EXPECT_TRUE(registry().instance(0)->playback.animating);
}

TEST(LoadByPath, UnknownExtensionLoadsAnEmptyModel) {
    test::TempDir dir;
    test::writeText(dir.file("notes.txt"), "hello");
    LoadOutcome out = test::loadCurrent(dir.file("notes.txt"));
    ASSERT_NE(out.model, nullptr);
    EXPECT_EQ(out.model->polygonCount(), 0);
    EXPECT_EQ(out.model->groupCount(), 1);
}

TEST(LoadByPath, RefusedFileGivesNoCurrentModel) {
    test::TempDir dir;
    test::writeText(dir.file("bad.kzp"), "KZP\x01\x00\x00\x00");
    LoadOutcome out = test::loadCurrent(dir.file("bad.kzp"));
    EXPECT_EQ(out.model, nullptr);
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.error->file, dir.file("bad.kzp"));
    EXPECT_EQ(currentModel(), nullptr);
    EXPECT_EQ(test::loadCurrent(dir.file("missing.kzp")).model, nullptr);
}

TEST(LoadByPath, TheLoadsWarningsReachTheCaller) {
    test::TempDir dir;
    test::writeText(dir.file("t.mqo"), "Metasequoia Document\nFormat Text Ver 1.0\n"
                                       "Material 1 {\n\t\"m\" col(1 1 1 1) tex(\"gone.png\")\n}\n"
                                       "Object \"tri\" {\n\tvertex 3 {\n\t\t0 0 0\n\t\t1 0 0\n\t\t0 1 0\n\t}\n"
                                       "\tface 1 {\n\t\t3 V(0 1 2) M(0)\n\t}\n}\nEof\n");
    const LoadOutcome out = test::loadCurrent(dir.file("t.mqo"));
    ASSERT_NE(out.model, nullptr);
    EXPECT_FALSE(out.error);
    EXPECT_EQ(out.warnings, (std::vector<std::string>{
                                dir.file("t.mqo") + ": texture file gone.png was not found or could not be decoded"}));
}

TEST(ConvertDropped, EachFileBesideItsSourceAndFailuresDoNotStopTheBatch) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.path() / "one");
    std::filesystem::create_directories(dir.path() / "two");
    writeSmallKzp(dir.file("one/a.kzp"));
    test::writeText(dir.file("two/broken.kzp"), "KZP");
    writeSmallKzp(dir.file("two/c.b.kzp"));
    // An existing output of a file that fails to load must survive.
    test::writeText(dir.file("two/victim.KZP"), "precious");
    test::writeText(dir.file("two/victim.mx"), "not an mx file");

    std::vector<std::size_t> progress;
    ConvertOptions options;
    options.target = ConversionTarget::Kzp;
    const auto reports = convertFiles(
        {dir.file("one/a.kzp"), dir.file("two/broken.kzp"), dir.file("two/victim.mx"), dir.file("two/c.b.kzp")},
        options, test::loadCurrent, [&](std::size_t done, std::size_t total, const ConvertReport&) {
            EXPECT_EQ(total, 4u);
            progress.push_back(done);
        });
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_TRUE(reports[0].ok) << errorText(reports[0].error);
    EXPECT_EQ(reports[0].output, dir.file("one/a.KZP"));
    EXPECT_FALSE(reports[1].ok);
    EXPECT_FALSE(reports[2].ok);
    EXPECT_TRUE(reports[3].ok) << errorText(reports[3].error);
    EXPECT_EQ(reports[3].output, dir.file("two/c.b.KZP"));
    EXPECT_TRUE(std::filesystem::exists(dir.file("two/c.b.KZP")));
    EXPECT_EQ(test::readBytes(dir.file("two/victim.KZP")), test::bytesOf("precious"));
    EXPECT_EQ(progress, (std::vector<std::size_t>{1, 2, 3, 4}));
}

TEST(ConvertDropped, UnknownExtensionIsRefusedAndNothingWritten) {
    test::TempDir dir;
    test::writeText(dir.file("a.foo"), "whatever");
    const auto reports = convertFiles({dir.file("a.foo")}, ConvertOptions{}, test::loadCurrent);
    EXPECT_FALSE(reports[0].ok);
    EXPECT_FALSE(std::filesystem::exists(dir.file("a.KZP")));
}

TEST(SaveCurrent, WriterFailureLeavesTheExistingFileAlone) {
    test::TempDir dir;
    writeSmallKzp(dir.file("a.kzp"));
    ASSERT_NE(test::loadCurrent(dir.file("a.kzp")).model, nullptr);
    const SaveOutcome bad = saveModel(*currentModel(), ConversionTarget::Kzp, dir.file("missing/folder/a.KZP"));
    EXPECT_FALSE(bad.ok);
    EXPECT_NE(errorText(bad.error).find("missing/folder/a.KZP"), std::string::npos);
}

}  // namespace
}  // namespace rv

namespace rv {
namespace {

// A source whose output would be the source itself is left alone, however the paths are spelled.
TEST(SameFile, AConversionNeverReplacesItsSource) {
    test::TempDir dir;
    writeSmallKzp(dir.file("a.KZP"));
    writeSmallKzp(dir.file("b.kzp"));
    std::filesystem::create_directory_symlink(dir.path(), dir.file("alias"));
    const std::vector<std::byte> before = test::readBytes(dir.file("a.KZP"));
    std::filesystem::permissions(dir.file("a.KZP"), std::filesystem::perms::owner_read);

    ConvertOptions options;
    options.target = ConversionTarget::Kzp;
    for (const std::string& outDir : {std::string(), dir.file("."), dir.file("alias")}) {
        options.outDir = outDir;
        const auto reports = convertFiles({dir.file("a.KZP"), dir.file("b.kzp")}, options, test::loadCurrent);
        ASSERT_EQ(reports.size(), 2u);
        EXPECT_FALSE(reports[0].ok);
        EXPECT_EQ(errorText(reports[0].error),
                  dir.file("a.KZP") + ": not converted: the output would replace the source file");
        EXPECT_TRUE(reports[1].ok) << errorText(reports[1].error);  // the rest of the batch goes on
    }
    EXPECT_EQ(test::readBytes(dir.file("a.KZP")), before);
    EXPECT_EQ(std::filesystem::status(dir.file("a.KZP")).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read);
    EXPECT_TRUE(isSameFile(dir.file("a.KZP"), dir.file("alias/./a.KZP")));
    EXPECT_FALSE(isSameFile(dir.file("a.KZP"), dir.file("missing.KZP")));
}

TEST(LossWarnings, NameWhatTheTargetDrops) {
    Model m = test::makeSmallModel();
    m.groups[0].textured = 1;
    m.groups[0].textureIndex = 1;
    m.textures.push_back(ModelTexture{});
    m.textures[1].kind = 1;
    m.textures[1].fileName = "wood.png";
    m.colors = {{9, 9, 9, 255}, {9, 9, 9, 255}};  // one polygon colour: one LWO surface
    EXPECT_EQ(lossWarning(m, ConversionTarget::Lwo, "m.LWO"),
              "m.LWO: textures, normals and texture coordinates are not kept by LWOB; 2 groups become 1 surface");
    EXPECT_EQ(lossWarning(m, ConversionTarget::X, "m.X"), "");  // a material per group
    EXPECT_EQ(lossWarning(m, ConversionTarget::Mqo, "m.mqo"), "m.mqo: normals are not kept by MQO");
    EXPECT_EQ(lossWarning(m, ConversionTarget::Kzp, "m.KZP"), "");
    m.boneCount = 5;
    EXPECT_EQ(lossWarning(m, ConversionTarget::Mx, "m.MX"), "m.MX: the skeleton and motions are not kept by MX");
}

TEST(LoadModelFile, TexturesThatCannotBeHadAreOneWarning) {
    test::TempDir dir;
    test::writeText(
        dir.file("t.mqo"),
        "Metasequoia Document\nFormat Text Ver 1.0\nMaterial 2 {\n"
        "\t\"a\" col(1 1 1 1) tex(\"gone.png\")\n\t\"b\" col(1 1 1 1) tex(\"broken.bmp\")\n}\n"
        "Object \"o\" {\n\tvertex 3 {\n\t\t0 0 0\n\t\t1 0 0\n\t\t0 1 0\n\t}\n"
        "\tface 2 {\n\t\t3 V(0 1 2) M(0) UV(0 0 1 0 0 1)\n\t\t3 V(0 2 1) M(1) UV(0 0 1 0 0 1)\n\t}\n}\nEof\n");
    test::writeText(dir.file("broken.bmp"), "BM but not an image");
    const LoadResult result = loadModelFile(dir.file("t.mqo"));
    ASSERT_NE(result.model, nullptr);
    ASSERT_EQ(result.warnings.size(), 1u);
    EXPECT_EQ(result.warnings[0],
              dir.file("t.mqo") + ": texture files gone.png, broken.bmp were not found or could not be decoded");
}

}  // namespace
}  // namespace rv

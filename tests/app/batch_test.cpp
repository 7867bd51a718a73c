// The window's batch of dropped files and folders, without a window.
#include "app/batch.h"

#include <gtest/gtest.h>

#include "formats/kzp/kzp.h"
#include "tests/support/make_model.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

namespace fs = std::filesystem;

void writeSmallKzp(const std::string& path) {
    Model m = test::makeSmallModel();
    WriteContext ctx;
    ASSERT_FALSE(writeKzp(m, ctx).has_value());
    test::writeBytes(path, ctx.bytes);
}

TEST(DropBatch, FoldersGiveTheirModelFilesAndOtherFilesAreSkipped) {
    test::TempDir dir;
    fs::create_directories(dir.path() / "drop/sub");
    fs::create_directories(dir.path() / "drop/.hidden");
    writeSmallKzp(dir.file("drop/sub/b.kzp"));
    writeSmallKzp(dir.file("drop/a.kzp"));
    writeSmallKzp(dir.file("drop/.hidden/c.kzp"));
    writeSmallKzp(dir.file("drop/.d.kzp"));
    writeSmallKzp(dir.file("drop/same.KZP"));  // its output would be itself
    test::writeText(dir.file("drop/notes.txt"), "not a model");
    test::writeText(dir.file("loose.txt"), "not a model either");
    const std::vector<std::byte> same = test::readBytes(dir.file("drop/same.KZP"));

    const DroppedFiles found = modelFilesIn({dir.file("drop"), dir.file("loose.txt")});
    EXPECT_EQ(found.models, (std::vector<std::string>{dir.file("drop/a.kzp"), dir.file("drop/same.KZP"),
                                                      dir.file("drop/sub/b.kzp")}));
    EXPECT_EQ(found.skipped, (std::vector<std::string>{dir.file("drop/notes.txt"), dir.file("loose.txt")}));

    DropBatch batch({});
    batch.add({dir.file("drop"), dir.file("loose.txt")}, ConversionTarget::Kzp);
    while (batch.poll(true)) {
    }
    const std::vector<ConvertReport> reports = batch.takeReports();
    ASSERT_EQ(reports.size(), 5u);
    std::size_t converted = 0;
    for (const ConvertReport& r : reports)
        converted += r.ok ? 1 : 0;
    EXPECT_EQ(converted, 2u);
    EXPECT_TRUE(fs::exists(dir.file("drop/a.KZP")));
    EXPECT_TRUE(fs::exists(dir.file("drop/sub/b.KZP")));
    EXPECT_FALSE(fs::exists(dir.file("drop/notes.KZP")));
    EXPECT_FALSE(fs::exists(dir.file("drop/.hidden/c.KZP")));
    EXPECT_EQ(test::readBytes(dir.file("drop/same.KZP")), same);

    const std::string message = batchFailureMessage(reports);
    EXPECT_NE(message.find(dir.file("drop/notes.txt") + ": not a model file"), std::string::npos) << message;
    EXPECT_NE(message.find(dir.file("loose.txt") + ": not a model file"), std::string::npos) << message;
    EXPECT_NE(message.find(dir.file("drop/same.KZP") + ": not converted: the output would replace the source file"),
              std::string::npos)
        << message;
}

TEST(DropBatch, AsksOnceWhetherToSimplifyTheModelsOverTheLimits) {
    test::TempDir dir;
    const std::string obj = test::gridObj(300, 120);  // 72,000 triangles
    test::writeText(dir.file("a.obj"), obj);
    test::writeText(dir.file("b.obj"), obj);
    writeSmallKzp(dir.file("c.kzp"));
    for (const bool answer : {false, true}) {
        std::vector<std::string> asked;
        DropBatch batch({nullptr, nullptr, nullptr, [&](const std::string& refusal) {
                             asked.push_back(refusal);
                             return answer;
                         }});
        batch.add({dir.file("a.obj"), dir.file("b.obj"), dir.file("c.kzp")}, ConversionTarget::Lwo);
        while (batch.poll(true)) {
        }
        const std::vector<ConvertReport> reports = batch.takeReports();
        ASSERT_EQ(asked.size(), 1u) << "answer " << answer;
        EXPECT_EQ(asked[0], dir.file("a.obj") + ": 72,000 polygons; a model holds at most 65,000");
        ASSERT_EQ(reports.size(), 3u);
        EXPECT_EQ(reports[0].ok, answer) << errorText(reports[0].error);
        EXPECT_EQ(reports[1].ok, answer);
        EXPECT_TRUE(reports[2].ok);
        EXPECT_EQ(std::filesystem::exists(dir.file("b.LWO")), answer);
        if (answer) {
            ASSERT_FALSE(reports[1].warnings.empty());
            EXPECT_NE(reports[1].warnings.front().find("simplified from 72,000 to "), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace rv

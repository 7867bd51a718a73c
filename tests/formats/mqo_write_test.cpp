// The MQO writer: what our reader and Metasequoia get back from it, and every corpus model through
// MQO to KZP against the model converted to KZP directly.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "app/convert.h"
#include "app/load.h"
#include "formats/mqo/mqo.h"
#include "runtime/paths.h"
#include "tests/support/make_model.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

namespace fs = std::filesystem;

std::string writeText(const Model& model) {
    WriteContext ctx;
    const auto error = writeMqo(model, ctx);
    EXPECT_FALSE(error.has_value()) << error->message();
    return std::string(reinterpret_cast<const char*>(ctx.bytes.data()), ctx.bytes.size());
}

Model readBack(const std::string& text) {
    Model back;
    ReadContext ctx;
    const auto error = readMqo(std::as_bytes(std::span(text)), back, ctx);
    EXPECT_FALSE(error.has_value()) << error->message();
    return back;
}

bool withinOneStep(float a, float b) { return a == b || std::nextafter(a, b) == b; }

std::string textureName(const Model& m, const ModelGroup& g) {
    if (!g.textured || g.textureIndex <= 0 || g.textureIndex >= m.textureCount())
        return {};
    std::string name = m.textures[std::size_t(g.textureIndex)].fileName;
    return name.substr(name.find_last_of("\\/") + 1);
}

// Same groups (names, colours, mirror, texture names) and, group by group in list order, the same
// polygons: corner positions the same or, not `exact`, within one float step, and the texture
// coordinates of textured groups.
void expectSameModel(const Model& a, const Model& b, bool exact) {
    ASSERT_EQ(a.groupCount(), b.groupCount());
    for (int g = 0; g < a.groupCount(); ++g) {
        const ModelGroup &x = a.groups[std::size_t(g)], &y = b.groups[std::size_t(g)];
        EXPECT_EQ(x.name, y.name) << "group " << g;
        EXPECT_EQ(x.color, y.color) << "group " << g;
        EXPECT_EQ(x.mirror(), y.mirror()) << "group " << g;
        EXPECT_EQ(textureName(a, x), textureName(b, y)) << "group " << g;
        std::vector<const ModelPolygon*> pa, pb;
        for (const ModelPolygon& p : a.polygons)
            if (p.group == g && p.cornerCount >= 2)
                pa.push_back(&p);
        for (const ModelPolygon& p : b.polygons)
            if (p.group == g)
                pb.push_back(&p);
        ASSERT_EQ(pa.size(), pb.size()) << "group " << g;
        for (std::size_t i = 0; i < pa.size(); ++i) {
            ASSERT_EQ(pa[i]->cornerCount, pb[i]->cornerCount);
            for (int c = 0; c < pa[i]->cornerCount; ++c) {
                const ModelCorner &ca = pa[i]->corners[std::size_t(c)], &cb = pb[i]->corners[std::size_t(c)];
                const ModelVertex &p = a.positions[std::size_t(ca.position)],
                                  &q = b.positions[std::size_t(cb.position)];
                const bool same =
                    exact ? p == q : withinOneStep(p.x, q.x) && withinOneStep(p.y, q.y) && withinOneStep(p.z, q.z);
                ASSERT_TRUE(same) << "group " << g << " polygon " << i << " corner " << c << ": " << p.x << " " << p.y
                                  << " " << p.z << " became " << q.x << " " << q.y << " " << q.z;
                if (!textureName(a, x).empty()) {
                    ASSERT_EQ(a.uvs[std::size_t(ca.uv)], b.uvs[std::size_t(cb.uv)]);
                }
            }
        }
    }
}

TEST(MqoWrite, OurReaderGetsTheSameFloatsGroupsAndMirrors) {
    Model m = test::makeSmallModel();
    // Awkward numbers: no short decimal times 0.1 gives most of them back.
    m.positions = {{0.1f, -0.3f, 1e-7f}, {123456.79f, 3.3333333f, -0.0f}, {1, 1, 1}, {-2.5e-3f, 7, 1e6f}, {2, 0, 0}};
    m.uvs = {{0, 0}, {0.1f, 0.7f}, {1.0f / 3, 1e-6f}, {-0.25f, 2}};
    m.groups.resize(4);
    m.groups[0].name = "\x8a\x97";  // Shift-JIS bytes pass as they are
    m.groups[0].color = {204.00000762939453f, 153, 102, 255};  // what col(0.800 0.600 0.400 1.000) reads as
    m.groups[1].color = {100, 7, 254, 128};  // no three-place decimal gives these back
    m.groups[1].textured = 1;
    m.groups[1].textureIndex = 1;
    m.textures.resize(2);
    m.textures[1].kind = 1;
    m.textures[1].fileName = "tex\\wood.bmp";
    m.groups[3].name = "mirrored";
    m.groups[3].materialParams[kMirrorWord] = 1;
    ModelPolygon line;
    line.cornerCount = 2;
    line.group = 3;
    line.corners[0].position = 3;
    line.corners[1].position = 0;
    m.polygons.push_back(line);
    ModelPolygon point;
    point.cornerCount = 1;
    m.polygons.push_back(point);

    WriteContext ctx;
    ctx.outputPath = "m.mqo";
    ASSERT_FALSE(writeMqo(m, ctx).has_value());
    const std::string text(reinterpret_cast<const char*>(ctx.bytes.data()), ctx.bytes.size());
    EXPECT_TRUE(text.starts_with("Metasequoia Document\r\nFormat Text Ver 1.0\r\n"));
    EXPECT_NE(text.find("col(0.800 0.600 0.400 1.000) dif(0.800) amb(0.600) emi(0.000) spc(0.000) power(5.00)"),
              std::string::npos);
    EXPECT_NE(text.find("tex(\"tex\\wood.bmp\")"), std::string::npos);
    // Group 3's mirror needs object 3: objects 1 and 2 stand empty between.
    EXPECT_NE(text.find("Object \"obj4\" {\r\n"), std::string::npos);
    EXPECT_NE(text.find("\tmirror 1\r\n\tmirror_axis 1\r\n\tvertex 2 {"), std::string::npos);
    EXPECT_EQ(ctx.warnings, std::vector<std::string>{"m.mqo: 1 point is not kept by MQO"});
    ASSERT_EQ(ctx.namedImages.size(), 1u);
    EXPECT_EQ(ctx.namedImages[0].fileName, "tex\\wood.bmp");

    const Model back = readBack(text);
    expectSameModel(m, back, true);
    EXPECT_EQ(back.polygonCount(), 3);
    // Two saves give the same bytes.
    EXPECT_EQ(writeText(m), text);
}

TEST(MqoWrite, LargeModelsSpreadOverObjectsTheReaderTakesWhole) {
    // 50,000 quads with their own corners: 200,000 positions, more than one object holds.
    Model grid = test::makeQuadGrid(50000, 2);
    Model back = readBack(writeText(grid));
    EXPECT_EQ(back.polygonCount(), 50000);
    expectSameModel(grid, back, false);  // some floats are no float times 0.1: the nearest comes back

    Model many;
    many.groups.resize(257);
    WriteContext ctx;
    const auto error = writeMqo(many, ctx);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->reason, "the model has 257 groups; an MQO file holds at most 256 materials");
}

TEST(MqoWrite, CliWritesTheMqoBesideAndRefusesAnUnknownXForm) {
    test::TempDir dir;
    fs::copy_file(std::string(REVIZEVOZ_SOURCE_DIR) + "/samples/cube.mqo", dir.file("cube.mqo"));
    // The same file as target is refused; into another folder it is written.
    const std::string cli = std::string(REVIZEVOZ_CLI) + " convert --to mqo ";
    EXPECT_NE(std::system((cli + dir.file("cube.mqo") + " 2>/dev/null").c_str()), 0);
    EXPECT_EQ(std::system((cli + "--out-dir " + dir.file("out") + " " + dir.file("cube.mqo") + " >/dev/null").c_str()),
              0);
    const Model back = readBack([&] {
        const std::vector<std::byte> bytes = test::readBytes(dir.file("out/cube.mqo"));
        return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }());
    EXPECT_EQ(back.polygonCount(), 6);
    const std::string xform = std::string(REVIZEVOZ_CLI) + " convert --to x --x-format txt " + dir.file("cube.mqo") +
                              " 2>" + dir.file("err.txt");
    EXPECT_EQ(WEXITSTATUS(std::system(xform.c_str())), 2);
    EXPECT_FALSE(fs::exists(dir.file("cube.X")));
}

TEST(MqoWrite, CorpusModelsThroughMqoGiveTheKzpOfTheDirectConversion) {
    const fs::path corpus = test::corpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus";
    int compared = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
        if (!entry.is_regular_file() || !readerForName(entry.path().filename().string()))
            continue;
        SCOPED_TRACE(fs::relative(entry.path(), corpus).string());
        test::TempDir dir;
        const fs::path copy = test::copyWithNeighbours(entry.path(), dir.path());
        const LoadResult source = loadModelFile(copy.string());
        if (!source.model || !saveModel(*source.model, ConversionTarget::Kzp, dir.file("direct.kzp")).ok)
            continue;
        const std::string mqo = outputPathFor(copy.string(), ConversionTarget::Mqo);
        ASSERT_EQ(fs::path(mqo).extension(), ".mqo");
        const SaveOutcome saved = saveModel(*source.model, ConversionTarget::Mqo, mqo);
        ASSERT_TRUE(saved.ok) << errorText(saved.error);
        const LoadResult viaMqo = loadModelFile(mqo);
        ASSERT_TRUE(viaMqo.model) << errorText(viaMqo.error);
        ASSERT_TRUE(saveModel(*viaMqo.model, ConversionTarget::Kzp, dir.file("via.kzp")).ok);
        const LoadResult direct = loadModelFile(dir.file("direct.kzp"));
        const LoadResult via = loadModelFile(dir.file("via.kzp"));
        ASSERT_TRUE(direct.model && via.model);
        expectSameModel(*direct.model, *via.model, false);
        ++compared;
    }
    EXPECT_GE(compared, 40);
}

}  // namespace
}  // namespace rv

// Every corpus file that converts to the panel's four targets also converts to .glb and .obj, and
// readers no one here wrote read the results as our model: Assimp with the same triangles and
// the same bounds (z negated), the Khronos validator without errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>

#include "app/convert.h"
#include "app/load.h"
#include "formats/common/export_support.h"
#include "formats/common/file_io.h"
#include "runtime/image.h"
#include "runtime/paths.h"
#include "tests/support/gltf_doc.h"
#include "tests/support/interop.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

namespace fs = std::filesystem;

struct Drawn {
    long triangles = 0, lines = 0, points = 0;
    ModelVertex min{1e30f, 1e30f, 1e30f}, max{-1e30f, -1e30f, -1e30f};
};

// What a reader of the output sees: the triangles, lines and points, and the positions they use.
Drawn drawnPart(const Model& m) {
    Drawn d;
    for (const ModelPolygon& p : m.polygons) {
        if (p.cornerCount < 1 || p.group < 0 || p.group >= m.groupCount())
            continue;
        d.lines += p.cornerCount == 2;
        d.points += p.cornerCount == 1;
        d.triangles += std::max(0, p.cornerCount - 2);
        for (int c = 0; c < p.cornerCount; ++c) {
            const ModelVertex& v = m.positions[std::size_t(p.corners[std::size_t(c)].position)];
            d.min = {std::min(d.min.x, v.x), std::min(d.min.y, v.y), std::min(d.min.z, v.z)};
            d.max = {std::max(d.max.x, v.x), std::max(d.max.y, v.y), std::max(d.max.z, v.z)};
        }
    }
    return d;
}

void expectBounds(const test::AssimpInfo& info, const Drawn& d, const std::string& what) {
    const double tolerance = 1e-3 * std::max({1.0, double(std::fabs(d.min.x)), double(std::fabs(d.max.x)),
                                              double(std::fabs(d.min.z)), double(std::fabs(d.max.z))});
    EXPECT_NEAR(info.min[0], d.min.x, tolerance) << what;
    EXPECT_NEAR(info.min[1], d.min.y, tolerance) << what;
    EXPECT_NEAR(info.min[2], -d.max.z, tolerance) << what;
    EXPECT_NEAR(info.max[0], d.max.x, tolerance) << what;
    EXPECT_NEAR(info.max[1], d.max.y, tolerance) << what;
    EXPECT_NEAR(info.max[2], -d.min.z, tolerance) << what;
}

// The distinct image files that the model's used groups name, found beside it and decodable now
// (a format the image decoder does not know yet is not counted). None of the corpus formats has a
// switch of its own for texturing: a named image is drawn and must be exported.
std::size_t decodableTextures(const Model& m) {
    std::vector<bool> used(m.groups.size(), false);
    for (const ModelPolygon& p : m.polygons)
        if (p.cornerCount >= 1 && p.group >= 0 && std::size_t(p.group) < used.size())
            used[std::size_t(p.group)] = true;
    std::set<std::string> files;
    for (std::size_t g = 0; g < m.groups.size(); ++g) {
        const int entry = m.groups[g].textureIndex;
        if (!used[g] || entry <= 0 || entry >= m.textureCount() || m.textures[std::size_t(entry)].kind != 1)
            continue;
        // An image the model carries counts once under its own name, as one on disk does.
        if (const EmbeddedImage* carried = embeddedImageOf(m, m.textures[std::size_t(entry)])) {
            if (decodeImage(carried->bytes, extensionOf(carried->name)))
                files.insert("embedded:" + carried->name);
            continue;
        }
        const auto path = textureFile(m, m.textures[std::size_t(entry)]);
        if (!path || files.count(*path))
            continue;
        const auto bytes = readFile(*path);
        if (bytes && decodeImage(*bytes, extensionOf(fileNameOf(*path))))
            files.insert(*path);
    }
    return files.size();
}

TEST(ExportCorpus, EveryConvertibleFileExportsAndReadsBackElsewhere) {
    const fs::path corpus = test::corpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus";
    const bool assimp = test::haveAssimp();
    test::TempDir kept;
    std::vector<std::string> glbs;
    int exported = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
        if (!entry.is_regular_file() || !readerForName(entry.path().filename().string()))
            continue;
        const std::string key = fs::relative(entry.path(), corpus).generic_string();
        SCOPED_TRACE(key);
        test::TempDir dir;
        const fs::path copy = test::copyWithNeighbours(entry.path(), dir.path());
        const LoadResult loaded = loadModelFile(copy.string());
        if (!loaded.model)
            continue;
        const Model& m = *loaded.model;
        const fs::path out = dir.path() / "out";
        fs::create_directory(out);
        bool classic = true;
        for (ConversionTarget t :
             {ConversionTarget::Kzp, ConversionTarget::Lwo, ConversionTarget::Mx, ConversionTarget::X})
            classic = classic && saveModel(m, t, outputPathFor(copy.string(), t, out.string())).ok;
        if (!classic)
            continue;
        const std::string glb = outputPathFor(copy.string(), ConversionTarget::Glb, out.string());
        const std::string obj = outputPathFor(copy.string(), ConversionTarget::Obj, out.string());
        const SaveOutcome savedGlb = saveModel(m, ConversionTarget::Glb, glb);
        const SaveOutcome savedObj = saveModel(m, ConversionTarget::Obj, obj);
        ASSERT_TRUE(savedGlb.ok) << errorText(savedGlb.error);
        ASSERT_TRUE(savedObj.ok) << errorText(savedObj.error);
        ++exported;
        const Drawn d = drawnPart(m);
        if (assimp && d.triangles > 0) {
            // Quads are split by Assimp; lines and points are kept by both formats.
            const auto fromGlb = test::assimpInfo(glb);
            ASSERT_TRUE(fromGlb.has_value()) << "assimp cannot read " << glb;
            EXPECT_EQ(fromGlb->faces, d.triangles + d.lines + d.points);
            expectBounds(*fromGlb, d, "glb");
            const auto fromObj = test::assimpInfo(obj);
            ASSERT_TRUE(fromObj.has_value()) << "assimp cannot read " << obj;
            EXPECT_EQ(fromObj->faces, d.triangles + d.lines + d.points);
            expectBounds(*fromObj, d, "obj");
            EXPECT_EQ(test::loadGltfDocument(glb).images.size(), decodableTextures(m)) << "images in " << glb;
        }
        // Kept for one validator run over all of them.
        std::string name = key;
        std::replace(name.begin(), name.end(), '/', '_');
        glbs.push_back(kept.file(name + ".glb"));
        fs::copy_file(glb, glbs.back(), fs::copy_options::overwrite_existing);
    }
    EXPECT_GE(exported, 40);
    if (!glbs.empty()) {
        std::string log;
        const auto errors = test::gltfValidatorErrors(glbs, &log);
        if (!test::gltfValidator().empty()) {
            for (const auto& [file, count] : errors)
                EXPECT_EQ(count, 0) << file << "\n" << log;
        }
    }
}

}  // namespace
}  // namespace rv

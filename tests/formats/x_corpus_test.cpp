// .x files written by other tools load with the face and material counts their content implies,
// and the textures they name are found beside them.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/convert.h"
#include "app/load.h"
#include "formats/x/x.h"
#include "model/textures.h"
#include "runtime/paths.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

namespace fs = std::filesystem;

struct Expected {
    int triangles;  // faces fanned into triangles
    int groups;  // materials of the meshes (references to top-level materials included)
    int textures;  // texture table entries, entry 0 included
    int missingImages;  // texture names with no image beside the file
};

// Counted from the files (triangle counts agree with Assimp's reading of the same files).
const std::map<std::string, Expected> kExpected = {
    {"assimp/BCN_Epileptic.X", {5126, 1, 1, 0}},  // no materials: one white group
    {"assimp/fromtruespace_bin32.x", {6656, 1, 1, 0}},
    {"assimp/kwxport_test_cubewithvcolors.x", {12, 3, 4, 0}},  // absolute Windows paths
    {"assimp/test.x", {12, 1, 2, 0}},  // ".\\test.png", TextureFileName
    {"assimp/test_cube_binary.x", {12, 1, 1, 0}},
    {"assimp/test_cube_compressed.x", {12, 1, 1, 0}},
    {"assimp/test_cube_text.x", {12, 1, 1, 0}},
    {"bve/Asphalt.x", {2, 1, 2, 0}},
    {"bve/Hachioji_Form.x", {120, 6, 5, 1}},  // Shift-JIS name found as UTF-8; tyui.png absent
    {"dxsdk/Cube.x", {12, 1, 1, 0}},
    {"dxsdk/Dwarf.x", {5270, 9, 10, 0}},
    {"dxsdk/airplane_2.x", {596, 8, 7, 0}},
    {"dxsdk/ball.x", {224, 1, 2, 1}},  // one referenced material of ten
    {"dxsdk/bigship1.x", {8686, 5, 1, 0}},
    {"dxsdk/car2.x", {47003, 5, 6, 5}},  // a mesh of more than 65,535 vertices
    {"dxsdk/cell.x", {12, 3, 4, 0}},
    {"dxsdk/heli.x", {793, 9, 1, 0}},  // 5- and 20-corner faces
    {"dxsdk/lobby_skybox.x", {12, 6, 7, 0}},  // names in another case than the files
    {"dxsdk/room.x", {24, 3, 4, 3}},
    {"dxsdk/sphere0.x", {108, 1, 1, 0}},
    {"dxsdk/teapot.x", {2256, 1, 1, 0}},
    {"dxsdk/tiger.x", {602, 1, 2, 0}},  // 596 triangles and 3 quads
    {"dxsdk/tiny.x", {6841, 1, 2, 0}},
};

TEST(XCorpus, EveryFileLoadsWithItsCounts) {
    const fs::path corpus = test::corpusDir();
    if (corpus.empty() || !fs::is_directory(corpus / "x"))
        GTEST_SKIP() << "no corpus";
    int checked = 0;
    std::map<std::string, int> encodings;
    for (const auto& entry : fs::recursive_directory_iterator(corpus / "x")) {
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || (ext != ".x" && ext != ".X"))
            continue;
        const std::string key = fs::relative(entry.path(), corpus / "x").generic_string();
        SCOPED_TRACE(key);
        test::TempDir dir;
        const fs::path copy = test::copyWithNeighbours(entry.path(), dir.path());
        const std::vector<std::byte> file = test::readBytes(copy.string());
        ASSERT_GE(file.size(), 16u);
        ++encodings[std::string(reinterpret_cast<const char*>(&file[8]), 4)];
        Model m;
        m.folder = dir.path().string();
        ReadContext ctx;
        ctx.path = copy.string();
        int missing = 0;
        const auto error = readX(file, m, ctx);
        if (key == "dxsdk/scene.x") {  // frames that name other files, and no mesh
            ASSERT_TRUE(error.has_value());
            EXPECT_EQ(error->reason, "the file holds no mesh");
            continue;
        }
        ASSERT_FALSE(error.has_value()) << error->message();
        loadModelTextures(m, [&](Model& model, int, const std::string& name) {
            const bool found = resolveModelFile(model.folder, name).has_value();
            missing += found ? 0 : 1;
            return found;
        });
        const auto it = kExpected.find(key);
        ASSERT_NE(it, kExpected.end()) << "no expected counts for this file";
        EXPECT_EQ(m.polygonCount(), it->second.triangles);
        EXPECT_EQ(m.groupCount(), it->second.groups);
        EXPECT_EQ(m.textureCount(), it->second.textures);
        EXPECT_EQ(missing, it->second.missingImages);
        EXPECT_EQ(m.positions.size(), m.skin.size());
        // Viewers draw every one of these files: no group is invisible, and a named image is drawn.
        for (const ModelGroup& g : m.groups) {
            EXPECT_GT(g.color.alpha, 0) << g.name;
            EXPECT_EQ(g.textured, g.textureIndex > 0 ? 1 : 0) << g.name;
        }
        for (const ModelPolygon& p : m.polygons) {
            ASSERT_EQ(p.cornerCount, 3);
            ASSERT_LT(std::size_t(p.group), m.groups.size());
            for (int j = 0; j < 3; ++j) {
                ASSERT_LT(std::size_t(p.corners[std::size_t(j)].position), m.positions.size());
                ASSERT_LT(std::size_t(p.corners[std::size_t(j)].color), m.colors.size());
                ASSERT_LT(std::size_t(p.corners[std::size_t(j)].uv), m.uvs.size());
            }
        }
        ++checked;
    }
    EXPECT_EQ(checked, int(kExpected.size()));
    EXPECT_GT(encodings["txt "], 0);
    EXPECT_GT(encodings["bin "], 0);
    EXPECT_GT(encodings["bzip"], 0);
}

TEST(XCorpus, LoadsThroughTheDriverWithItsTextures) {
    const fs::path corpus = test::corpusDir();
    if (corpus.empty() || !fs::is_regular_file(corpus / "x/assimp/test.x"))
        GTEST_SKIP() << "no corpus";
    test::TempDir dir;
    const fs::path copy = test::copyWithNeighbours(corpus / "x/assimp/test.x", dir.path());
    const LoadOutcome loaded = test::loadCurrent(copy.string());
    ASSERT_NE(loaded.model, nullptr) << (loaded.error ? loaded.error->message() : "");
    EXPECT_EQ(loaded.model->polygonCount(), 12);
    ASSERT_EQ(loaded.model->textureCount(), 2);
    EXPECT_GT(loaded.model->textures[1].width, 0);  // ".\\test.png" decoded
    const std::string out = (dir.path() / "out.X").string();
    const SaveOutcome saved = saveModel(*currentModel(), ConversionTarget::X, out);
    EXPECT_TRUE(saved.ok) << errorText(saved.error);
    EXPECT_TRUE(fs::is_regular_file(out));
}

}  // namespace
}  // namespace rv

// Every corpus model our loader reads, saved as .x in each form and loaded back: the same
// triangles group by group, the same groups, colours, texture names and uvs; and Assimp reads every
// file with the model's triangle and material counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "app/convert.h"
#include "app/load.h"
#include "formats/common/export_support.h"
#include "runtime/paths.h"
#include "tests/support/interop.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

namespace fs = std::filesystem;

constexpr XForm kForms[] = {XForm::Binary, XForm::Text, XForm::Compressed};
const char* const kFormNames[] = {"binary", "text", "compressed"};

// One triangle of the source as the .x file holds it: its corners' values and its material.
struct Triangle {
    std::array<ModelVertex, 3> positions;
    std::array<ModelUV, 3> uvs;
    int material = 0;
};

template <typename T, typename A>
T entryOr(const std::vector<T, A>& table, std::int32_t i) {
    return i >= 0 && std::size_t(i) < table.size() ? table[std::size_t(i)] : T{};
}

// The fan triangles of a model, material by material and in polygon order within one (the .x
// loader sorts faces by material, keeping their order).
std::vector<Triangle> trianglesOf(const Model& m) {
    const std::size_t materials = std::max<std::size_t>(1, m.groups.size());
    std::vector<Triangle> out;
    for (std::size_t g = 0; g < materials; ++g)
        for (const ModelPolygon& p : m.polygons) {
            const std::size_t material = p.group >= 0 && std::size_t(p.group) < materials ? std::size_t(p.group) : 0;
            if (material != g || p.cornerCount < 3)
                continue;
            for (int l = 0; l + 2 < std::min<int>(p.cornerCount, kMaxCorners); ++l) {
                Triangle t;
                t.material = int(g);
                const int corners[] = {0, l + 1, l + 2};
                for (int k = 0; k < 3; ++k) {
                    const ModelCorner& c = p.corners[std::size_t(corners[k])];
                    t.positions[std::size_t(k)] = entryOr(m.positions, c.position);
                    t.uvs[std::size_t(k)] = entryOr(m.uvs, c.uv);
                }
                out.push_back(t);
            }
        }
    return out;
}

void expectSameTriangles(const std::vector<Triangle>& expected, const Model& b) {
    ASSERT_EQ(b.polygonCount(), int(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const ModelPolygon& p = b.polygons[i];
        ASSERT_EQ(p.cornerCount, 3) << "polygon " << i;
        ASSERT_EQ(p.group, expected[i].material) << "polygon " << i;
        for (std::size_t k = 0; k < 3; ++k) {
            ASSERT_EQ(entryOr(b.positions, p.corners[k].position), expected[i].positions[k]) << "polygon " << i;
            ASSERT_EQ(entryOr(b.uvs, p.corners[k].uv), expected[i].uvs[k]) << "polygon " << i;
        }
    }
}

void expectSameGroups(const Model& a, const Model& b, bool text) {
    ASSERT_EQ(b.groupCount(), std::max(1, a.groupCount()));
    for (std::size_t g = 0; g < a.groups.size(); ++g) {
        SCOPED_TRACE("group " + std::to_string(g));
        const ModelGroup &x = a.groups[g], &y = b.groups[g];
        for (auto [c, t, d] :
             {std::tuple{x.color.red, a.tint.red, y.color.red}, std::tuple{x.color.green, a.tint.green, y.color.green},
              std::tuple{x.color.blue, a.tint.blue, y.color.blue}})
            EXPECT_NEAR(tintedComponent(c, t) * 255, d, 0.01);
        const float alpha = tintedComponent(x.color.alpha, a.tint.alpha) * 255;
        EXPECT_NEAR(alpha == 0 ? 255 : alpha, y.color.alpha, 0.01);  // the reader shows alpha 0 opaque
        const ModelTexture* texture = groupTexture(a, x);
        if (texture && text && texture->fileName.find_first_of("\"\r\n") != std::string::npos)
            texture = nullptr;  // left out of a text file, with a warning
        if (!texture) {
            EXPECT_EQ(y.textureIndex, 0);
            continue;
        }
        ASSERT_GT(y.textureIndex, 0);
        EXPECT_EQ(b.textures[std::size_t(y.textureIndex)].fileName, texture->fileName.substr(0, kMaxNameBytes));
    }
}

// The materials Assimp keeps: it drops unused ones and merges equal ones.
std::size_t assimpMaterialCount(const Model& m) {
    std::set<std::tuple<std::array<float, 4>, std::string>> kept;
    for (const Triangle& t : trianglesOf(m)) {
        if (m.groups.empty()) {
            kept.insert({{1, 1, 1, 1}, {}});
            continue;
        }
        const ModelGroup& g = m.groups[std::size_t(t.material)];
        const ModelTexture* texture = groupTexture(m, g);
        kept.insert({{tintedComponent(g.color.red, m.tint.red), tintedComponent(g.color.green, m.tint.green),
                      tintedComponent(g.color.blue, m.tint.blue), tintedComponent(g.color.alpha, m.tint.alpha)},
                     texture ? texture->fileName : std::string()});
    }
    return kept.size();
}

// The "Materials:" line of `assimp info`, or -1 when it cannot read the file.
long assimpMaterials(const std::string& path) {
    FILE* pipe = popen(("assimp info '" + path + "' 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    std::string output;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    if (pclose(pipe) != 0)
        return -1;
    const auto at = output.find("Materials:");
    return at == std::string::npos ? -1 : std::stol(output.substr(at + 10));
}

// Every corpus model that loads, with its copy in a fresh folder; `check` gets the loaded model
// and the folder to write into.
template <typename Check>
int forEachCorpusModel(Check check) {
    const fs::path corpus = test::corpusDir();
    if (corpus.empty())
        return -1;
    const std::set<std::string> read = {"kzp", "lwo", "mx", "x", "mqo", "rok", "dxf", "gltf", "glb", "obj"};
    int checked = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
        if (!entry.is_regular_file() || !read.count(toLower(extensionOf(entry.path().filename().string()))))
            continue;
        SCOPED_TRACE(fs::relative(entry.path(), corpus).string());
        test::TempDir dir;
        const fs::path copy = test::copyWithNeighbours(entry.path(), dir.path());
        const LoadResult source = loadModelFile(copy.string());
        if (!source.model || trianglesOf(*source.model).empty())
            continue;
        const fs::path out = dir.path() / "out";
        fs::create_directory(out);
        check(*source.model, copy.filename().string(), out);
        ++checked;
    }
    return checked;
}

TEST(XWriteCorpus, EveryModelReadsBackInEveryForm) {
    int skipped = 0;
    const int checked = forEachCorpusModel([&](const Model& a, const std::string& name, const fs::path& out) {
        const std::vector<Triangle> expected = trianglesOf(a);
        if (expected.size() > std::size_t(kMaxPolygons) || a.groups.size() > 255) {
            ++skipped;  // more than an .x load keeps
            return;
        }
        for (std::size_t f = 0; f < 3; ++f) {
            SCOPED_TRACE(kFormNames[f]);
            const std::string path = (out / (name + "." + kFormNames[f] + ".X")).string();
            const SaveOutcome saved = saveModel(a, ConversionTarget::X, path, SaveOptions{kForms[f]});
            ASSERT_TRUE(saved.ok) << errorText(saved.error);
            const LoadResult back = loadModelFile(path);
            ASSERT_TRUE(back.model) << errorText(back.error);
            expectSameTriangles(expected, *back.model);
            expectSameGroups(a, *back.model, kForms[f] == XForm::Text);
        }
    });
    if (checked < 0)
        GTEST_SKIP() << "no corpus";
    EXPECT_GT(checked - skipped, 50);
}

TEST(XWriteCorpus, AssimpReadsEveryFormWithTheModelsCounts) {
    if (!test::haveAssimp())
        GTEST_SKIP() << "assimp is not installed";
    const int checked = forEachCorpusModel([](const Model& a, const std::string& name, const fs::path& out) {
        const long triangles = long(trianglesOf(a).size());
        const long materials = long(assimpMaterialCount(a));
        for (std::size_t f = 0; f < 3; ++f) {
            SCOPED_TRACE(kFormNames[f]);
            const std::string path = (out / (name + "." + kFormNames[f] + ".X")).string();
            ASSERT_TRUE(saveModel(a, ConversionTarget::X, path, SaveOptions{kForms[f]}).ok);
            const auto info = test::assimpInfo(path);
            ASSERT_TRUE(info.has_value()) << "assimp cannot read " << path;
            EXPECT_EQ(info->faces, triangles);
            EXPECT_EQ(assimpMaterials(path), materials);
        }
    });
    if (checked < 0)
        GTEST_SKIP() << "no corpus";
}

}  // namespace
}  // namespace rv

// glTF import: our own export reads back as the model it came from, real files read as Assimp reads
// them, and damaged or unsupported files are refused with a reason and nothing written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "app/convert.h"
#include "app/format_table.h"
#include "app/load.h"
#include "formats/common/export_support.h"
#include "formats/common/file_io.h"
#include "formats/gltf/gltf.h"
#include "model/mesh.h"
#include "runtime/image.h"
#include "runtime/paths.h"
#include "tests/support/interop.h"
#include "tests/support/make_model.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

std::vector<std::byte> glbOf(const Model& model) {
    WriteContext ctx;
    ctx.outputPath = "m.glb";
    EXPECT_FALSE(writeGlb(model, ctx).has_value());
    return ctx.bytes;
}

std::optional<FormatError> read(std::span<const std::byte> bytes, Model& out, const std::string& path = "m.glb") {
    ReadContext ctx;
    ctx.path = path;
    return readGltf(bytes, out, ctx);
}

// A polygon as drawn: its group and the positions of its corners in order, then their colours
// (rounded) where the model has corner colours.
using Shape = std::pair<int, std::vector<float>>;

std::vector<Shape> shapesOf(const Model& m) {
    std::vector<Shape> shapes;
    for (const ModelPolygon& p : m.polygons) {
        if (p.cornerCount < 1 || p.group < 0 || p.group >= m.groupCount())
            continue;
        Shape s{p.group, {}};
        for (int c = 0; c < p.cornerCount; ++c) {
            const ModelVertex& v = m.positions[std::size_t(p.corners[std::size_t(c)].position)];
            s.second.insert(s.second.end(), {v.x, v.y, v.z});
        }
        for (int c = 0; c < p.cornerCount && m.vertexColorMode == 1; ++c) {
            const ModelColor& k = m.colors[std::size_t(p.corners[std::size_t(c)].color)];
            s.second.insert(s.second.end(), {std::round(k.red), std::round(k.green), std::round(k.blue)});
        }
        shapes.push_back(std::move(s));
    }
    return shapes;
}

// Same polygons in the same groups (in any order within a group), positions within 1e-5 relative,
// the same corner colours; same group names, and colours where the groups carry them.
void expectSameModel(const Model& a, const Model& b) {
    std::vector<int> usedA, usedB;  // groups with polygons, in order: the export leaves empty ones out
    for (const Model* m : {&a, &b}) {
        std::vector<int>& used = m == &a ? usedA : usedB;
        std::set<int> seen;
        for (const Shape& s : shapesOf(*m))
            seen.insert(s.first);
        used.assign(seen.begin(), seen.end());
    }
    ASSERT_EQ(usedA.size(), usedB.size());
    auto sorted = [](const Model& m, const std::vector<int>& used) {
        std::vector<Shape> shapes = shapesOf(m);
        for (Shape& s : shapes)
            s.first = int(std::find(used.begin(), used.end(), s.first) - used.begin());
        std::sort(shapes.begin(), shapes.end());
        return shapes;
    };
    const std::vector<Shape> sa = sorted(a, usedA), sb = sorted(b, usedB);
    ASSERT_EQ(sa.size(), sb.size());
    float scale = 1;
    for (const ModelVertex& v : a.positions)
        scale = std::max({scale, std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)});
    for (std::size_t i = 0; i < sa.size(); ++i) {
        ASSERT_EQ(sa[i].first, sb[i].first) << "polygon " << i;
        ASSERT_EQ(sa[i].second.size(), sb[i].second.size()) << "polygon " << i;
        for (std::size_t k = 0; k < sa[i].second.size(); ++k)
            ASSERT_NEAR(sa[i].second[k], sb[i].second[k], 1e-5 * scale) << "polygon " << i;
    }
    for (std::size_t g = 0; g < usedA.size(); ++g) {
        const ModelGroup& ga = a.groups[std::size_t(usedA[g])];
        const ModelGroup& gb = b.groups[std::size_t(usedB[g])];
        EXPECT_EQ(ga.name, gb.name);
        if (a.vertexColorMode == 0) {  // with corner colours the export carries the colour there
            EXPECT_NEAR(ga.color.red * a.tint.red / 255, gb.color.red, 0.01);
            EXPECT_NEAR(ga.color.green * a.tint.green / 255, gb.color.green, 0.01);
            EXPECT_NEAR(ga.color.blue * a.tint.blue / 255, gb.color.blue, 0.01);
        }
    }
}

TEST(GltfRead, GeneratedModelsReadBackAsTheyWereExported) {
    std::vector<Model> models;
    models.push_back(test::makeSmallModel());
    models.push_back(test::makeQuadGrid(500, 3));
    Model colored = test::makeQuadGrid(50, 2);
    colored.vertexColorMode = 1;
    models.push_back(colored);
    for (Model& m : models) {
        computeNormals(m);
        const std::vector<std::byte> glb = glbOf(m);
        Model back;
        ASSERT_FALSE(read(glb, back).has_value());
        expectSameModel(m, back);
        EXPECT_EQ(back.vertexColorMode, m.vertexColorMode);
    }
}

// The distinct, decodable image files that the used, textured groups of a model name.
std::set<std::string> textureFilesOf(const Model& m) {
    std::set<std::string> files;
    std::set<int> used;
    for (const ModelPolygon& p : m.polygons)
        used.insert(p.group);
    for (int g : used) {
        if (g < 0 || g >= m.groupCount())
            continue;
        const int entry = m.groups[std::size_t(g)].textureIndex;
        if (!groupTexture(m, m.groups[std::size_t(g)]) || entry <= 0 || entry >= m.textureCount())
            continue;
        const auto path = textureFile(m, m.textures[std::size_t(entry)]);
        const auto bytes = path ? readFile(*path) : std::nullopt;
        if (bytes && decodeImage(*bytes, extensionOf(fileNameOf(*path))))
            files.insert(*path);
    }
    return files;
}

TEST(GltfRead, CorpusModelsReadBackFromGlb) {
    const fs::path corpus = test::corpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus";
    int compared = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
        const std::string ext = toLower(extensionOf(entry.path().filename().string()));
        if (!entry.is_regular_file() || ext == "gltf" || ext == "glb" || ext == "obj" ||
            !readerForName(entry.path().filename().string()))
            continue;
        SCOPED_TRACE(entry.path().string());
        test::TempDir dir;
        const fs::path copy = test::copyWithNeighbours(entry.path(), dir.path());
        const LoadResult loaded = loadModelFile(copy.string());
        if (!loaded.model || !saveModel(*loaded.model, ConversionTarget::Kzp, dir.file("x.kzp")).ok)
            continue;
        const std::string glb = dir.file("round.glb");
        ASSERT_TRUE(saveModel(*loaded.model, ConversionTarget::Glb, glb).ok);
        const LoadResult back = loadModelFile(glb);
        ASSERT_TRUE(back.model) << errorText(back.error);
        expectSameModel(*loaded.model, *back.model);
        // Each embedded image comes back once, as a texture entry of the groups that used it.
        EXPECT_EQ(back.model->embeddedImages.size(), textureFilesOf(*loaded.model).size());
        EXPECT_EQ(back.model->textureCount(), int(back.model->embeddedImages.size()) + 1);
        ++compared;
    }
    EXPECT_GE(compared, 40);
}

bool negative(const std::string& manifest, const std::string& key) {
    const auto at = manifest.find("| `gltf/" + key + "`");
    return at != std::string::npos && manifest.find("NEGATIVE", at) < manifest.find('\n', at);
}

struct ObjCount {
    long faces = 0;
    std::array<double, 3> min{1e30, 1e30, 1e30}, max{-1e30, -1e30, -1e30};
};

// Faces and bounds of what `assimp export FILE out.obj -ptv` writes: one copy per node instance.
std::optional<ObjCount> assimpFaces(const std::string& file, const std::string& dir) {
    const std::string obj = dir + "/assimp.obj";
    const std::string command = "cd '" + dir + "' && assimp export '" + file + "' '" + obj + "' -ptv >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        return std::nullopt;
    std::ifstream in(obj);
    ObjCount count;
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with("f ") || line.starts_with("l ") || line.starts_with("p "))
            ++count.faces;
        if (line.starts_with("v ")) {
            std::istringstream values(line.substr(2));
            values.imbue(std::locale::classic());
            std::array<double, 3> v{};
            values >> v[0] >> v[1] >> v[2];
            for (int k = 0; k < 3; ++k) {
                count.min[std::size_t(k)] = std::min(count.min[std::size_t(k)], v[std::size_t(k)]);
                count.max[std::size_t(k)] = std::max(count.max[std::size_t(k)], v[std::size_t(k)]);
            }
        }
    }
    return count;
}

TEST(GltfRead, CorpusFilesReadAsAssimpReadsThemOrAreRefused) {
    const fs::path corpus = test::corpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus";
    std::ifstream in(corpus / "MANIFEST.md");
    const std::string manifest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const bool assimp = test::haveAssimp();
    int positives = 0, negatives = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpus / "gltf")) {
        const std::string ext = extensionOf(entry.path().filename().string());
        if (!entry.is_regular_file() || (ext != "gltf" && ext != "glb"))
            continue;
        const std::string key = fs::relative(entry.path(), corpus / "gltf").generic_string();
        SCOPED_TRACE(key);
        test::TempDir dir;
        const fs::path copy = test::copyWithNeighbours(entry.path(), dir.path());
        if (negative(manifest, key)) {
            ++negatives;
            const std::string command = std::string("'") + REVIZEVOZ_CLI + "' convert --to kzp '" + copy.string() +
                                        "' >/dev/null 2>'" + dir.file("err.txt") + "'";
            const int status = std::system(command.c_str());
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
            EXPECT_FALSE(fs::exists(dir.path() / (baseNameOf(copy.filename().string()) + ".KZP")));
            const std::vector<std::byte> err = test::readBytes(dir.file("err.txt"));
            EXPECT_NE(std::string(reinterpret_cast<const char*>(err.data()), err.size()).find(copy.string() + ": "),
                      std::string::npos);
            continue;
        }
        ++positives;
        // Read directly: some are over the model's limits, which the loader applies.
        Model m;
        ReadContext ctx;
        ctx.path = copy.string();
        ctx.companion = [&](const std::string& name, std::string& why) {
            return readFile((dir.path() / name).string(), &why);
        };
        const std::vector<std::byte> bytes = test::readBytes(copy.string());
        const auto error = readGltf(bytes, m, ctx);
        ASSERT_FALSE(error.has_value()) << error->reason;
        const auto reference = assimp ? assimpFaces(copy.string(), dir.path().string()) : std::nullopt;
        if (!reference)
            continue;  // CubeNoBuffer.glb, which Assimp wrongly refuses
        EXPECT_EQ(m.polygonCount(), reference->faces);
        std::array<double, 3> min{1e30, 1e30, 1e30}, max{-1e30, -1e30, -1e30};
        for (const ModelPolygon& p : m.polygons)
            for (int c = 0; c < p.cornerCount; ++c) {
                const ModelVertex& v = m.positions[std::size_t(p.corners[std::size_t(c)].position)];
                const double xyz[] = {v.x, v.y, -double(v.z)};
                for (std::size_t k = 0; k < 3; ++k) {
                    min[k] = std::min(min[k], xyz[k]);
                    max[k] = std::max(max[k], xyz[k]);
                }
            }
        const double tolerance = 1e-3 * std::max({1.0, std::fabs(reference->min[0]), std::fabs(reference->max[0]),
                                                  std::fabs(reference->min[1]), std::fabs(reference->max[1]),
                                                  std::fabs(reference->min[2]), std::fabs(reference->max[2])});
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_NEAR(min[k], reference->min[k], tolerance) << "axis " << k;
            EXPECT_NEAR(max[k], reference->max[k], tolerance) << "axis " << k;
        }
    }
    EXPECT_EQ(negatives, 16);
    EXPECT_EQ(positives, 27);
}

TEST(GltfRead, NamesImagesAsTheModelKeepsThem) {
    const fs::path corpus = test::corpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus";
    test::TempDir dir;
    const fs::path glb = test::copyWithNeighbours(corpus / "gltf/assimp/BoxTextured.glb", dir.path());
    const LoadResult box = loadModelFile(glb.string());
    ASSERT_TRUE(box.model);
    ASSERT_EQ(box.model->textureCount(), 2);
    EXPECT_EQ(box.model->textures[1].fileName, "BoxTextured_0.png");
    EXPECT_EQ(box.model->groups[0].textured, 1);
    ASSERT_EQ(box.model->embeddedImages.size(), 1u);
    EXPECT_EQ(box.model->embeddedImages[0].name, "BoxTextured_0.png");
    EXPECT_EQ(box.model->embeddedImages[0].bytes,
              test::readBytes((corpus / "gltf/assimp/CesiumLogoFlat.png").string()));

    const fs::path spaces = test::copyWithNeighbours(corpus / "gltf/tinygltf/CubeImageUriSpaces.gltf", dir.path());
    const LoadResult cube = loadModelFile(spaces.string());
    ASSERT_TRUE(cube.model);
    ASSERT_EQ(cube.model->textureCount(), 2);
    EXPECT_EQ(cube.model->textures[1].fileName, "2x2 image has spaces.png");
    EXPECT_TRUE(cube.model->embeddedImages.empty());
}

// A .glb split into its JSON and its BIN chunk, and put back together.
struct Glb {
    Json json;
    std::vector<std::byte> bin;

    explicit Glb(const std::vector<std::byte>& file) {
        std::uint32_t jsonLength = 0, binLength = 0;
        std::memcpy(&jsonLength, file.data() + 12, 4);
        json = Json::parse(reinterpret_cast<const char*>(file.data()) + 20,
                           reinterpret_cast<const char*>(file.data()) + 20 + jsonLength);
        std::memcpy(&binLength, file.data() + 20 + jsonLength, 4);
        bin.assign(file.begin() + 28 + jsonLength, file.begin() + 28 + jsonLength + binLength);
    }
    std::vector<std::byte> bytes() const {
        std::string text = json.dump();
        while (text.size() % 4)
            text += ' ';
        std::vector<std::byte> out(28 + text.size() + bin.size());
        const std::uint32_t words[] = {0x46546C67, 2, std::uint32_t(out.size()), std::uint32_t(text.size()),
                                       0x4E4F534A};
        std::memcpy(out.data(), words, 20);
        std::memcpy(out.data() + 20, text.data(), text.size());
        const std::uint32_t chunk[] = {std::uint32_t(bin.size()), 0x004E4942};
        std::memcpy(out.data() + 20 + text.size(), chunk, 8);
        std::memcpy(out.data() + 28 + text.size(), bin.data(), bin.size());
        return out;
    }
};

std::string refusal(const Glb& glb) {
    Model m;
    const auto error = read(glb.bytes(), m);
    return error ? error->reason : std::string("(read)");
}

TEST(GltfRead, RefusesDamagedAndUnsupportedFiles) {
    Model small = test::makeSmallModel();
    computeNormals(small);
    const std::vector<std::byte> whole = glbOf(small);
    const Glb good(whole);
    ASSERT_EQ(refusal(good), "(read)");

    Glb draco = good;
    draco.json["extensionsRequired"] = {"KHR_texture_transform", "KHR_draco_mesh_compression"};
    EXPECT_EQ(refusal(draco), "needs KHR_draco_mesh_compression, which is not supported");

    Glb cycle = good;
    cycle.json["nodes"][0]["children"] = {0};
    EXPECT_NE(refusal(cycle).find("cycle"), std::string::npos);

    Glb longAccessor = good;
    longAccessor.json["accessors"][0]["count"] = 1000;
    EXPECT_NE(refusal(longAccessor).find("past the end"), std::string::npos);

    Glb farView = good;
    farView.json["bufferViews"][0]["byteOffset"] = 0xFFFFFFFFull;
    EXPECT_NE(refusal(farView).find("past the end"), std::string::npos);

    Glb badIndex = good;
    const int indices = badIndex.json["meshes"][0]["primitives"][0]["indices"];
    const int view = badIndex.json["accessors"][indices]["bufferView"];
    const std::size_t at = badIndex.json["bufferViews"][view].value("byteOffset", std::size_t(0));
    badIndex.bin[at] = std::byte{0xFF};
    EXPECT_NE(refusal(badIndex).find("past its"), std::string::npos);

    Glb notFinite = good;
    const int positions = notFinite.json["meshes"][0]["primitives"][0]["attributes"]["POSITION"];
    const int positionView = notFinite.json["accessors"][positions]["bufferView"];
    const float nan = NAN;
    std::memcpy(notFinite.bin.data() + notFinite.json["bufferViews"][positionView].value("byteOffset", 0), &nan, 4);
    EXPECT_NE(refusal(notFinite).find("finite"), std::string::npos);

    Glb oldVersion = good;
    oldVersion.json["asset"]["version"] = "1.0";
    EXPECT_EQ(refusal(oldVersion), "glTF 1.0 is not supported");

    // A .gltf whose buffer is a file that cannot be had.
    Json text = good.json;
    text["buffers"][0]["uri"] = "gone.bin";
    const std::string dumped = text.dump();
    Model m;
    ReadContext ctx;
    ctx.path = "m.gltf";
    ctx.companion = [](const std::string&, std::string& why) -> std::optional<std::vector<std::byte>> {
        why = "No such file or directory";
        return std::nullopt;
    };
    const auto missing = readGltf(std::as_bytes(std::span(dumped.data(), dumped.size())), m, ctx);
    ASSERT_TRUE(missing.has_value());
    EXPECT_EQ(missing->reason, "buffer file gone.bin cannot be read: No such file or directory");

    // Every prefix of the file is refused (a prefix never ends where a .glb may).
    for (std::size_t n = 0; n < whole.size(); n += 7) {
        const std::vector<std::byte> prefix(whole.begin(), whole.begin() + std::ptrdiff_t(n));
        Model part;
        EXPECT_TRUE(read(prefix, part).has_value()) << "a " << n << "-byte prefix was accepted";
    }
}

}  // namespace
}  // namespace rv

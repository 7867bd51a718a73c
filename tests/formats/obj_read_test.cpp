// The OBJ reader: hand-written files for each element and index form, materials through a
// companion .mtl, refusals; our own exports read back; real files as Assimp reads them.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "app/convert.h"
#include "app/format_table.h"
#include "app/load.h"
#include "formats/obj/obj.h"
#include "model/triangulate.h"
#include "runtime/paths.h"
#include "tests/support/interop.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

namespace fs = std::filesystem;

struct Read {
    std::optional<FormatError> error;
    Model model;
    std::vector<std::string> warnings;
};

// Reads `obj`; `mtl` files are what the companion callback serves by name.
Read readText(const std::string& obj, std::map<std::string, std::string> mtl = {}, bool companion = true) {
    Read r;
    ReadContext ctx;
    if (companion)
        ctx.companion = [mtl](const std::string& name, std::string& why) -> std::optional<std::vector<std::byte>> {
            const auto it = mtl.find(name);
            if (it == mtl.end()) {
                why = name + " was not found";
                return std::nullopt;
            }
            return test::bytesOf(it->second);
        };
    const std::vector<std::byte> bytes = test::bytesOf(obj);
    r.error = readObj(bytes, r.model, ctx);
    r.warnings = ctx.warnings;
    return r;
}

ModelVertex at(const Model& m, const ModelPolygon& p, int corner) {
    return m.positions[std::size_t(p.corners[std::size_t(corner)].position)];
}

const char* kSquare = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvn 0 0 1\n";

TEST(ObjRead, EveryIndexFormGivesTheSameFaceTurnedIntoTheModel) {
    for (const char* face :
         {"f 1 2 3", "f 1/1 2/2 3/3", "f 1//1 2//1 3//1", "f 1/1/1 2/2/1 3/3/1", "f -4/-4 -3/-3 -2/-2"}) {
        SCOPED_TRACE(face);
        const Read r = readText(std::string(kSquare) + face + "\n");
        ASSERT_FALSE(r.error) << r.error->message();
        ASSERT_EQ(r.model.polygonCount(), 1);
        const ModelPolygon& p = r.model.polygons[0];
        ASSERT_EQ(p.cornerCount, 3);
        // Corner 0 first, the others reversed; z would be negated.
        EXPECT_EQ(p.corners[0].position, 0);
        EXPECT_EQ(p.corners[1].position, 2);
        EXPECT_EQ(p.corners[2].position, 1);
        if (std::string(face).find("//") == std::string::npos && std::string(face).find('/') != std::string::npos) {
            // vt 1 1 is the top right in OBJ, v = 0 in the model.
            const ModelUV uv = r.model.uvs[std::size_t(p.corners[1].uv)];
            EXPECT_EQ(uv.u, 1.0f);
            EXPECT_EQ(uv.v, 0.0f);
        }
    }
    // Relative indices count back from their own line.
    const Read z = readText("v 1 2 3\nv 4 5 6\nv 7 8 -9\nf -3 -2 -1\nv 0 0 0\nf 1 -1 -2\n");
    ASSERT_FALSE(z.error) << z.error->message();
    EXPECT_EQ(z.model.positions[0], (ModelVertex{1, 2, -3}));
    EXPECT_EQ(z.model.positions[2], (ModelVertex{7, 8, 9}));
    EXPECT_EQ(z.model.polygons[0].corners[1].position, 2);
    EXPECT_EQ(z.model.polygons[1].corners[1].position, 2);
    EXPECT_EQ(z.model.polygons[1].corners[2].position, 3);
}

TEST(ObjRead, QuadsStayLinesAndPointsSplitIntoTwoAndOneCorners) {
    const Read r = readText(std::string(kSquare) + "f 1 2 3 4\nl 1 2 3\np 4 1 2\nf 3 4\nf 2\n");
    ASSERT_FALSE(r.error) << r.error->message();
    std::vector<int> corners;
    for (const ModelPolygon& p : r.model.polygons)
        corners.push_back(p.cornerCount);
    EXPECT_EQ(corners, (std::vector<int>{4, 2, 2, 1, 1, 1, 2, 1}));
    EXPECT_EQ(r.model.polygons[0].corners[1].position, 3);  // 1 4 3 2
    EXPECT_EQ(r.model.polygons[2].corners[0].position, 1);  // the segment 2-3
    EXPECT_EQ(r.model.polygons[2].corners[1].position, 2);
    EXPECT_EQ(r.model.polygons[3].corners[0].position, 3);
}

// Twice the signed area of a triangle in the xy plane.
double area2(const ModelVertex& a, const ModelVertex& b, const ModelVertex& c) {
    return (double(b.x) - a.x) * (double(c.y) - a.y) - (double(b.y) - a.y) * (double(c.x) - a.x);
}

bool insideOutline(const std::vector<ModelVertex>& outline, double x, double y) {
    bool in = false;
    for (std::size_t i = 0, j = outline.size() - 1; i < outline.size(); j = i++) {
        const ModelVertex &a = outline[i], &b = outline[j];
        if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x)
            in = !in;
    }
    return in;
}

TEST(ObjRead, ConcaveFacesAreSplitInsideTheirOutline) {
    // An arrow head (a notch at (2, 1)) and a U, in both windings, tilted out of every axis plane.
    const std::vector<std::vector<ModelVertex>> shapes = {
        {{0, 0, 0}, {4, 0, 0}, {4, 3, 0}, {2, 1, 0}, {0, 3, 0}, {0, 1.5f, 0}},
        {{0, 0, 0}, {3, 0, 0}, {3, 3, 0}, {2, 3, 0}, {2, 1, 0}, {1, 1, 0}, {1, 3, 0}, {0, 3, 0}},
    };
    for (const auto& flat : shapes) {
        for (bool reversed : {false, true}) {
            std::vector<ModelVertex> outline = flat;
            if (reversed)
                std::reverse(outline.begin(), outline.end());
            std::string text;
            for (const ModelVertex& v : outline)  // tilted: z grows with x and y
                text += "v " + std::to_string(v.x) + " " + std::to_string(v.y) + " " +
                        std::to_string(0.5 * v.x + 0.25 * v.y) + "\n";
            text += "f";
            for (std::size_t k = 1; k <= outline.size(); ++k)
                text += " " + std::to_string(k);
            const Read r = readText(text + "\n");
            ASSERT_FALSE(r.error) << r.error->message();
            ASSERT_EQ(r.model.polygonCount(), int(outline.size()) - 2);
            double outlineArea = 0;
            for (std::size_t i = 0; i < outline.size(); ++i)
                outlineArea += area2({}, outline[i], outline[(i + 1) % outline.size()]);
            double sum = 0;
            for (const ModelPolygon& p : r.model.polygons) {
                ASSERT_EQ(p.cornerCount, 3);
                const ModelVertex a = at(r.model, p, 0), b = at(r.model, p, 1), c = at(r.model, p, 2);
                // Wound as the face once turned into the model: opposite to the outline.
                const double t = area2(a, b, c);
                EXPECT_LT(t * outlineArea, 0);
                sum += t;
                EXPECT_TRUE(insideOutline(outline, (a.x + b.x + c.x) / 3.0, (a.y + b.y + c.y) / 3.0));
            }
            EXPECT_NEAR(std::fabs(sum), std::fabs(outlineArea), 1e-4);
        }
    }
    // A face that folds onto itself still gives corners - 2 triangles.
    std::vector<std::array<std::int32_t, 3>> out;
    const std::vector<ModelVertex> line = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {1, 0, 0}, {0, 0, 0}, {3, 0, 0}};
    triangulatePolygon(line, out);
    EXPECT_EQ(out.size(), 4u);
}

TEST(ObjRead, ColoursAfterPositionsBecomeVertexColours) {
    const Read r = readText("v 0 0 0 1 0 0\nv 1 0 0 0 0.5 0\nv 0 1 0\nf 1 2 3\n");
    ASSERT_FALSE(r.error) << r.error->message();
    EXPECT_EQ(r.model.vertexColorMode, 1);
    ASSERT_EQ(r.model.colorCount(), 3);
    EXPECT_EQ(r.model.colors[0], (ModelColor{255, 0, 0, 255}));
    EXPECT_EQ(r.model.colors[1], (ModelColor{0, 127.5f, 0, 255}));
    EXPECT_EQ(r.model.colors[2], (ModelColor{255, 255, 255, 255}));  // none given: white
    EXPECT_EQ(r.model.polygons[0].corners[1].color, 2);

    const Read plain = readText("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    EXPECT_EQ(plain.model.vertexColorMode, 0);
    EXPECT_EQ(plain.model.colorCount(), 1);
}

TEST(ObjRead, MaterialsBecomeOneGroupEachInOrderOfUse) {
    const std::string mtl = "newmtl red\nKd 1 0 0\nd 0.5\n"
                            "newmtl glass\nKd 0 0 1\nTr 0.75\n"
                            "newmtl unused\nKd 0 1 0\n"
                            "newmtl \xE8\xB5\xA4 wood\nKd 0.5 0.5 0.5\nmap_Kd tex/old wood.png\n"
                            "newmtl Terraind\xE6k\nKd 1 1 1\n";
    const std::string obj = "mtllib my lib.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\n"
                            "f 1 2 3\n"
                            "usemtl glass\nf 1 2 3\nusemtl red\nf 1 2 3\nl 1 2\n"
                            "usemtl \xE8\xB5\xA4 wood\nf 1/1 2/1 3/1\n"
                            "usemtl glass\np 1\n"
                            "usemtl nowhere\nf 1 2 3\n"
                            "usemtl Terraind\xE6k\nf 1 2 3\n";
    const Read r = readText(obj, {{"my lib.mtl", mtl}});
    ASSERT_FALSE(r.error) << r.error->message();
    const Model& m = r.model;
    // Default (faces before any usemtl and of the undefined one), glass, red, wood, Terraind?k.
    ASSERT_EQ(m.groupCount(), 5);
    EXPECT_EQ(m.groups[0].color, (ModelColor{255, 255, 255, 255}));
    EXPECT_EQ(m.groups[1].color, (ModelColor{0, 0, 255, 63.75f}));
    EXPECT_EQ(m.groups[2].color, (ModelColor{255, 0, 0, 127.5f}));
    EXPECT_EQ(m.groups[1].name, "glass");
    EXPECT_EQ(m.groups[3].name, "\x90\xD4 wood");  // "赤 wood" in Shift-JIS
    EXPECT_EQ(m.groups[4].name, "Terraindk");
    std::vector<int> groups;
    for (const ModelPolygon& p : m.polygons)
        groups.push_back(p.group);
    EXPECT_EQ(groups, (std::vector<int>{0, 1, 2, 2, 3, 1, 0, 4}));

    ASSERT_EQ(m.textureCount(), 2);
    EXPECT_EQ(m.groups[3].textureIndex, 1);
    EXPECT_EQ(m.groups[3].textured, 1);
    EXPECT_EQ(m.groups[2].textured, 0);
    EXPECT_EQ(m.textures[1].kind, 1);
    EXPECT_EQ(m.textures[1].folder, "tex");
    EXPECT_EQ(m.textures[1].fileName, "old wood.png");
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].find("nowhere"), std::string::npos);

    // Texture names are relative to their library's folder.
    const Read sub = readText("mtllib sub/more.mtl\nv 0 0 0\nusemtl stone\np 1\n",
                              {{"sub/more.mtl", "newmtl stone\nmap_Kd stone.png\n"}});
    ASSERT_EQ(sub.model.textureCount(), 2);
    EXPECT_EQ(sub.model.textures[1].folder, "sub");

    // Without a way to read the library: one group, and a warning.
    const Read bare = readText(obj, {}, false);
    ASSERT_FALSE(bare.error);
    EXPECT_EQ(bare.model.groupCount(), 1);
    ASSERT_EQ(bare.warnings.size(), 1u);
    EXPECT_NE(bare.warnings[0].find("my lib.mtl"), std::string::npos);
}

TEST(ObjRead, RefusesWhatItCannotRead) {
    const std::string tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {std::string("\xFF\xFEv\0 \0", 6), "UTF-16"},
        {std::string("\xFE\xFF\0v", 4), "UTF-16"},
        {std::string("v 0 0 0\nv\0 1", 12), "UTF-16"},
        {tri + "f 1 2 4\n", "line 4: vertex 4 is past the end"},
        {tri + "f 1/1 2/1 3/1\n", "texture coordinate 1 is past the end"},
        {tri + "f -4 -3 -2\n", "line 4: relative index -4"},
        {tri + "f 0 1 2\n", "\"0\" is not a vertex reference"},
        {tri + "l 1 2/x\n", "\"2/x\" is not a vertex reference"},
        {tri + "f 1 2 3 # comment\n", "\"#\" is not a vertex reference"},
        {"v 0 nan 0\n", "line 1: \"nan\" is not a finite number"},
        {"vn 0 0 -inf\n", "\"-inf\" is not a finite number"},
        {"vt 0 x\n", "\"x\" is not a number"},
        {"v 1e999 0 0\n", "vertex 1 is beyond the range of a float"},
        {"v 0 0 0 1 1e40 1\n", "colour of vertex 1 is beyond"},
    };
    for (const auto& [text, reason] : cases) {
        SCOPED_TRACE(text);
        const Read r = readText(text);
        ASSERT_TRUE(r.error.has_value());
        EXPECT_NE(r.error->message().find(reason), std::string::npos) << r.error->message();
    }
}

TEST(ObjRead, RefusesCountsPastSixteenTimesTheModelLimits) {
    std::string points = "v 0 0 0\np";
    for (int k = 0; k <= 16 * kMaxPolygons; ++k)
        points += " 1";
    Read r = readText(points + "\n");
    ASSERT_TRUE(r.error.has_value());
    EXPECT_NE(r.error->reason.find("more than 1040000 polygons"), std::string::npos) << r.error->reason;
    points.resize(points.size() - 2);  // exactly 16 x 65,000 reads
    r = readText(points + "\n");
    ASSERT_FALSE(r.error) << r.error->message();
    EXPECT_EQ(r.model.polygonCount(), 16 * kMaxPolygons);

    std::string uvs;
    for (int k = 0; k <= 16 * kMaxTableEntries; ++k)
        uvs += "vt 0\n";
    r = readText(uvs);
    ASSERT_TRUE(r.error.has_value());
    EXPECT_NE(r.error->reason.find("more than 4160000 texture coordinates"), std::string::npos) << r.error->reason;
}

// --- Our own export read back -------------------------------------------------------------------

std::string textureNameOf(const Model& m, const ModelGroup& g) {
    if (!g.textured || g.textureIndex <= 0 || g.textureIndex >= m.textureCount())
        return {};
    return fileNameOf(m.textures[std::size_t(g.textureIndex)].fileName);
}

TEST(ObjRoundTrip, ExportedCorpusModelsReadBackTheSame) {
    const fs::path corpus = test::corpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus";
    const std::vector<std::string> classic = {"kzp", "lwo", "mx", "x", "mqo", "rok", "dxf"};
    int compared = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
        const std::string ext = toLower(extensionOf(entry.path().filename().string()));
        if (!entry.is_regular_file() || std::find(classic.begin(), classic.end(), ext) == classic.end())
            continue;
        SCOPED_TRACE(fs::relative(entry.path(), corpus).string());
        test::TempDir dir;
        const fs::path copy = test::copyWithNeighbours(entry.path(), dir.path());
        const LoadResult source = loadModelFile(copy.string());
        if (!source.model)
            continue;
        const Model& a = *source.model;
        const fs::path out = dir.path() / "out";
        fs::create_directory(out);
        const std::string obj = outputPathFor(copy.string(), ConversionTarget::Obj, out.string());
        if (!saveModel(a, ConversionTarget::Obj, obj).ok)
            continue;
        const LoadResult back = loadModelFile(obj);
        ASSERT_TRUE(back.model) << errorText(back.error);
        const Model& b = *back.model;
        ++compared;

        // Polygons come back group by group, in list order within a group.
        std::vector<const ModelPolygon*> expected;
        std::vector<bool> used(a.groups.size(), false);
        for (std::size_t g = 0; g < a.groups.size(); ++g)
            for (const ModelPolygon& p : a.polygons)
                if (p.group == int(g) && p.cornerCount >= 1) {
                    expected.push_back(&p);
                    used[g] = true;
                }
        ASSERT_EQ(b.polygonCount(), int(expected.size()));
        ASSERT_EQ(b.positionCount(), a.positionCount());
        for (std::size_t i = 0; i < a.positions.size(); ++i) {
            const ModelVertex &p = a.positions[i], &q = b.positions[i];
            const float scale = std::max({1.0f, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
            ASSERT_NEAR(q.x, p.x, 1e-5f * scale);
            ASSERT_NEAR(q.y, p.y, 1e-5f * scale);
            ASSERT_NEAR(q.z, p.z, 1e-5f * scale);
        }
        for (std::size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(b.polygons[i].cornerCount, expected[i]->cornerCount) << "polygon " << i;
            for (int c = 0; c < expected[i]->cornerCount; ++c)
                ASSERT_EQ(b.polygons[i].corners[std::size_t(c)].position,
                          expected[i]->corners[std::size_t(c)].position);
        }

        std::vector<const ModelGroup*> groups;
        for (std::size_t g = 0; g < a.groups.size(); ++g)
            if (used[g])
                groups.push_back(&a.groups[g]);
        ASSERT_EQ(b.groupCount(), std::max<int>(1, int(groups.size())));
        std::set<std::string> textures;
        for (std::size_t g = 0; g < groups.size(); ++g) {
            const ModelGroup &x = *groups[g], &y = b.groups[g];
            for (auto [c, t, d] : {std::tuple{x.color.red, a.tint.red, y.color.red},
                                   std::tuple{x.color.green, a.tint.green, y.color.green},
                                   std::tuple{x.color.blue, a.tint.blue, y.color.blue},
                                   std::tuple{x.color.alpha, a.tint.alpha, y.color.alpha}})
                EXPECT_NEAR(d, std::clamp(c * t / 255.0f, 0.0f, 255.0f), 1e-3f) << "group " << g;
            // A texture the export found travels under its file name.
            const std::string name = textureNameOf(b, y);
            if (!name.empty()) {
                EXPECT_TRUE(equalsIgnoreCase(name, textureNameOf(a, x)) || name.ends_with("_" + textureNameOf(a, x)))
                    << name;
                textures.insert(name);
            }
        }
        EXPECT_EQ(b.textureCount(), int(textures.size()) + 1);
    }
    EXPECT_GE(compared, 30);
}

// --- Real files ---------------------------------------------------------------------------------

// The corpus files the MANIFEST marks NEGATIVE.
std::set<std::string> negativeFiles(const fs::path& corpus) {
    std::set<std::string> names;
    std::ifstream manifest(corpus / "MANIFEST.md");
    for (std::string line; std::getline(manifest, line);) {
        if (!line.starts_with("| `obj/") || line.find("NEGATIVE") == std::string::npos)
            continue;
        names.insert(line.substr(3, line.find('`', 3) - 3));
    }
    return names;
}

// Assimp's faces of an OBJ it writes back: triangles of each face, segments of each line, points.
long assimpFaces(const std::string& path, const std::string& out) {
    const std::string command = "assimp export '" + path + "' '" + out + "' -ptv >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        return -1;
    std::ifstream in(out);
    long faces = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.size() < 2 || line[1] != ' ' || (line[0] != 'f' && line[0] != 'l' && line[0] != 'p'))
            continue;
        long n = 0;
        std::istringstream words(line.substr(2));
        for (std::string w; words >> w;)
            ++n;
        faces += line[0] == 'f' ? n - 2 : line[0] == 'l' ? n - 1 : n;
    }
    return faces;
}

TEST(ObjCorpus, RealFilesReadAsAssimpReadsThemAndNegativeOnesAreRefused) {
    const fs::path corpus = test::corpusDir();
    if (corpus.empty() || !test::haveAssimp())
        GTEST_SKIP() << "no corpus or no assimp";
    const std::set<std::string> negative = negativeFiles(corpus);
    EXPECT_GE(negative.size(), 3u);
    int positives = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpus / "obj")) {
        if (!entry.is_regular_file() || toLower(extensionOf(entry.path().filename().string())) != "obj")
            continue;
        const std::string key = fs::relative(entry.path(), corpus).generic_string();
        SCOPED_TRACE(key);
        test::TempDir dir;
        const fs::path copy = test::copyWithNeighbours(entry.path(), dir.path());
        if (negative.count(key)) {
            const std::string command = std::string(REVIZEVOZ_CLI) + " convert --to kzp '" + copy.string() + "' 2>&1";
            FILE* pipe = ::popen(command.c_str(), "r");
            ASSERT_NE(pipe, nullptr);
            std::string said;
            for (char buffer[512]; std::fgets(buffer, sizeof buffer, pipe);)
                said += buffer;
            const int rc = ::pclose(pipe);
            EXPECT_EQ(WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, 1) << said;
            EXPECT_NE(said.find(copy.filename().string() + ": "), std::string::npos) << said;
            EXPECT_FALSE(fs::exists(copy.parent_path() / (copy.stem().string() + ".KZP")));
            continue;
        }
        ++positives;
        const LoadResult loaded = loadModelFile(copy.string());
        ASSERT_TRUE(loaded.model) << errorText(loaded.error);
        const Model& m = *loaded.model;
        long faces = 0;
        ModelVertex lo{1e30f, 1e30f, 1e30f}, hi{-1e30f, -1e30f, -1e30f};
        for (const ModelPolygon& p : m.polygons) {
            faces += p.cornerCount >= 3 ? p.cornerCount - 2 : 1;
            for (int c = 0; c < p.cornerCount; ++c) {
                const ModelVertex& v = at(m, p, c);
                lo = {std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z)};
                hi = {std::max(hi.x, v.x), std::max(hi.y, v.y), std::max(hi.z, v.z)};
            }
        }
        EXPECT_EQ(faces, assimpFaces(copy.string(), dir.file("assimp.obj")));
        const auto info = test::assimpInfo(copy.string());
        ASSERT_TRUE(info.has_value());
        const double tolerance =
            1e-4 * std::max({1.0, double(std::fabs(lo.x)), double(std::fabs(hi.x)), double(std::fabs(lo.y)),
                             double(std::fabs(hi.y)), double(std::fabs(lo.z)), double(std::fabs(hi.z))});
        EXPECT_NEAR(info->min[0], lo.x, tolerance);
        EXPECT_NEAR(info->min[1], lo.y, tolerance);
        EXPECT_NEAR(info->min[2], -hi.z, tolerance);
        EXPECT_NEAR(info->max[0], hi.x, tolerance);
        EXPECT_NEAR(info->max[1], hi.y, tolerance);
        EXPECT_NEAR(info->max[2], -lo.z, tolerance);
    }
    EXPECT_GE(positives, 15);
}

}  // namespace
}  // namespace rv

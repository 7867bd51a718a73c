// The meshes of a glTF scene as model polygons: node transforms composed down the hierarchy, every
// primitive mode, and the inverse of our export's turn into glTF's right-handed system (z negated,
// winding reversed).
#include <cmath>
#include <limits>
#include <numeric>

#include "formats/gltf/gltf_reader.h"
#include "model/mesh.h"
#include "model/vertex_hash.h"

namespace rv {
namespace {

using Matrix = std::array<double, 16>;  // column-major, as glTF stores it

constexpr Matrix kIdentity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

Matrix multiply(const Matrix& a, const Matrix& b) {
    Matrix m{};
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 4; ++k)
                m[std::size_t(c * 4 + r)] += a[std::size_t(k * 4 + r)] * b[std::size_t(c * 4 + k)];
    return m;
}

Matrix localMatrix(const tinygltf::Node& node) {
    if (node.matrix.size() == 16) {
        Matrix m;
        std::copy(node.matrix.begin(), node.matrix.end(), m.begin());
        return m;
    }
    Matrix m = kIdentity;
    if (node.rotation.size() == 4) {
        double x = node.rotation[0], y = node.rotation[1], z = node.rotation[2], w = node.rotation[3];
        const double length = std::sqrt(x * x + y * y + z * z + w * w);
        if (length > 0) {
            x /= length, y /= length, z /= length, w /= length;
            m = {1 - 2 * (y * y + z * z),
                 2 * (x * y + z * w),
                 2 * (x * z - y * w),
                 0,
                 2 * (x * y - z * w),
                 1 - 2 * (x * x + z * z),
                 2 * (y * z + x * w),
                 0,
                 2 * (x * z + y * w),
                 2 * (y * z - x * w),
                 1 - 2 * (x * x + y * y),
                 0,
                 0,
                 0,
                 0,
                 1};
        }
    }
    if (node.scale.size() == 3)
        for (int c = 0; c < 3; ++c)
            for (int r = 0; r < 3; ++r)
                m[std::size_t(c * 4 + r)] *= node.scale[std::size_t(c)];
    if (node.translation.size() == 3)
        for (int r = 0; r < 3; ++r)
            m[std::size_t(12 + r)] = node.translation[std::size_t(r)];
    return m;
}

// The cofactors of the upper 3x3 (the inverse transpose times the determinant), row by row.
std::array<double, 9> cofactors(const Matrix& m, double& determinant) {
    auto a = [&](int r, int c) { return m[std::size_t(c * 4 + r)]; };
    std::array<double, 9> co{};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            const int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
            co[std::size_t(r * 3 + c)] = a(r1, c1) * a(r2, c2) - a(r1, c2) * a(r2, c1);
        }
    determinant = a(0, 0) * co[0] + a(0, 1) * co[1] + a(0, 2) * co[2];
    return co;
}

// One vertex of one mesh instance, before the tables are made: the key of each table entry.
struct VertexKeys {
    std::vector<std::array<float, 4>> positions;  // x, y, z and 0, or NaN for a skinned vertex (never merged)
    std::vector<std::array<float, 3>> normals;  // NaN where the primitive has none
    std::vector<std::array<float, 2>> uvs;
    std::vector<std::array<float, 4>> colors;
    std::vector<GltfVertexOrigin> origins;
};
// The polygons a primitive's mode makes of its indices, as glTF orders their corners: points with
// one corner, lines with two, triangles with three (unused corners 0).
std::vector<std::array<std::uint32_t, 3>> cornersOfMode(int mode, const std::vector<std::uint32_t>& at) {
    std::vector<std::array<std::uint32_t, 3>> made;
    const std::size_t n = at.size();
    switch (mode) {
    case TINYGLTF_MODE_POINTS:
        for (std::size_t k = 0; k < n; ++k)
            made.push_back({at[k], 0, 0});
        break;
    case TINYGLTF_MODE_LINE:
        for (std::size_t k = 0; k + 1 < n; k += 2)
            made.push_back({at[k], at[k + 1], 0});
        break;
    case TINYGLTF_MODE_LINE_STRIP:
    case TINYGLTF_MODE_LINE_LOOP:
        for (std::size_t k = 0; k + 1 < n; ++k)
            made.push_back({at[k], at[k + 1], 0});
        if (mode == TINYGLTF_MODE_LINE_LOOP && n > 2)
            made.push_back({at[n - 1], at[0], 0});
        break;
    case TINYGLTF_MODE_TRIANGLES:
        for (std::size_t k = 0; k + 2 < n; k += 3)
            made.push_back({at[k], at[k + 1], at[k + 2]});
        break;
    case TINYGLTF_MODE_TRIANGLE_STRIP:
        for (std::size_t k = 0; k + 2 < n; ++k)
            made.push_back(k % 2 == 0 ? std::array{at[k], at[k + 1], at[k + 2]}
                                      : std::array{at[k], at[k + 2], at[k + 1]});
        break;
    default:  // TRIANGLE_FAN
        for (std::size_t k = 1; k + 1 < n; ++k)
            made.push_back({at[0], at[k], at[k + 1]});
        break;
    }
    return made;
}

// A normal through the cofactor matrix of the node's transform (its inverse transpose up to the
// determinant's sign), unit length, z turned to the model's left-handed system.
std::array<float, 3> turnedNormal(const std::array<double, 9>& co, double sign, double nx, double ny, double nz) {
    double n[3];
    for (int r = 0; r < 3; ++r)
        n[r] = sign * (co[std::size_t(r * 3)] * nx + co[std::size_t(r * 3 + 1)] * ny + co[std::size_t(r * 3 + 2)] * nz);
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    const double scale = length > 0 && std::isfinite(length) ? 1 / length : 0;
    return {float(n[0] * scale), float(n[1] * scale), -float(n[2] * scale)};
}

struct MeshReader {
    const tinygltf::Model& gltf;
    const std::function<GltfLook(int)>& lookOf;
    Model& model;
    bool vertexColors = false;
    VertexKeys keys;
    std::vector<std::array<std::uint32_t, 4>> corners;  // per polygon: vertex keys
    std::vector<float> positions, normals, uvs, colors;
    std::vector<std::uint32_t> indices;
    std::vector<std::int32_t> vertexOf;

    MeshReader(const tinygltf::Model& g, const std::function<GltfLook(int)>& look, Model& m)
        : gltf(g),
          lookOf(look),
          model(m) {}
    std::optional<std::string> readPrimitive(int node, const Matrix& world, int mesh, int p);
    std::optional<std::string> readIndices(const tinygltf::Primitive& primitive, std::size_t count);
    std::optional<std::string> attribute(const tinygltf::Primitive& primitive, const std::string& name,
                                         std::vector<float>& out, std::initializer_list<int> sizes, std::size_t count,
                                         int& components);
    void buildTables(std::vector<GltfVertexOrigin>& origins);
};

std::optional<std::string> MeshReader::attribute(const tinygltf::Primitive& primitive, const std::string& name,
                                                 std::vector<float>& out, std::initializer_list<int> sizes,
                                                 std::size_t count, int& components) {
    out.clear();
    components = 0;
    const auto it = primitive.attributes.find(name);
    if (it == primitive.attributes.end())
        return std::nullopt;
    if (auto bad = readGltfFloats(gltf, it->second, out, components, sizes))
        return name + ": " + *bad;
    if (out.size() / std::size_t(components) != count)
        return name + " has " + std::to_string(out.size() / std::size_t(components)) + " elements, POSITION " +
               std::to_string(count);
    return std::nullopt;
}

// The primitive's indices, checked against its vertex count; 0..count-1 when it has none.
std::optional<std::string> MeshReader::readIndices(const tinygltf::Primitive& primitive, std::size_t count) {
    if (primitive.indices < 0) {
        indices.resize(count);
        std::iota(indices.begin(), indices.end(), 0u);
        return std::nullopt;
    }
    if (auto bad = readGltfIndices(gltf, primitive.indices, indices))
        return bad;
    for (std::uint32_t i : indices)
        if (i >= count)
            return "index " + std::to_string(i) + " is past its " + std::to_string(count) + " vertices";
    return std::nullopt;
}

std::optional<std::string> MeshReader::readPrimitive(int node, const Matrix& world, int mesh, int p) {
    const tinygltf::Primitive& primitive = gltf.meshes[std::size_t(mesh)].primitives[std::size_t(p)];
    const std::string where = "mesh " + std::to_string(mesh) + " primitive " + std::to_string(p) + ": ";
    if (primitive.mode < TINYGLTF_MODE_POINTS || primitive.mode > TINYGLTF_MODE_TRIANGLE_FAN)
        return where + "unknown primitive mode " + std::to_string(primitive.mode);
    int components = 0;
    if (primitive.attributes.find("POSITION") == primitive.attributes.end())
        return std::nullopt;  // nothing to draw
    if (auto bad = readGltfFloats(gltf, primitive.attributes.at("POSITION"), positions, components, {3}))
        return where + "POSITION: " + *bad;
    const std::size_t count = positions.size() / 3;
    const GltfLook look = lookOf(primitive.material);
    int normalSize = 0, uvSize = 0, colorSize = 0;
    if (auto bad = attribute(primitive, "NORMAL", normals, {3}, count, normalSize))
        return where + bad.value();
    if (auto bad = attribute(primitive, "TEXCOORD_" + std::to_string(look.texCoord), uvs, {2}, count, uvSize))
        return where + bad.value();
    if (auto bad = attribute(primitive, "COLOR_0", colors, {3, 4}, count, colorSize))
        return where + bad.value();

    if (auto bad = readIndices(primitive, count))
        return where + bad.value();

    // Skinned meshes are drawn as stored: glTF ignores the transform of their node.
    const bool skinned = gltf.nodes[std::size_t(node)].skin >= 0;
    const Matrix& m = skinned ? kIdentity : world;
    double determinant = 1;
    const std::array<double, 9> co = cofactors(m, determinant);
    const double sign = determinant < 0 ? -1 : 1;
    vertexOf.assign(count, -1);
    auto vertex = [&](std::uint32_t i) -> std::optional<std::uint32_t> {
        if (vertexOf[i] >= 0)
            return std::uint32_t(vertexOf[i]);
        const double x = positions[i * 3], y = positions[i * 3 + 1], z = positions[i * 3 + 2];
        const std::array<float, 4> position{
            float(m[0] * x + m[4] * y + m[8] * z + m[12]), float(m[1] * x + m[5] * y + m[9] * z + m[13]),
            -float(m[2] * x + m[6] * y + m[10] * z + m[14]), skinned ? std::numeric_limits<float>::quiet_NaN() : 0.0f};
        if (!std::isfinite(position[0]) || !std::isfinite(position[1]) || !std::isfinite(position[2]))
            return std::nullopt;
        std::array<float, 3> normal;
        normal.fill(std::numeric_limits<float>::quiet_NaN());
        if (normalSize)
            normal = turnedNormal(co, sign, normals[i * 3], normals[i * 3 + 1], normals[i * 3 + 2]);
        const std::array<float, 2> uv =
            uvSize ? look.textureCoordinate(uvs[i * 2], uvs[i * 2 + 1]) : std::array<float, 2>{};
        std::array<float, 4> color{255, 255, 255, 255};
        if (vertexColors)
            for (int c = 0; c < 4; ++c)
                color[std::size_t(c)] = (c < colorSize ? colors[i * std::size_t(colorSize) + std::size_t(c)] : 1.0f) *
                                        look.color[std::size_t(c)] * 255.0f;
        keys.positions.push_back(position);
        keys.normals.push_back(normal);
        keys.uvs.push_back(uv);
        keys.colors.push_back(color);
        keys.origins.push_back({node, mesh, p, i});
        vertexOf[i] = std::int32_t(keys.positions.size() - 1);
        return std::uint32_t(vertexOf[i]);
    };

    // Corners in glTF order; triangles are reversed below unless the transform mirrors them.
    const std::vector<std::array<std::uint32_t, 3>> made = cornersOfMode(primitive.mode, indices);
    if (model.polygons.size() + made.size() > kGltfMaxPolygons)
        return "the file holds more than " + std::to_string(kGltfMaxPolygons) + " polygons, too many to read";

    const int cornerCount = primitive.mode == TINYGLTF_MODE_POINTS       ? 1
                            : primitive.mode <= TINYGLTF_MODE_LINE_STRIP ? 2
                                                                         : 3;
    const bool reverse = cornerCount == 3 && !(determinant < 0);
    // Our export splits each quad into the triangles (0, 2, 1) and (0, 3, 2) of a list it marks.
    const bool quads = primitive.mode == TINYGLTF_MODE_TRIANGLES && primitive.extras.Has("quads");
    for (std::size_t k = 0; k < made.size(); ++k) {
        const auto& polygon = made[k];
        ModelPolygon out;
        out.cornerCount = std::uint8_t(cornerCount);
        out.group = look.group;
        std::array<std::uint32_t, 4> v{};
        for (int c = 0; c < cornerCount; ++c) {
            const auto index = vertex(polygon[std::size_t(c)]);
            if (!index)
                return where + "a position is not a finite number";
            v[std::size_t(c)] = *index;
        }
        if (reverse)
            std::swap(v[1], v[2]);
        if (quads && k + 1 < made.size() && made[k + 1][0] == polygon[0] && made[k + 1][2] == polygon[1]) {
            const auto index = vertex(made[k + 1][1]);
            if (!index)
                return where + "a position is not a finite number";
            // The quad (0, 1, 2, 3), or (0, 3, 2, 1) where a mirroring node keeps glTF's winding.
            v = reverse ? std::array{v[0], v[1], v[2], *index} : std::array{v[0], *index, v[1], v[2]};
            out.cornerCount = 4;
            ++k;
        }
        model.polygons.push_back(out);
        corners.push_back(v);
    }
    if (keys.positions.size() > kGltfMaxEntries)
        return "the file holds more than " + std::to_string(kGltfMaxEntries) + " vertices, too many to read";
    return std::nullopt;
}

// Tables of distinct entries from the vertex keys, and corners pointing into them.
void MeshReader::buildTables(std::vector<GltfVertexOrigin>& origins) {
    const std::size_t count = keys.positions.size();
    FirstMatchScratch scratch;
    std::vector<std::int32_t> position(count), normal(count), uv(count), color(count);
    buildFirstMatchRemap<4>(position, keys.positions, &scratch);
    buildFirstMatchRemap<2>(uv, keys.uvs, &scratch);
    buildFirstMatchRemap<4>(color, keys.colors, &scratch);
    // Vertices without a normal get the smoothed one below; NaN keys would each make an entry.
    bool allNormals = true;
    std::vector<std::array<float, 3>> given;
    std::vector<std::size_t> givenOf;
    for (std::size_t i = 0; i < count; ++i)
        if (keys.normals[i][0] == keys.normals[i][0]) {
            givenOf.push_back(i);
            given.push_back(keys.normals[i]);
        } else {
            allNormals = false;
        }
    std::vector<std::int32_t> givenIndex(given.size());
    buildFirstMatchRemap<3>(givenIndex, given, &scratch);
    normal.assign(count, -1);
    for (std::size_t k = 0; k < givenOf.size(); ++k)
        normal[givenOf[k]] = givenIndex[k];

    origins.clear();
    model.positions.clear();
    for (std::size_t i = 0; i < count; ++i)
        if (std::size_t(position[i]) == model.positions.size()) {
            model.positions.push_back({keys.positions[i][0], keys.positions[i][1], keys.positions[i][2]});
            origins.push_back(keys.origins[i]);
        }
    auto fill = [&](auto& table, const auto& values, const std::vector<std::int32_t>& remap, auto make) {
        table.clear();
        for (std::size_t i = 0; i < values.size(); ++i)
            if (std::size_t(remap[i]) == table.size())
                table.push_back(make(values[i]));
    };
    fill(model.uvs, keys.uvs, uv, [](const std::array<float, 2>& k) { return ModelUV{k[0], k[1]}; });
    fill(model.colors, keys.colors, color, [](const std::array<float, 4>& k) {
        return ModelColor{k[0], k[1], k[2], k[3]};
    });
    HugePageVector<ModelVertex> givenNormals;
    fill(givenNormals, given, givenIndex, [](const std::array<float, 3>& k) { return ModelVertex{k[0], k[1], k[2]}; });

    for (std::size_t p = 0; p < model.polygons.size(); ++p) {
        ModelPolygon& polygon = model.polygons[p];
        for (int c = 0; c < polygon.cornerCount; ++c) {
            const std::uint32_t k = corners[p][std::size_t(c)];
            polygon.corners[std::size_t(c)] = {position[k], 0, color[k], uv[k]};
        }
    }
    // Face and smoothed normals for every polygon; the file's own normals where it gives them.
    computeNormals(model);
    const std::int32_t offset = allNormals ? 0 : std::int32_t(model.normals.size());
    if (allNormals)
        model.normals = std::move(givenNormals);
    else
        model.normals.insert(model.normals.end(), givenNormals.begin(), givenNormals.end());
    for (std::size_t p = 0; p < model.polygons.size(); ++p) {
        ModelPolygon& polygon = model.polygons[p];
        for (int c = 0; c < polygon.cornerCount; ++c) {
            const std::int32_t given = normal[corners[p][std::size_t(c)]];
            if (given >= 0)
                polygon.corners[std::size_t(c)].normal = given + offset;
        }
    }
}

}  // namespace

std::optional<std::string> readGltfMeshes(const tinygltf::Model& gltf, const std::function<GltfLook(int)>& lookOf,
                                          Model& model, std::vector<GltfVertexOrigin>& origins) {
    std::vector<int> roots;
    if (auto bad = gltfSceneRoots(gltf, roots))
        return bad;
    MeshReader reader{gltf, lookOf, model};
    // Vertex colours are the model's when any mesh has them; other meshes then show their
    // material colour through them.
    for (const tinygltf::Mesh& mesh : gltf.meshes)
        for (const tinygltf::Primitive& primitive : mesh.primitives)
            reader.vertexColors = reader.vertexColors || primitive.attributes.count("COLOR_0") > 0;
    model.polygons.clear();
    std::vector<std::pair<int, Matrix>> stack;
    for (auto it = roots.rbegin(); it != roots.rend(); ++it)
        stack.emplace_back(*it, kIdentity);
    while (!stack.empty()) {
        const auto [n, parent] = stack.back();
        stack.pop_back();
        const tinygltf::Node& node = gltf.nodes[std::size_t(n)];
        const Matrix world = multiply(parent, localMatrix(node));
        if (node.mesh >= 0) {
            if (std::size_t(node.mesh) >= gltf.meshes.size())
                return "node " + std::to_string(n) + " names mesh " + std::to_string(node.mesh) +
                       ", which does not exist";
            const auto& primitives = gltf.meshes[std::size_t(node.mesh)].primitives;
            for (std::size_t p = 0; p < primitives.size(); ++p)
                if (auto bad = reader.readPrimitive(n, world, node.mesh, int(p)))
                    return bad;
        }
        for (auto it = node.children.rbegin(); it != node.children.rend(); ++it)
            stack.emplace_back(*it, world);
    }
    reader.buildTables(origins);
    model.vertexColorMode = reader.vertexColors ? 1 : 0;
    return std::nullopt;
}

}  // namespace rv

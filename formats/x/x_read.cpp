// The X reader: the merged .x mesh becomes one group per material and one triangle per face.
#include <algorithm>
#include <cstdio>
#include <string>

#include "formats/common/text_cursor.h"
#include "formats/x/x.h"
#include "formats/x/x_mesh.h"
#include "formats/x/x_parser.h"
#include "model/mesh.h"

namespace rv {

namespace {

inline constexpr int kMaxXGroups = 256;
inline constexpr int kMaxXTextures = 256;  // entries 0 to 255
inline constexpr std::size_t kBoneKeys = 16;

std::string cutAtLastDot(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(0, dot);
}

// The colour a D3DX viewer shows: it draws without blending, so a diffuse alpha of 0 (common in
// exported files) is opaque, and a mesh without materials is plain white rather than the loader's
// grey stand-in.
ModelColor groupColorOf(const XMaterial& material) {
    if (material.standIn)
        return {255, 255, 255, 255};
    const auto& d = material.diffuse;
    const float alpha = d[3] == 0 ? 255.0f : d[3] * 255.0f;
    return {d[0] * 255.0f, d[1] * 255.0f, d[2] * 255.0f, alpha};
}

// One group per material, textures numbered from entry 1; returns the group count.
int groupsFromMaterials(const XMesh& mesh, Model& model) {
    const int groupCount = int(std::min<std::size_t>(mesh.materials.size(), kMaxXGroups));
    model.groups.assign(std::size_t(groupCount), ModelGroup{});
    for (int i = 0; i < groupCount; ++i) {
        const XMaterial& material = mesh.materials[std::size_t(i)];
        ModelGroup& group = model.groups[std::size_t(i)];
        group.textureIndex = 0;
        group.edgeParam = 10;
        group.color = groupColorOf(material);
        if (material.hasTexture && !material.texture.empty() && model.textureCount() < kMaxXTextures) {
            const int entry = model.textureCount();
            ModelTexture texture;
            texture.kind = 1;
            texture.fileName = material.texture.substr(0, kMaxNameBytes);
            model.textures.push_back(texture);
            group.name = cutAtLastDot(model.textures[std::size_t(entry)].fileName);
            group.textureIndex = entry;
            group.textured = 1;
        }
    }
    return groupCount;
}

// More vertices than the tables hold happens only when later meshes were dropped with the faces
// past the polygon limit: keeps just the vertices the kept triangles use, in first-use order
// (what welding makes of them anyway).
void keepUsedVertices(XMesh& mesh) {
    std::vector<std::uint32_t> remap(mesh.positions.size(), UINT32_MAX);
    std::vector<std::uint32_t> order;
    for (const auto& tri : mesh.triangles)
        for (std::uint32_t v : tri)
            if (remap[v] == UINT32_MAX) {
                remap[v] = std::uint32_t(order.size());
                order.push_back(v);
            }
    auto gather = [&](auto& table) {
        std::remove_reference_t<decltype(table)> kept(order.size());
        for (std::size_t k = 0; k < order.size(); ++k)
            kept[k] = table[order[k]];
        table.swap(kept);
    };
    gather(mesh.positions);
    gather(mesh.normals);
    gather(mesh.colors);
    gather(mesh.uvs);
    for (auto& tri : mesh.triangles)
        for (std::uint32_t& v : tri)
            v = remap[v];
}

void tablesFromMesh(const XMesh& mesh, Model& model) {
    const std::size_t vertexCount = mesh.positions.size();
    model.positions.resize(vertexCount);
    model.normals.resize(vertexCount);
    model.colors.resize(vertexCount);
    model.uvs.resize(vertexCount);
    model.skin.assign(vertexCount, ModelSkinWeight{});
    for (std::size_t k = 0; k < vertexCount; ++k) {
        model.positions[k] = {mesh.positions[k][0], mesh.positions[k][1], mesh.positions[k][2]};
        model.normals[k] = {mesh.normals[k][0], mesh.normals[k][1], mesh.normals[k][2]};
        const std::uint32_t c = mesh.colors[k];
        if ((c >> 24) == 0)
            model.colors[k] = {255, 255, 255, 255};
        else
            model.colors[k] = {float((c >> 16) & 0xFF), float((c >> 8) & 0xFF), float(c & 0xFF), 255};
        model.uvs[k] = {mesh.uvs[k][0], mesh.uvs[k][1]};
    }
}

// Faces, each in its own material's group; materials past the group limit have no group, and
// their faces go to the first.
void polygonsFromMesh(const XMesh& mesh, int groupCount, Model& model) {
    model.polygons.resize(mesh.triangles.size());
    for (std::size_t i = 0; i < mesh.triangles.size(); ++i) {
        ModelPolygon& polygon = model.polygons[i];
        polygon.cornerCount = 3;
        for (int j = 0; j < 3; ++j) {
            const auto v = std::int32_t(mesh.triangles[i][std::size_t(j)]);
            polygon.corners[std::size_t(j)] = {v, v, v, v};
        }
        const std::uint32_t material = mesh.attributes[i];
        polygon.group = material < std::uint32_t(groupCount) ? std::int32_t(material) : 0;
    }
}

// The merged mesh of the file; the parsed document (the file's values, several times the size
// of the mesh) is gone when this returns.
std::optional<FormatError> meshOfFile(std::span<const std::byte> file, XMesh& mesh) {
    XDocument doc;
    if (auto e = parseX(file, doc))
        return e;
    XMeshLimits limits;
    limits.maxTriangles = std::size_t(kMaxPolygons);
    if (auto e = buildXMesh(doc, mesh, limits)) {
        // Object offsets count from the end of the header; text files also get the line.
        if (doc.header.compressed) {
            e->reason += " (in the decompressed data)";
        } else {
            e->offset += 16;
            if (doc.header.encoding == XEncoding::Text && e->offset > 16)
                e->line = TextCursor(file).lineAt(e->offset);
        }
        return e;
    }
    return std::nullopt;
}

}  // namespace

std::optional<FormatError> readX(std::span<const std::byte> file, Model& model, ReadContext& ctx) {
    {
        XMesh mesh;
        if (auto e = meshOfFile(file, mesh))
            return e;
        if (!ctx.path.empty())
            model.fileName = ctx.path;
        const int groupCount = groupsFromMaterials(mesh, model);
        if (mesh.positions.size() > std::size_t(kMaxTableEntries))
            keepUsedVertices(mesh);
        tablesFromMesh(mesh, model);
        if (mesh.triangleCount > std::uint64_t(kMaxPolygons)) {
            char line[512];
            std::snprintf(line, sizeof line, "%s : ポリゴン数 %llu ( 最大%dを超えています )", ctx.path.c_str(),
                          static_cast<unsigned long long>(mesh.triangleCount), kMaxPolygons);
            ctx.warn(line);
        }
        polygonsFromMesh(mesh, groupCount, model);
    }  // the merged mesh is freed before welding needs its working memory

    model.tint = {255, 255, 255, 255};
    for (int b = 0; b < model.boneCount && b < kMaxBones; ++b) {
        ModelBone& bone = model.bones[std::size_t(b)];
        bone.tracks.resize(1);
        bone.tracks[0].keys.resize(kBoneKeys);
    }
    weldModel(model);
    return std::nullopt;
}

}  // namespace rv

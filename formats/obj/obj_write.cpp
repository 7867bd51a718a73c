#include "formats/obj/obj.h"

#include <charconv>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "formats/common/export_support.h"
#include "formats/common/model_checks.h"
#include "runtime/paths.h"

namespace rv {
namespace {

// Appends text and numbers; floats in their shortest form that reads back to the same value.
struct Text {
    std::string out;

    Text& operator<<(std::string_view s) {
        out += s;
        return *this;
    }
    Text& operator<<(float v) {
        char buf[32];
        out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
        return *this;
    }
    Text& operator<<(std::int64_t v) {
        char buf[24];
        out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
        return *this;
    }
};

template <class T, class A>
bool inTable(std::int32_t index, const std::vector<T, A>& table) {
    return index >= 0 && std::size_t(index) < table.size();
}

// Material names are single words: blanks become '_', and repeats get the group number.
std::vector<std::string> materialNames(const Model& model) {
    std::vector<std::string> names;
    std::set<std::string> used;
    for (std::size_t g = 0; g < model.groups.size(); ++g) {
        std::string name = exportText(model.groups[g].name);
        for (char& c : name)
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
                c = '_';
        if (name.empty())
            name = "group";
        if (used.count(name))
            name += "_" + std::to_string(g);
        used.insert(name);
        names.push_back(name);
    }
    return names;
}

std::vector<std::byte> bytesOf(const std::string& text) {
    std::vector<std::byte> bytes(text.size());
    std::memcpy(bytes.data(), text.data(), text.size());
    return bytes;
}

// The texture file of entry `entry` as the .mtl names it beside the output (copied there as a side
// file when it lives elsewhere, written there when the model carries the image); empty when it
// cannot be had.
std::string textureName(const Model& model, int entry, WriteContext& ctx, const std::string& folder,
                        std::map<std::string, std::string>& copies) {
    const ModelTexture& texture = model.textures[std::size_t(entry)];
    const EmbeddedImage* embedded = embeddedImageOf(model, texture);
    const auto file = embedded ? std::nullopt : textureFile(model, texture);
    std::string name = embedded ? sideFileName(embedded->name) : file ? fileNameOf(*file) : std::string();
    std::optional<std::vector<std::byte>> bytes;
    if (!name.empty())
        bytes = embedded ? embedded->bytes : readFile(*file);
    if (!bytes) {
        ctx.warnings.push_back(ctx.outputPath + ": texture " + exportText(texture.fileName) +
                               " was not found; its groups are exported untextured");
        return {};
    }
    // What the copy is made from: a path, or the embedded image's name after a NUL no path holds.
    const std::string source = embedded ? std::string(1, '\0') + embedded->name : *file;
    const auto found = copies.find(name);
    if (found != copies.end() && found->second != source)
        name = std::to_string(entry) + "_" + name;  // another texture of the same name
    else if (found != copies.end())
        return name;
    copies[name] = source;
    const std::string target = folder.empty() ? name : joinPath(folder, name);
    std::error_code ec;
    if (embedded || !std::filesystem::equivalent(*file, target, ec))
        ctx.sideFiles.push_back({target, std::move(*bytes)});
    return name;
}

}  // namespace

std::optional<FormatError> writeObj(const Model& model, WriteContext& ctx) {
    for (std::size_t p = 0; p < model.polygons.size(); ++p)
        if (auto refused = checkPolygonCorners(model, p))
            return refused;
    const std::string target = ctx.outputPath.empty() ? "model.obj" : ctx.outputPath;
    const std::string folder = directoryOf(target);
    const std::string base =
        baseNameOf(fileNameOf(target)).empty() ? fileNameOf(target) : baseNameOf(fileNameOf(target));
    const std::string mtlName = base + ".mtl";
    const std::vector<std::string> materials = materialNames(model);

    std::vector<std::vector<std::size_t>> byGroup(model.groups.size());
    for (std::size_t p = 0; p < model.polygons.size(); ++p) {
        const ModelPolygon& polygon = model.polygons[p];
        if (polygon.cornerCount >= 1 && inTable(polygon.group, model.groups))
            byGroup[std::size_t(polygon.group)].push_back(p);
    }

    Text obj;
    obj.out.reserve(model.positions.size() * 40 + model.polygons.size() * 48);
    obj << "# REVizevoz 2015\nmtllib " << mtlName << "\n";
    for (const ModelVertex& v : model.positions)
        obj << "v " << v.x << " " << v.y << " " << -v.z << "\n";
    // OBJ puts the texture origin at the bottom left, the model at the top left.
    for (const ModelUV& uv : model.uvs)
        obj << "vt " << uv.u << " " << 1.0f - uv.v << "\n";
    for (const ModelVertex& n : model.normals)
        obj << "vn " << n.x << " " << n.y << " " << -n.z << "\n";

    Text mtl;
    mtl << "# REVizevoz 2015\n";
    std::map<int, std::string> textureNames;
    std::map<std::string, std::string> copies;
    for (std::size_t g = 0; g < model.groups.size(); ++g) {
        if (byGroup[g].empty())
            continue;
        const ModelGroup& group = model.groups[g];
        mtl << "\nnewmtl " << materials[g] << "\n";
        mtl << "Kd " << tintedComponent(group.color.red, model.tint.red) << " "
            << tintedComponent(group.color.green, model.tint.green) << " "
            << tintedComponent(group.color.blue, model.tint.blue) << "\n";
        mtl << "d " << tintedComponent(group.color.alpha, model.tint.alpha) << "\n";
        if (groupTexture(model, group)) {
            auto it = textureNames.find(group.textureIndex);
            if (it == textureNames.end())
                it = textureNames
                         .emplace(group.textureIndex, textureName(model, group.textureIndex, ctx, folder, copies))
                         .first;
            if (!it->second.empty())
                mtl << "map_Kd " << it->second << "\n";
        }

        obj << "g " << materials[g] << "\nusemtl " << materials[g] << "\n";
        for (std::size_t p : byGroup[g]) {
            const ModelPolygon& polygon = model.polygons[p];
            const int n = polygon.cornerCount;
            bool uvs = true, normals = true;
            for (int c = 0; c < n; ++c) {
                uvs = uvs && inTable(polygon.corners[std::size_t(c)].uv, model.uvs);
                normals = normals && inTable(polygon.corners[std::size_t(c)].normal, model.normals);
            }
            // A point names its position only; a line its positions and texture coordinates.
            const bool point = n == 1, line = n == 2;
            obj << (point ? "p" : line ? "l" : "f");
            // Corner 0 first, the rest reversed: the same face wound for the right-handed system.
            for (int k = 0; k < n; ++k) {
                const ModelCorner& c = polygon.corners[std::size_t(k == 0 ? 0 : n - k)];
                obj << " " << std::int64_t(c.position) + 1;
                if (point)
                    continue;
                if (uvs)
                    obj << "/" << std::int64_t(c.uv) + 1;
                if (normals && !line)
                    obj << (uvs ? "/" : "//") << std::int64_t(c.normal) + 1;
            }
            obj << "\n";
        }
    }
    ctx.bytes = bytesOf(obj.out);
    // The material library is listed before any texture copies it names.
    ctx.sideFiles.insert(ctx.sideFiles.begin(),
                         {folder.empty() ? mtlName : joinPath(folder, mtlName), bytesOf(mtl.out)});
    return std::nullopt;
}

}  // namespace rv

// Wavefront OBJ import. tinyobjloader reads the numbers of the "v", "vt" and "vn" lines (with the
// colours some exporters put after a position) and the .mtl files; our first pass (obj_scan)
// reads the elements, which tinyobjloader keeps only in part: it drops the material of lines and
// points, faces of one or two corners and corner counts past 255.
#include <tiny_obj_loader.h>

#include <cmath>
#include <cstring>
#include <istream>
#include <map>
#include <streambuf>

#include "formats/common/text_cursor.h"
#include "formats/obj/obj.h"
#include "formats/obj/obj_scan.h"
#include "model/mesh.h"
#include "model/triangulate.h"
#include "runtime/paths.h"

namespace rv {
namespace {

// An input stream over bytes already in memory, so that a 1 GiB file is not copied.
class MemoryBuffer : public std::streambuf {
public:
    explicit MemoryBuffer(std::string_view text) {
        char* begin = const_cast<char*>(text.data());
        setg(begin, begin, begin + text.size());
    }
};

// The same over the given ranges of a text, one after the other.
class RangesBuffer : public std::streambuf {
public:
    RangesBuffer(std::string_view text, const std::vector<ObjScan::Range>& ranges) : text_(text), ranges_(ranges) {}

protected:
    int_type underflow() override {
        while (gptr() == egptr() && next_ < ranges_.size()) {
            const ObjScan::Range r = ranges_[next_++];
            char* begin = const_cast<char*>(text_.data()) + r.begin;
            setg(begin, begin, begin + (r.end - r.begin));
        }
        return gptr() == egptr() ? traits_type::eof() : traits_type::to_int_type(*gptr());
    }

private:
    std::string_view text_;
    const std::vector<ObjScan::Range>& ranges_;
    std::size_t next_ = 0;
};

// A material name as a group name: Shift-JIS where it converts, else its ASCII characters.
std::string groupName(const std::string& name, std::size_t material) {
    if (auto sjis = utf8ToSjis(name); sjis && !sjis->empty() && sjis->size() <= std::size_t(kMaxNameBytes))
        return *sjis;
    std::string ascii;
    for (char c : name)
        if (c >= 0x20 && c < 0x7f && ascii.size() < std::size_t(kMaxNameBytes))
            ascii += c;
    return ascii.empty() ? "material_" + std::to_string(material) : ascii;
}

struct Material {
    ModelColor color{255, 255, 255, 255};
    std::string texture;  // map_Kd as written, leading "./" removed
    bool defined = false;
};

class ObjBuilder {
public:
    ObjBuilder(const ObjScan& scan, Model& model, ReadContext& ctx) : scan_(scan), model_(model), ctx_(ctx) {}

    void readLibraries();
    std::optional<FormatError> readTables(const tinyobj::attrib_t& attrib);
    void addElements();

private:
    void warn(const std::string& line) { ctx_.warn((ctx_.path.empty() ? "" : ctx_.path + ": ") + line); }
    std::int32_t groupOf(std::int32_t material);
    std::int32_t textureOf(const std::string& name);
    ModelCorner corner(const ObjCorner& c) const;
    void addPolygon(std::initializer_list<ModelCorner> corners, std::int32_t group);

    const ObjScan& scan_;
    Model& model_;
    ReadContext& ctx_;
    std::vector<Material> materials_;  // one per name in scan_.materialNames
    std::vector<std::int32_t> groups_;  // group of each material, -1 until used
    std::int32_t defaultGroup_ = -1;
    std::map<std::string, std::int32_t> textures_;
    std::int32_t missingUv_ = 0;
};

void ObjBuilder::readLibraries() {
    materials_.assign(scan_.materialNames.size(), Material{});
    groups_.assign(scan_.materialNames.size(), -1);
    if (scan_.libraries.empty())
        return;
    if (!ctx_.companion) {
        warn("the material library " + scan_.libraries.front() + " cannot be read here; materials are missing");
        return;
    }
    std::vector<tinyobj::material_t> found;
    std::vector<std::string> folders;  // of the library each material comes from
    std::map<std::string, int> byName;
    for (const std::string& line : scan_.libraries) {
        // One name with blanks in it ("my model.mtl"), else several names on the line.
        std::vector<std::string> names{line};
        for (std::size_t i = 0, j = 0; line.find_first_of(" \t") != std::string::npos && i < line.size(); i = j) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
                ++i;
            for (j = i; j < line.size() && line[j] != ' ' && line[j] != '\t';)
                ++j;
            names.push_back(line.substr(i, j - i));
        }
        bool read = false;
        std::string why;
        for (std::size_t k = 0; k < names.size() && !(read && k == 1); ++k) {
            std::string reason;
            const auto bytes = ctx_.companion(names[k], reason);
            if (!bytes) {
                why = why.empty() ? reason : why;
                continue;
            }
            read = true;
            MemoryBuffer buffer(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
            std::istream stream(&buffer);
            std::string warning, error;
            tinyobj::LoadMtl(&byName, &found, &stream, &warning, &error);
            folders.resize(found.size(), directoryOf(names[k]));
        }
        if (!read)
            warn("material library " + line + ": " + why + "; its materials are missing");
    }
    for (std::size_t m = 0; m < scan_.materialNames.size(); ++m) {
        const std::string& name = scan_.materialNames[m];
        for (std::size_t f = 0; f < found.size(); ++f) {
            const tinyobj::material_t& mat = found[f];
            if (trimBlanks(mat.name) != name)
                continue;
            Material& out = materials_[m];
            out.defined = true;
            out.color = {mat.diffuse[0] * 255.0f, mat.diffuse[1] * 255.0f, mat.diffuse[2] * 255.0f,
                         mat.dissolve * 255.0f};
            std::string_view texture = trimBlanks(mat.diffuse_texname);
            while (texture.starts_with("./") || texture.starts_with(".\\"))
                texture.remove_prefix(2);
            // Named from the library's folder; the loader also tries the bare name beside the model.
            const bool absolute = texture.starts_with('/') || (texture.size() > 1 && texture[1] == ':');
            out.texture = texture.empty() || absolute || folders[f].empty() ? std::string(texture)
                                                                            : folders[f] + "/" + std::string(texture);
            break;
        }
        if (!materials_[m].defined)
            warn("material " + name + " is not defined; its faces are drawn white");
    }
}

std::optional<FormatError> ObjBuilder::readTables(const tinyobj::attrib_t& attrib) {
    if (std::int64_t(attrib.vertices.size()) != 3 * scan_.positions ||
        std::int64_t(attrib.texcoords.size()) != 2 * scan_.uvs ||
        std::int64_t(attrib.normals.size()) != 3 * scan_.normals)
        return FormatError::refusal("the vertex tables could not be read");
    auto finite = [](const std::vector<tinyobj::real_t>& values, int width, const char* what) {
        for (std::size_t i = 0; i < values.size(); ++i)
            if (!std::isfinite(values[i]))
                return std::optional<FormatError>(FormatError::refusal(std::string(what) + " " +
                                                                       std::to_string(i / std::size_t(width) + 1) +
                                                                       " is beyond the range of a float"));
        return std::optional<FormatError>();
    };
    if (auto e = finite(attrib.vertices, 3, "vertex"))
        return e;
    if (auto e = finite(attrib.texcoords, 2, "texture coordinate"))
        return e;
    if (auto e = finite(attrib.normals, 3, "normal"))
        return e;
    if (auto e = finite(attrib.colors, 3, "colour of vertex"))
        return e;

    const std::size_t n = std::size_t(scan_.positions);
    model_.positions.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        model_.positions[i] = {attrib.vertices[3 * i], attrib.vertices[3 * i + 1], -attrib.vertices[3 * i + 2]};
    model_.skin.assign(n, ModelSkinWeight{});
    // Vertex colours, white where a position has none; without any, one white entry.
    if (scan_.colors && attrib.colors.size() == 3 * n) {
        model_.colors.resize(n);
        for (std::size_t i = 0; i < n; ++i)
            model_.colors[i] = {attrib.colors[3 * i] * 255.0f, attrib.colors[3 * i + 1] * 255.0f,
                                attrib.colors[3 * i + 2] * 255.0f, 255.0f};
        model_.vertexColorMode = 1;
    } else {
        model_.colors.assign(1, ModelColor{255, 255, 255, 255});
    }
    // OBJ puts the texture origin at the bottom left, the model at the top left.
    const std::size_t uvs = std::size_t(scan_.uvs);
    model_.uvs.resize(uvs);
    for (std::size_t i = 0; i < uvs; ++i)
        model_.uvs[i] = {attrib.texcoords[2 * i], 1.0f - attrib.texcoords[2 * i + 1]};
    missingUv_ = std::int32_t(uvs);
    if (scan_.normalsPastTable)
        warn("faces name normals past the " + std::to_string(scan_.normals) +
             " in the file; normals are computed from the faces anyway");
    if (scan_.uvMissing || uvs == 0)
        model_.uvs.push_back({0, 0});
    return std::nullopt;
}

std::int32_t ObjBuilder::textureOf(const std::string& name) {
    if (name.empty())
        return 0;
    if (const auto it = textures_.find(name); it != textures_.end())
        return it->second;
    std::string stored = utf8ToSjis(name).value_or(name);
    ModelTexture texture;
    texture.kind = 1;
    texture.folder = directoryOf(stored);
    texture.fileName = fileNameOf(stored);
    texture.relativePath = texture.folder.empty() ? texture.fileName : texture.folder + "\\" + texture.fileName;
    std::int32_t entry = 0;
    if (texture.folder.size() > std::size_t(kMaxNameBytes) || texture.fileName.size() > std::size_t(kMaxNameBytes))
        warn("texture name " + name.substr(0, 80) + "... is too long; its groups are drawn untextured");
    else if (model_.textureCount() > kMaxTextureNumber)
        warn("more than " + std::to_string(kMaxTextureNumber) + " textures; " + name + " is not used");
    else {
        entry = model_.textureCount();
        model_.textures.push_back(std::move(texture));
    }
    textures_.emplace(name, entry);
    return entry;
}

std::int32_t ObjBuilder::groupOf(std::int32_t material) {
    std::int32_t& group =
        material >= 0 && materials_[std::size_t(material)].defined ? groups_[std::size_t(material)] : defaultGroup_;
    if (group >= 0)
        return group;
    group = std::int32_t(model_.groups.size());
    ModelGroup& g = model_.groups.emplace_back();
    g.color = {255, 255, 255, 255};
    if (&group == &defaultGroup_)
        return group;
    const Material& m = materials_[std::size_t(material)];
    g.name = groupName(scan_.materialNames[std::size_t(material)], std::size_t(material));
    g.color = m.color;
    g.textureIndex = textureOf(m.texture);
    g.textured = g.textureIndex != 0;
    return group;
}

ModelCorner ObjBuilder::corner(const ObjCorner& c) const {
    ModelCorner out;
    out.position = c.position;
    out.color = model_.vertexColorMode == 1 ? c.position : 0;
    out.uv = c.uv >= 0 ? c.uv : missingUv_;
    return out;
}

void ObjBuilder::addPolygon(std::initializer_list<ModelCorner> corners, std::int32_t group) {
    ModelPolygon& p = model_.polygons.emplace_back();
    p.cornerCount = std::uint8_t(corners.size());
    std::copy(corners.begin(), corners.end(), p.corners.begin());
    p.group = group;
}

void ObjBuilder::addElements() {
    model_.groups.clear();
    model_.polygons.reserve(std::size_t(scan_.polygons));
    std::vector<ModelVertex> outline;
    std::vector<std::array<std::int32_t, 3>> triangles;
    for (const ObjElement& e : scan_.elements) {
        const std::int32_t group = groupOf(e.material);
        const ObjCorner* c = scan_.corners.data() + e.firstCorner;
        const std::uint32_t n = e.cornerCount;
        if (e.kind == ObjElement::Points || (e.kind == ObjElement::Face && n == 1)) {
            for (std::uint32_t k = 0; k < n; ++k)
                addPolygon({corner(c[k])}, group);
        } else if (e.kind == ObjElement::Line || n == 2) {
            for (std::uint32_t k = 0; k + 1 < n; ++k)
                addPolygon({corner(c[k]), corner(c[k + 1])}, group);
        } else if (n == 3) {
            // Corner 0 first, the rest reversed: the face wound for the left-handed model.
            addPolygon({corner(c[0]), corner(c[2]), corner(c[1])}, group);
        } else if (n == 4) {
            addPolygon({corner(c[0]), corner(c[3]), corner(c[2]), corner(c[1])}, group);
        } else {
            outline.clear();
            for (std::uint32_t k = 0; k < n; ++k)
                outline.push_back(model_.positions[std::size_t(c[k].position)]);
            triangles.clear();
            triangulatePolygon(outline, triangles);
            for (const auto& t : triangles)
                addPolygon({corner(c[t[0]]), corner(c[t[2]]), corner(c[t[1]])}, group);
        }
    }
    if (model_.groups.empty())
        model_.groups.emplace_back();
}

}  // namespace

std::optional<FormatError> readObj(std::span<const std::byte> file, Model& model, ReadContext& ctx) {
    std::string_view text(reinterpret_cast<const char*>(file.data()), file.size());
    if (text.starts_with("\xFE\xFF") || text.starts_with("\xFF\xFE") || text.find('\0') != std::string_view::npos)
        return FormatError::refusal("the file is UTF-16 or binary, not OBJ text (save it as UTF-8)");
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);

    ObjScan scan;
    if (auto error = scanObj(text, scan))
        return error;

    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> unused;
    std::string warning, error;
    // Only the vertex lines: the elements are read already. A position without a colour gets
    // white.
    RangesBuffer buffer(text, scan.vertexLines);
    std::istream stream(&buffer);
    if (!tinyobj::LoadObj(&attrib, &shapes, &unused, &warning, &error, &stream, nullptr, false, true))
        return FormatError::refusal(error.empty() ? "the file could not be read" : std::string(trimBlanks(error)));
    shapes.clear();

    Model out;
    out.folder = model.folder;
    out.fileName = model.fileName;
    out.path = model.path;
    ObjBuilder builder(scan, out, ctx);
    builder.readLibraries();
    if (auto e = builder.readTables(attrib))
        return e;
    attrib = {};
    builder.addElements();
    computeNormals(out);
    out.renderModeDirty = 1;
    model = std::move(out);
    return std::nullopt;
}

}  // namespace rv

// The X writer: a binary .x file ("xof 0303bin 0032") with one mesh of unshared fan triangles,
// their normals and texture coordinates, and one white material.
#include <string>
#include <string_view>

#include "formats/common/byte_writer.h"
#include "formats/x/x.h"
#include "formats/x/x_tokens.h"

namespace rv {

namespace {

struct Member {
    std::string_view type;  // "DWORD", "FLOAT", "STRING" or a template name
    std::string_view name;
    std::string_view dimension;  // empty unless an array
};

struct Template {
    std::string_view name;
    std::string_view guid;
    std::initializer_list<Member> members;
    std::string_view restriction;  // "" closed, "..." open, else the one template allowed
    std::string_view restrictionGuid;
};

constexpr std::string_view kMaterialGuid = "3D82AB4D-62DA-11CF-AB39-0020AF71E433";

// The standard templates the mesh uses, in order of first use, so that readers that want every
// template declared find them.
const Template kTemplates[] = {
    {"Vector",
     "3D82AB5E-62DA-11CF-AB39-0020AF71E433",
     {{"FLOAT", "x", {}}, {"FLOAT", "y", {}}, {"FLOAT", "z", {}}},
     {},
     {}},
    {"MeshFace",
     "3D82AB5F-62DA-11CF-AB39-0020AF71E433",
     {{"DWORD", "nFaceVertexIndices", {}}, {"DWORD", "faceVertexIndices", "nFaceVertexIndices"}},
     {},
     {}},
    {"Mesh",
     "3D82AB44-62DA-11CF-AB39-0020AF71E433",
     {{"DWORD", "nVertices", {}},
      {"Vector", "vertices", "nVertices"},
      {"DWORD", "nFaces", {}},
      {"MeshFace", "faces", "nFaces"}},
     "...",
     {}},
    {"MeshNormals",
     "F6F23F43-7686-11CF-8F52-0040333594A3",
     {{"DWORD", "nNormals", {}},
      {"Vector", "normals", "nNormals"},
      {"DWORD", "nFaceNormals", {}},
      {"MeshFace", "faceNormals", "nFaceNormals"}},
     {},
     {}},
    {"Coords2d", "F6F23F44-7686-11CF-8F52-0040333594A3", {{"FLOAT", "u", {}}, {"FLOAT", "v", {}}}, {}, {}},
    {"MeshTextureCoords",
     "F6F23F40-7686-11CF-8F52-0040333594A3",
     {{"DWORD", "nTextureCoords", {}}, {"Coords2d", "textureCoords", "nTextureCoords"}},
     {},
     {}},
    {"ColorRGBA",
     "35FF44E0-6C7C-11CF-8F52-0040333594A3",
     {{"FLOAT", "red", {}}, {"FLOAT", "green", {}}, {"FLOAT", "blue", {}}, {"FLOAT", "alpha", {}}},
     {},
     {}},
    {"ColorRGB",
     "D3E16E81-7835-11CF-8F52-0040333594A3",
     {{"FLOAT", "red", {}}, {"FLOAT", "green", {}}, {"FLOAT", "blue", {}}},
     {},
     {}},
    {"Material",
     kMaterialGuid,
     {{"ColorRGBA", "faceColor", {}},
      {"FLOAT", "power", {}},
      {"ColorRGB", "specularColor", {}},
      {"ColorRGB", "emissiveColor", {}}},
     "...",
     {}},
    {"MeshMaterialList",
     "F6F23F42-7686-11CF-8F52-0040333594A3",
     {{"DWORD", "nMaterials", {}}, {"DWORD", "nFaceIndexes", {}}, {"DWORD", "faceIndexes", "nFaceIndexes"}},
     "Material",
     kMaterialGuid},
    {"TextureFilename", "A42790E1-7810-11CF-8F52-0040333594A3", {{"STRING", "filename", {}}}, {}, {}},
};

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

class XBinaryWriter {
public:
    explicit XBinaryWriter(std::vector<std::byte>& out) : w_(out) {}

    void token(XBinaryToken t) { w_.u16(t); }
    void name(std::string_view s) {
        w_.u16(kXName);
        w_.u32(std::uint32_t(s.size()));
        w_.text(s);
    }
    // Data1 (DWORD), Data2, Data3 (WORDs), then the last 8 bytes as written.
    void guid(std::string_view text) {
        std::string hex;
        for (char c : text)
            if (c != '-')
                hex += c;
        auto byteAt = [&](std::size_t i) { return std::uint8_t(hexValue(hex[2 * i]) * 16 + hexValue(hex[2 * i + 1])); };
        w_.u16(kXGuid);
        w_.u32(std::uint32_t(byteAt(0)) << 24 | std::uint32_t(byteAt(1)) << 16 | std::uint32_t(byteAt(2)) << 8 |
               byteAt(3));
        w_.u16(std::uint16_t(byteAt(4) << 8 | byteAt(5)));
        w_.u16(std::uint16_t(byteAt(6) << 8 | byteAt(7)));
        for (std::size_t i = 8; i < 16; ++i)
            w_.u8(byteAt(i));
    }
    void string(std::string_view s) {
        w_.u16(kXString);
        w_.u32(std::uint32_t(s.size()));
        w_.text(s);
        w_.u16(kXSemicolon);
    }
    void integers(std::initializer_list<std::uint32_t> values) {
        w_.u16(kXIntegerList);
        w_.u32(std::uint32_t(values.size()));
        for (std::uint32_t v : values)
            w_.u32(v);
    }
    void integers(const std::vector<std::uint32_t>& values) {
        w_.u16(kXIntegerList);
        w_.u32(std::uint32_t(values.size()));
        for (std::uint32_t v : values)
            w_.u32(v);
    }
    void floats(const std::vector<float>& values) {
        w_.u16(kXFloatList);
        w_.u32(std::uint32_t(values.size()));
        for (float v : values)
            w_.f32(v);
    }
    void open(std::string_view type) {
        name(type);
        token(kXOBrace);
    }
    void close() { token(kXCBrace); }

    void declare(const Template& t) {
        token(kXTemplate);
        name(t.name);
        token(kXOBrace);
        guid(t.guid);
        for (const Member& m : t.members) {
            if (!m.dimension.empty())
                token(kXArray);
            type(m.type);
            name(m.name);
            if (!m.dimension.empty()) {
                token(kXOBracket);
                name(m.dimension);
                token(kXCBracket);
            }
            token(kXSemicolon);
        }
        if (t.restriction == "...") {
            token(kXOBracket);
            token(kXDot);
            token(kXDot);
            token(kXDot);
            token(kXCBracket);
        } else if (!t.restriction.empty()) {
            token(kXOBracket);
            name(t.restriction);
            guid(t.restrictionGuid);
            token(kXCBracket);
        }
        token(kXCBrace);
    }

private:
    void type(std::string_view t) {
        if (t == "DWORD")
            token(kXDword);
        else if (t == "FLOAT")
            token(kXFloat);
        else if (t == "STRING")
            token(kXLpstr);
        else
            name(t);
    }

    ByteWriter w_;
};

}  // namespace

std::optional<FormatError> writeX(const Model& model, WriteContext& ctx) {
    // Fan triangles (0, l+1, l+2) of every polygon of 3 or more corners, each with its own vertices.
    std::size_t triangleCount = 0;
    for (const ModelPolygon& p : model.polygons)
        if (p.cornerCount >= 3)
            triangleCount += std::min<std::size_t>(p.cornerCount, kMaxCorners) - 2;
    if (triangleCount == 0)
        return FormatError::refusal("the model has no triangles to write");
    if (triangleCount > (UINT32_MAX - 1) / 4)
        return FormatError::refusal("the model has too many triangles for an .x file");

    const std::size_t vertexCount = triangleCount * 3;
    std::vector<float> positions, normals, uvs;
    positions.reserve(vertexCount * 3);
    normals.reserve(vertexCount * 3);
    uvs.reserve(vertexCount * 2);
    // A corner that points past its table (a damaged model) writes zeros rather than garbage.
    auto put3 = [](std::vector<float>& out, const std::vector<ModelVertex>& table, std::int32_t i) {
        const ModelVertex v = (i >= 0 && std::size_t(i) < table.size()) ? table[std::size_t(i)] : ModelVertex{};
        out.insert(out.end(), {v.x, v.y, v.z});
    };
    for (const ModelPolygon& p : model.polygons) {
        if (p.cornerCount < 3)
            continue;
        const int corners = std::min<int>(p.cornerCount, kMaxCorners);
        for (int l = 0; l + 2 < corners; ++l) {
            for (int j : {0, l + 1, l + 2}) {
                const ModelCorner& c = p.corners[std::size_t(j)];
                put3(positions, model.positions, c.position);
                put3(normals, model.normals, c.normal);
                const ModelUV uv =
                    (c.uv >= 0 && std::size_t(c.uv) < model.uvs.size()) ? model.uvs[std::size_t(c.uv)] : ModelUV{};
                uvs.insert(uvs.end(), {uv.u, uv.v});
            }
        }
    }
    std::vector<std::uint32_t> faces;
    faces.reserve(1 + triangleCount * 4);
    faces.push_back(std::uint32_t(triangleCount));
    for (std::uint32_t t = 0; t < triangleCount; ++t)
        faces.insert(faces.end(), {3u, 3 * t, 3 * t + 1, 3 * t + 2});

    std::vector<std::byte>& out = ctx.bytes;
    out.clear();
    out.reserve(4096 + vertexCount * 40 + triangleCount * 36);
    ByteWriter header(out);
    header.text("xof 0303bin 0032");
    XBinaryWriter x(out);
    for (const Template& t : kTemplates)
        x.declare(t);

    x.open("Mesh");
    x.integers({std::uint32_t(vertexCount)});
    x.floats(positions);
    x.integers(faces);

    x.open("MeshNormals");
    x.integers({std::uint32_t(vertexCount)});
    x.floats(normals);
    x.integers(faces);
    x.close();

    x.open("MeshTextureCoords");
    x.integers({std::uint32_t(vertexCount)});
    x.floats(uvs);
    x.close();

    x.open("MeshMaterialList");
    std::vector<std::uint32_t> materialIndices(2 + triangleCount, 0);
    materialIndices[0] = 1;
    materialIndices[1] = std::uint32_t(triangleCount);
    x.integers(materialIndices);
    x.open("Material");
    x.floats({1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0});
    if (model.textures.size() > 1 && model.textures[1].kind == 1 && !model.textures[1].fileName.empty()) {
        x.open("TextureFilename");
        x.string(model.textures[1].fileName);
        x.close();
        ctx.namedImages.push_back({1, model.textures[1].fileName});
    }
    x.close();  // Material
    x.close();  // MeshMaterialList
    x.close();  // Mesh
    return std::nullopt;
}

}  // namespace rv

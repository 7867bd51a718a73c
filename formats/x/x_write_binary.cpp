// The binary .x encoding of the written mesh. Numbers travel in INTEGER_LIST and FLOAT_LIST
// records; every list ends exactly where a reader stops taking numbers of its kind before the next
// name or brace (Assimp keeps one running count across lists, so a list that runs on would feed
// the next member).
#include <algorithm>
#include <bit>
#include <cstring>

#include "formats/common/export_support.h"
#include "formats/x/x_tokens.h"
#include "formats/x/x_write.h"

namespace rv {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

// Appends to the output through a moving end, growing it in large steps; the output is cut to
// what was written when the object goes.
class XBinaryOut {
public:
    explicit XBinaryOut(std::vector<std::byte>& out) : out_(out), used_(out.size()) {}
    ~XBinaryOut() { out_.resize(used_); }

    void token(XBinaryToken t) { u16(t); }
    void name(std::string_view s) {
        u16(kXName);
        u32(std::uint32_t(s.size()));
        raw(s.data(), s.size());
    }
    // Data1 (DWORD), Data2, Data3 (WORDs), then the last 8 bytes as written.
    void guid(std::string_view text) {
        std::uint8_t b[16];
        std::size_t n = 0;
        for (std::size_t i = 0; i + 1 < text.size() && n < 16; ++i) {
            if (text[i] == '-')
                continue;
            b[n++] = std::uint8_t(hexValue(text[i]) * 16 + hexValue(text[i + 1]));
            ++i;
        }
        u16(kXGuid);
        u32(std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3]);
        u16(std::uint16_t(b[4] << 8 | b[5]));
        u16(std::uint16_t(b[6] << 8 | b[7]));
        raw(b + 8, 8);
    }
    // The terminator is a WORD, as Assimp and Wine read it.
    void string(std::string_view s) {
        u16(kXString);
        u32(std::uint32_t(s.size()));
        raw(s.data(), s.size());
        u16(kXSemicolon);
    }
    void integer(std::uint32_t v) {
        u16(kXInteger);
        u32(v);
    }
    // A list record of `count` values; the caller then puts exactly that many with value().
    void list(XBinaryToken kind, std::size_t count) {
        u16(kind);
        u32(std::uint32_t(count));
    }
    void value(std::uint32_t v) { u32(v); }
    void value(float v) { u32(std::bit_cast<std::uint32_t>(v)); }
    void open(std::string_view type) {
        name(type);
        token(kXOBrace);
    }
    void close() { token(kXCBrace); }
    void header(std::string_view h) { raw(h.data(), h.size()); }

private:
    void u16(std::uint16_t v) {
        std::byte* p = room(2);
        p[0] = std::byte(v);
        p[1] = std::byte(v >> 8);
        used_ += 2;
    }
    void u32(std::uint32_t v) {
        std::byte* p = room(4);
        for (int i = 0; i < 4; ++i)
            p[i] = std::byte(v >> (8 * i));
        used_ += 4;
    }
    void raw(const void* data, std::size_t n) {
        std::memcpy(room(n), data, n);
        used_ += n;
    }
    // Takes the reserved room first; doubling past it would copy the output to a new block.
    std::byte* room(std::size_t n) {
        if (used_ + n > out_.size())
            out_.resize(std::max({out_.capacity(), out_.size() * 2, used_ + n + 65536}));
        return out_.data() + used_;
    }

    std::vector<std::byte>& out_;
    std::size_t used_;
};

void declare(XBinaryOut& x, const XTemplateDecl& t) {
    x.token(kXTemplate);
    x.name(t.name);
    x.token(kXOBrace);
    x.guid(t.guid);
    for (const XTemplateMember& m : t.members) {
        if (!m.dimension.empty())
            x.token(kXArray);
        if (m.type == "DWORD")
            x.token(kXDword);
        else if (m.type == "FLOAT")
            x.token(kXFloat);
        else if (m.type == "STRING")
            x.token(kXLpstr);
        else
            x.name(m.type);
        x.name(m.name);
        if (!m.dimension.empty()) {
            x.token(kXOBracket);
            x.name(m.dimension);
            x.token(kXCBracket);
        }
        x.token(kXSemicolon);
    }
    if (t.restriction == "...") {
        for (XBinaryToken k : {kXOBracket, kXDot, kXDot, kXDot, kXCBracket})
            x.token(k);
    } else if (!t.restriction.empty()) {
        x.token(kXOBracket);
        x.name(t.restriction);
        x.guid(t.restrictionGuid);
        x.token(kXCBracket);
    }
    x.token(kXCBrace);
}

// The vertex count, then one vector per vertex, then the faces: the members of Mesh and
// MeshNormals alike.
void vectorsAndFaces(XBinaryOut& x, const XWriteMesh& mesh, bool normals) {
    x.list(kXIntegerList, 1);
    x.value(std::uint32_t(mesh.vertices.size()));
    x.list(kXFloatList, mesh.vertices.size() * 3);
    for (const XWriteVertex& v : mesh.vertices)
        for (float f : normals ? v.normal : v.position)
            x.value(f);
    x.list(kXIntegerList, 1 + mesh.triangles.size() * 4);
    x.value(std::uint32_t(mesh.triangles.size()));
    for (const auto& t : mesh.triangles) {
        x.value(3u);
        for (std::uint32_t i : t)
            x.value(i);
    }
}

void vertexData(XBinaryOut& x, const XWriteMesh& mesh) {
    x.open("MeshTextureCoords");
    x.list(kXIntegerList, 1);
    x.value(std::uint32_t(mesh.vertices.size()));
    x.list(kXFloatList, mesh.vertices.size() * 2);
    for (const XWriteVertex& v : mesh.vertices)
        for (float f : v.uv)
            x.value(f);
    x.close();
    if (!mesh.hasColors)
        return;
    // IndexedColor: a DWORD and four floats per vertex, so one INTEGER and one FLOAT_LIST each.
    x.open("MeshVertexColors");
    x.list(kXIntegerList, 1);
    x.value(std::uint32_t(mesh.vertices.size()));
    const ModelColor& tint = mesh.tint;
    for (std::size_t k = 0; k < mesh.vertices.size(); ++k) {
        const auto& c = mesh.vertices[k].color;
        x.integer(std::uint32_t(k));
        x.list(kXFloatList, 4);
        x.value(tintedComponent(c[0], tint.red));
        x.value(tintedComponent(c[1], tint.green));
        x.value(tintedComponent(c[2], tint.blue));
        x.value(tintedComponent(c[3], tint.alpha));
    }
    x.close();
}

void materialList(XBinaryOut& x, const XWriteMesh& mesh) {
    x.open("MeshMaterialList");
    x.list(kXIntegerList, 2 + mesh.triangleMaterials.size());
    x.value(std::uint32_t(mesh.materials.size()));
    x.value(std::uint32_t(mesh.triangleMaterials.size()));
    for (std::uint32_t m : mesh.triangleMaterials)
        x.value(m);
    for (const XWriteMaterial& m : mesh.materials) {
        x.open("Material");
        // faceColor, power 0, specular and emissive black: a plain material.
        x.list(kXFloatList, 11);
        for (float f : m.color)
            x.value(f);
        for (int i = 0; i < 7; ++i)
            x.value(0.0f);
        if (m.hasTexture) {
            x.open("TextureFilename");
            x.string(m.texture);
            x.close();
        }
        x.close();
    }
    x.close();
}

}  // namespace

void appendXBinary(const XWriteMesh& mesh, std::vector<std::byte>& out) {
    // Positions, normals and uvs take 32 bytes a vertex (28 more with colours), the two face lists
    // and the material ids 36 a face.
    out.reserve(out.size() + 4096 + mesh.vertices.size() * (mesh.hasColors ? 60 : 32) + mesh.triangles.size() * 36 +
                mesh.materials.size() * 512);
    XBinaryOut x(out);
    x.header("xof 0303bin 0032");
    for (const XTemplateDecl* t : xTemplatesUsed(mesh))
        declare(x, *t);
    x.open("Mesh");
    vectorsAndFaces(x, mesh, false);
    x.open("MeshNormals");
    vectorsAndFaces(x, mesh, true);
    x.close();
    vertexData(x, mesh);
    materialList(x, mesh);
    x.close();
}

}  // namespace rv

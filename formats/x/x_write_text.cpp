// The text .x encoding of the written mesh, in the layout D3DX prints (one-space indent per level,
// templates first, ";," between array elements and ";;" after the last), with every float in the
// fewest digits that read back as the same float.
#include <charconv>
#include <cmath>
#include <cstring>

#include "formats/common/export_support.h"
#include "formats/common/float_text.h"
#include "formats/x/x_write.h"

namespace rv {

namespace {

// Collects text in a fixed buffer and appends it to the output a block at a time, so the output
// is never zero-filled ahead of the text.
class XTextOut {
public:
    explicit XTextOut(std::vector<std::byte>& out) : out_(out) {}
    ~XTextOut() { flush(); }

    XTextOut& operator<<(std::string_view s) {
        if (s.size() > sizeof buffer_) {
            flush();
            const auto* p = reinterpret_cast<const std::byte*>(s.data());
            out_.insert(out_.end(), p, p + s.size());
            return *this;
        }
        std::memcpy(room(s.size()), s.data(), s.size());
        used_ += s.size();
        return *this;
    }
    XTextOut& operator<<(char c) {
        *room(1) = c;
        ++used_;
        return *this;
    }
    XTextOut& operator<<(float v) {
        char* start = room(kFloatTextChars);
        used_ += std::size_t(formatShortestFloat(start, v) - start);
        return *this;
    }
    XTextOut& operator<<(std::uint32_t v) {
        char* start = room(16);
        used_ += std::size_t(std::to_chars(start, start + 16, v).ptr - start);
        return *this;
    }

private:
    char* room(std::size_t n) {
        if (used_ + n > sizeof buffer_)
            flush();
        return buffer_ + used_;
    }
    void flush() {
        const auto* p = reinterpret_cast<const std::byte*>(buffer_);
        out_.insert(out_.end(), p, p + used_);
        used_ = 0;
    }

    std::vector<std::byte>& out_;
    char buffer_[65536];
    std::size_t used_ = 0;
};

void declare(XTextOut& x, const XTemplateDecl& t) {
    auto guid = [&](std::string_view g) {
        x << '<';
        for (char c : g)
            x << char(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
        x << '>';
    };
    x << "template " << t.name << " {\n ";
    guid(t.guid);
    x << '\n';
    for (const XTemplateMember& m : t.members) {
        x << ' ';
        if (!m.dimension.empty())
            x << "array ";
        x << m.type << ' ' << m.name;
        if (!m.dimension.empty())
            x << '[' << m.dimension << ']';
        x << ";\n";
    }
    if (t.restriction == "...") {
        x << " [...]\n";
    } else if (!t.restriction.empty()) {
        x << " [" << t.restriction << ' ';
        guid(t.restrictionGuid);
        x << "]\n";
    }
    x << "}\n\n";
}

// ",\n" between the elements of an array, ";\n" after the last.
std::string_view separator(std::size_t i, std::size_t count) { return i + 1 < count ? ",\n" : ";\n"; }

void vectorsAndFaces(XTextOut& x, const XWriteMesh& mesh, bool normals, std::string_view indent) {
    const std::size_t nV = mesh.vertices.size(), nF = mesh.triangles.size();
    x << indent << std::uint32_t(nV) << ";\n";
    for (std::size_t i = 0; i < nV; ++i) {
        const auto& v = normals ? mesh.vertices[i].normal : mesh.vertices[i].position;
        x << indent << v[0] << ';' << v[1] << ';' << v[2] << ';' << separator(i, nV);
    }
    x << indent << std::uint32_t(nF) << ";\n";
    for (std::size_t i = 0; i < nF; ++i) {
        const auto& t = mesh.triangles[i];
        x << indent << "3;" << t[0] << ',' << t[1] << ',' << t[2] << ';' << separator(i, nF);
    }
}

void vertexData(XTextOut& x, const XWriteMesh& mesh) {
    const std::size_t nV = mesh.vertices.size();
    x << "\n MeshTextureCoords {\n  " << std::uint32_t(nV) << ";\n";
    for (std::size_t i = 0; i < nV; ++i)
        x << "  " << mesh.vertices[i].uv[0] << ';' << mesh.vertices[i].uv[1] << ';' << separator(i, nV);
    x << " }\n";
    if (!mesh.hasColors)
        return;
    x << "\n MeshVertexColors {\n  " << std::uint32_t(nV) << ";\n";
    const ModelColor& tint = mesh.tint;
    for (std::size_t i = 0; i < nV; ++i) {
        const auto& c = mesh.vertices[i].color;
        x << "  " << std::uint32_t(i) << ';' << tintedComponent(c[0], tint.red) << ';'
          << tintedComponent(c[1], tint.green) << ';' << tintedComponent(c[2], tint.blue) << ';'
          << tintedComponent(c[3], tint.alpha) << ";;" << separator(i, nV);
    }
    x << " }\n";
}

void materialList(XTextOut& x, const XWriteMesh& mesh) {
    const std::size_t nF = mesh.triangleMaterials.size();
    x << "\n MeshMaterialList {\n  " << std::uint32_t(mesh.materials.size()) << ";\n  " << std::uint32_t(nF) << ";\n";
    for (std::size_t i = 0; i < nF; ++i)
        x << "  " << mesh.triangleMaterials[i] << separator(i, nF);
    for (const XWriteMaterial& m : mesh.materials) {
        // faceColor, power 0, specular and emissive black: a plain material.
        x << "\n  Material {\n   " << m.color[0] << ';' << m.color[1] << ';' << m.color[2] << ';' << m.color[3]
          << ";;\n   0.0;\n   0.0;0.0;0.0;;\n   0.0;0.0;0.0;;\n";
        if (m.hasTexture)
            x << "\n   TextureFilename {\n    \"" << m.texture << "\";\n   }\n";
        x << "  }\n";
    }
    x << " }\n";
}

}  // namespace

void appendXText(const XWriteMesh& mesh, std::vector<std::byte>& out) {
    // About 90 characters a vertex (position, normal, uv) and 40 a face (twice, plus its material).
    out.reserve(out.size() + 8192 + mesh.vertices.size() * (mesh.hasColors ? 150 : 100) + mesh.triangles.size() * 48 +
                mesh.materials.size() * 512);
    XTextOut x(out);
    x << "xof 0303txt 0032\n";
    for (const XTemplateDecl* t : xTemplatesUsed(mesh))
        declare(x, *t);
    x << "Mesh {\n";
    vectorsAndFaces(x, mesh, false, " ");
    x << "\n MeshNormals {\n";
    vectorsAndFaces(x, mesh, true, "  ");
    x << " }\n";
    vertexData(x, mesh);
    materialList(x, mesh);
    x << "}\n";
}

}  // namespace rv

// The X writer: one Mesh of fan triangles over shared vertices, with normals, texture coordinates,
// vertex colours where the model has any, and one Material per group; written as binary
// ("xof 0303bin 0032", the default), text ("xof 0303txt 0032") or MSZIP-compressed binary
// ("xof 0303bzip0032").
#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "formats/common/export_support.h"
#include "formats/x/x.h"
#include "formats/x/x_mszip.h"
#include "formats/x/x_write.h"

namespace rv {

namespace {

template <typename T, typename A>
const T* entryOf(const std::vector<T, A>& table, std::int32_t i) {
    return i >= 0 && std::size_t(i) < table.size() ? &table[std::size_t(i)] : nullptr;
}

// The vertex a corner stands for. A corner that points past its table (a damaged model) takes
// zeros, and a missing colour white, the colour of a corner that has none.
XWriteVertex vertexOf(const Model& model, const ModelCorner& c) {
    XWriteVertex v;
    if (const ModelVertex* p = entryOf(model.positions, c.position))
        v.position = {p->x, p->y, p->z};
    if (const ModelVertex* n = entryOf(model.normals, c.normal))
        v.normal = {n->x, n->y, n->z};
    if (const ModelUV* uv = entryOf(model.uvs, c.uv))
        v.uv = {uv->u, uv->v};
    if (const ModelColor* col = entryOf(model.colors, c.color))
        v.color = {col->red, col->green, col->blue, col->alpha};
    return v;
}

// Finds equal vertices by their bits in an open-addressed table; vertices keep first-use order.
class VertexSharer {
public:
    VertexSharer(std::vector<XWriteVertex>& vertices, std::size_t maxVertices) : vertices_(vertices) {
        std::size_t size = 64;
        while (size < maxVertices * 2)
            size *= 2;
        slots_.assign(size, 0);
        vertices_.reserve(maxVertices);
    }

    std::uint32_t indexOf(const XWriteVertex& v) {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t at = hashOf(v) & mask;; at = (at + 1) & mask) {
            const std::uint32_t slot = slots_[at];
            if (slot == 0) {
                vertices_.push_back(v);
                slots_[at] = std::uint32_t(vertices_.size());
                return slots_[at] - 1;
            }
            if (std::memcmp(&vertices_[slot - 1], &v, sizeof v) == 0)
                return slot - 1;
        }
    }

private:
    static std::size_t hashOf(const XWriteVertex& v) {
        std::uint64_t words[sizeof(XWriteVertex) / 8];
        std::memcpy(words, &v, sizeof words);
        std::uint64_t h = 0x9E3779B97F4A7C15ull;
        for (std::uint64_t w : words)
            h = (h ^ w) * 0xFF51AFD7ED558CCDull, h ^= h >> 32;
        return std::size_t(h);
    }

    std::vector<XWriteVertex>& vertices_;
    std::vector<std::uint32_t> slots_;  // vertex index + 1; 0 is empty
};
static_assert(sizeof(XWriteVertex) == 48, "vertices are hashed as six 64-bit words");

// A text .x string runs from quote to quote on one line: a name holding either cannot be written.
bool fitsTextString(std::string_view name) { return name.find_first_of("\"\r\n") == std::string_view::npos; }

// One material per group (at least one), coloured as the preview draws the group.
void buildMaterials(const Model& model, WriteContext& ctx, XWriteMesh& out) {
    out.materials.resize(std::max<std::size_t>(1, model.groups.size()));
    std::vector<bool> named(model.textures.size(), false);
    for (std::size_t g = 0; g < model.groups.size(); ++g) {
        const ModelGroup& group = model.groups[g];
        XWriteMaterial& m = out.materials[g];
        m.color = {
            tintedComponent(group.color.red, model.tint.red), tintedComponent(group.color.green, model.tint.green),
            tintedComponent(group.color.blue, model.tint.blue), tintedComponent(group.color.alpha, model.tint.alpha)};
        const ModelTexture* texture = groupTexture(model, group);
        if (!texture)
            continue;
        if (ctx.xForm == XForm::Text && !fitsTextString(texture->fileName)) {
            ctx.warnings.push_back(ctx.outputPath + ": texture " + exportText(texture->fileName) +
                                   " holds a quote or a line break, which a text .x file cannot hold; it is left out");
            continue;
        }
        m.hasTexture = true;
        m.texture = texture->fileName;
        const std::size_t entry = std::size_t(group.textureIndex);
        if (!named[entry]) {
            named[entry] = true;
            ctx.namedImages.push_back({group.textureIndex, texture->fileName});
        }
    }
}

}  // namespace

std::optional<FormatError> buildXWriteMesh(const Model& model, WriteContext& ctx, XWriteMesh& out) {
    std::size_t triangleCount = 0, corners = 0, dropped = 0;
    for (const ModelPolygon& p : model.polygons) {
        if (p.cornerCount < 3) {
            ++dropped;
            continue;
        }
        const std::size_t n = std::min<std::size_t>(p.cornerCount, kMaxCorners);
        triangleCount += n - 2;
        corners += n;
    }
    if (triangleCount == 0)
        return FormatError::refusal("the model has no triangles to write");
    if (triangleCount > (UINT32_MAX - 1) / 4)
        return FormatError::refusal("the model has too many triangles for an .x file");
    if (dropped > 0)
        ctx.warnings.push_back(ctx.outputPath + ": " + std::to_string(dropped) +
                               " lines and points are not kept by DirectX .x");

    buildMaterials(model, ctx, out);
    out.tint = model.tint;
    out.triangles.reserve(triangleCount);
    out.triangleMaterials.reserve(triangleCount);
    VertexSharer sharer(out.vertices, corners);
    const std::size_t materialCount = out.materials.size();
    for (const ModelPolygon& p : model.polygons) {
        if (p.cornerCount < 3)
            continue;
        const int n = std::min<int>(p.cornerCount, kMaxCorners);
        std::uint32_t index[kMaxCorners];
        for (int j = 0; j < n; ++j)
            index[j] = sharer.indexOf(vertexOf(model, p.corners[std::size_t(j)]));
        // A polygon whose group is out of range is drawn with the first group's material.
        const std::uint32_t material =
            p.group >= 0 && std::size_t(p.group) < materialCount ? std::uint32_t(p.group) : 0;
        for (int l = 0; l + 2 < n; ++l) {
            out.triangles.push_back({index[0], index[l + 1], index[l + 2]});
            out.triangleMaterials.push_back(material);
        }
    }
    const XWriteVertex white;
    out.hasColors = std::any_of(out.vertices.begin(), out.vertices.end(),
                                [&](const XWriteVertex& v) { return v.color != white.color; });
    return std::nullopt;
}

std::optional<FormatError> writeX(const Model& model, WriteContext& ctx) {
    XWriteMesh mesh;
    if (auto error = buildXWriteMesh(model, ctx, mesh))
        return error;
    ctx.bytes.clear();
    switch (ctx.xForm) {
    case XForm::Text: appendXText(mesh, ctx.bytes); break;
    case XForm::Binary: appendXBinary(mesh, ctx.bytes); break;
    case XForm::Compressed: {
        std::vector<std::byte> binary;
        appendXBinary(mesh, binary);
        constexpr std::string_view kHeader = "xof 0303bzip0032";
        auto packed = deflateMszip(std::as_bytes(std::span(kHeader.data(), kHeader.size())),
                                   std::span(binary).subspan(kHeader.size()));
        if (packed.empty())
            return FormatError::refusal("the model could not be compressed");
        ctx.bytes = std::move(packed);
        break;
    }
    }
    return std::nullopt;
}

}  // namespace rv

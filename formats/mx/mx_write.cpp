// HSP 2.55 MX models: one 168-byte face per polygon, one section-A record, and one 16-byte
// texture name slot per group number in use.
#include <cstdint>
#include <string>
#include <vector>

#include "formats/common/byte_writer.h"
#include "formats/common/model_checks.h"
#include "formats/mx/mx.h"

namespace rv {

namespace {

constexpr std::size_t kMaxFaces = 2000;
constexpr std::size_t kMaxNameSlots = 256;
constexpr std::size_t kNameBytes = 16;
constexpr std::size_t kMaxNameLength = kNameBytes - 1;  // keeps a terminating zero
constexpr std::uint32_t kRecordBytes = 60;
constexpr std::uint32_t kFaceBytes = 168;
constexpr std::uint32_t kHeaderBytes = 32;

FormatError writeError(std::string reason) { return FormatError::refusal(std::move(reason)); }

bool isSjisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc); }

// The file name without its extension.
std::string stemOf(const std::string& fileName) {
    const std::size_t dot = fileName.rfind('.');
    return dot != std::string::npos && dot > 0 ? fileName.substr(0, dot) : fileName;
}

// `stem` cut to fit a name slot with its zero, without splitting a Shift-JIS character.
std::string slotName(std::string stem) {
    std::size_t keep = 0;
    while (keep < stem.size()) {
        const std::size_t width = isSjisLead((unsigned char)stem[keep]) && keep + 1 < stem.size() ? 2 : 1;
        if (keep + width > kMaxNameLength)
            break;
        keep += width;
    }
    stem.resize(keep);
    return stem;
}

struct Scale {
    float width = 0, height = 0;
};

// The number of name slots the model needs (one per group in use), or why it cannot be an MX file.
std::optional<FormatError> countNameSlots(const Model& model, std::size_t& slotCount) {
    const std::size_t faceCount = model.polygons.size();
    if (faceCount > kMaxFaces)
        return writeError("the model has " + std::to_string(faceCount) + " polygons; an MX file holds at most " +
                          std::to_string(kMaxFaces));
    slotCount = 0;
    for (std::size_t p = 0; p < faceCount; ++p) {
        const ModelPolygon& polygon = model.polygons[p];
        if (polygon.group < 0 || std::size_t(polygon.group) >= model.groups.size())
            return writeError("polygon " + std::to_string(p) + " names group " + std::to_string(polygon.group) +
                              ", but the model has " + std::to_string(model.groups.size()) + " groups");
        if (auto error = checkPolygonCorners(model, p))
            return error;
        slotCount = std::max(slotCount, std::size_t(polygon.group) + 1);
    }
    if (slotCount > kMaxNameSlots)
        return writeError("the model uses " + std::to_string(slotCount) + " groups; an MX file holds at most " +
                          std::to_string(kMaxNameSlots) + " name slots");
    return std::nullopt;
}

// Name slot i - 1 holds texture i; the slots follow the groups, so later textures can be left out.
// Fills the slot names and each texture's uv scale, warning for names cut or left out.
void nameTextures(const Model& model, std::size_t slotCount, std::vector<std::string>& names,
                  std::vector<Scale>& scales, WriteContext& ctx) {
    names.assign(slotCount, {});
    scales.assign(model.textures.size(), {});
    std::size_t leftOut = 0;
    for (std::size_t i = 1; i < model.textures.size(); ++i) {
        const ModelTexture& texture = model.textures[i];
        if (texture.kind != 1)
            continue;
        // Coordinates go out in pixels; an image whose size is unknown keeps them as they are.
        scales[i] =
            texture.width > 0 && texture.height > 0 ? Scale{float(texture.width), float(texture.height)} : Scale{1, 1};
        if (i - 1 >= slotCount) {
            ++leftOut;
            continue;
        }
        const std::string stem = stemOf(texture.fileName);
        names[i - 1] = slotName(stem);
        // MX readers add the extension: the image is looked for as a .bmp.
        if (!names[i - 1].empty())
            ctx.namedImages.push_back({int(i), names[i - 1] + ".bmp"});
        if (names[i - 1].size() < stem.size())
            ctx.warnings.push_back("texture name " + texture.fileName + " is cut to " + names[i - 1] +
                                   " to fit its MX name slot");
    }
    if (leftOut > 0)
        ctx.warnings.push_back(std::to_string(leftOut) + (leftOut == 1 ? " texture name does" : " texture names do") +
                               " not fit the " + std::to_string(slotCount) +
                               (slotCount == 1 ? " name slot" : " name slots") +
                               " of the MX file (one per group in use); later names are left out");
}

void writeHeader(ByteWriter& out, std::size_t faceCount, std::size_t slotCount) {
    const std::uint32_t sizeB = std::uint32_t(faceCount) * kFaceBytes;
    out.text(std::string_view("MXF\0", 4));
    out.u32(256);
    out.u32(kRecordBytes);
    out.u32(kHeaderBytes);
    out.u32(sizeB);
    out.u32(kHeaderBytes + kRecordBytes);
    out.u32(std::uint32_t(slotCount * kNameBytes));
    out.u32(sizeB + kHeaderBytes + kRecordBytes);

    out.zeros(32);
    out.f32(1.0f);
    out.f32(1.0f);
    out.f32(1.0f);
    out.f32(0.0f);
    out.u16(1);
    out.u16(std::uint16_t(faceCount));
    out.u32(0);
    out.u32(0);
}

void writeFace(ByteWriter& out, const Model& model, const ModelPolygon& polygon, const std::vector<Scale>& scales) {
    const ModelVertex noVector{};
    const ModelUV noUV{};
    const ModelGroup& group = model.groups[std::size_t(polygon.group)];
    const bool textured = group.textureIndex > 0 && group.textureIndex <= 32767 &&
                          std::size_t(group.textureIndex) < model.textures.size() &&
                          model.textures[std::size_t(group.textureIndex)].kind != 0;
    const Scale scale = textured ? scales[std::size_t(group.textureIndex)] : Scale{};

    // Corners past the polygon's own (lines and points) repeat its first corner.
    auto corner = [&](int k) -> const ModelCorner& {
        return polygon.corners[std::size_t(k < polygon.cornerCount ? k : 0)];
    };
    // Triangles (and smaller) fill the fourth slot with corner 0: slots (A, C, B, A).
    const bool quad = polygon.cornerCount == 4;
    const int cornerOfSlot[4] = {0, 1, 2, 0};
    auto source = [&](int slot) -> const ModelCorner& { return corner(quad ? slot : cornerOfSlot[slot]); };

    // Vertex slots run backwards and flip y and z.
    for (int slot = 0; slot < 4; ++slot) {
        const ModelCorner& c = source(3 - slot);
        const ModelVertex& v = model.positions[std::size_t(c.position)];
        out.f32(v.x);
        out.f32(-v.y);
        out.f32(-v.z);
        out.f32(1.0f);
    }
    for (int slot = 0; slot < 4; ++slot) {
        const ModelCorner& c = source(slot);
        const ModelVertex& n = c.normal >= 0 && std::size_t(c.normal) < model.normals.size()
                                   ? model.normals[std::size_t(c.normal)]
                                   : noVector;
        out.f32(n.x);
        out.f32(n.y);
        out.f32(n.z);
        out.f32(0.0f);
    }
    for (int slot = 0; slot < 4; ++slot) {
        const ModelCorner& c = source(slot);
        const ModelUV& uv = c.uv >= 0 && std::size_t(c.uv) < model.uvs.size() ? model.uvs[std::size_t(c.uv)] : noUV;
        out.f32(uv.u * scale.width);
        out.f32(uv.v * scale.height);
    }
    // A corner without a colour table entry takes its group's colour.
    const ModelCorner& colourCorner = corner(quad ? 3 : 0);
    const ModelColor& colour = colourCorner.color >= 0 && std::size_t(colourCorner.color) < model.colors.size()
                                   ? model.colors[std::size_t(colourCorner.color)]
                                   : group.color;
    out.u32(std::uint32_t(colourByte(colour.red)) * 65536 + std::uint32_t(colourByte(colour.green)) * 256 +
            std::uint32_t(colourByte(colour.blue)));
    out.i16(std::int16_t(textured ? group.textureIndex - 1 : -1));
    out.i16(std::int16_t(polygon.group));
}

}  // namespace

std::optional<FormatError> writeMx(const Model& model, WriteContext& ctx) {
    std::size_t slotCount = 0;
    if (auto error = countNameSlots(model, slotCount))
        return error;
    std::vector<std::string> names;
    std::vector<Scale> scales;
    nameTextures(model, slotCount, names, scales, ctx);

    const std::size_t faceCount = model.polygons.size();
    std::vector<std::byte> bytes;
    bytes.reserve(kHeaderBytes + kRecordBytes + faceCount * kFaceBytes + slotCount * kNameBytes);
    ByteWriter out(bytes);
    writeHeader(out, faceCount, slotCount);
    for (const ModelPolygon& polygon : model.polygons)
        writeFace(out, model, polygon, scales);
    for (const std::string& name : names) {
        out.text(name);
        out.zeros(kNameBytes - name.size());
    }
    ctx.bytes = std::move(bytes);
    return std::nullopt;
}

}  // namespace rv

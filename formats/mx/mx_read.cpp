// HSP 2.55 MX models: quadrilateral faces that carry their own vertices, normals, texture
// coordinates (in pixels), colour, texture number and group number, plus 16-byte texture names.
#include <cstdint>
#include <string>
#include <vector>

#include "formats/common/byte_cursor.h"
#include "formats/mx/mx.h"
#include "model/mesh.h"

namespace rv {

namespace {

constexpr std::size_t kHeaderBytes = 32;
constexpr std::size_t kRecordBytes = 60;
constexpr std::size_t kFaceBytes = 168;
constexpr std::size_t kNameBytes = 16;
constexpr std::uint32_t kMaxRecords = 30;
constexpr std::uint32_t kMaxFaces = 2000;
constexpr std::uint32_t kMaxNameSlots = 256;

struct Face {
    std::array<std::array<float, 4>, 4> vertices{};
    std::array<std::array<float, 4>, 4> normals{};
    std::array<ModelUV, 4> uvs{};
    std::uint32_t colour = 0;
    std::int16_t texture = -1;
    std::int16_t group = 0;
};

FormatError errorAt(std::size_t offset, std::string reason) { return FormatError::atByte(offset, std::move(reason)); }

std::string limitReason(const char* what, std::uint32_t count, std::uint32_t limit) {
    return std::string(what) + " " + std::to_string(count) + " is over the limit of " + std::to_string(limit);
}

struct MxFile {
    std::vector<Face> faces;
    std::vector<std::string> names;  // one per name slot, empty for an unused slot
};

// Reads the three sections and checks every face's group against the name slots.
std::optional<FormatError> parseMx(std::span<const std::byte> file, MxFile& out) {
    ByteCursor cur(file);
    if (file.size() < kHeaderBytes)
        return errorAt(file.size(), "file of " + std::to_string(file.size()) + " bytes is too short for an MX header");
    cur.skip(8);  // magic and version are not checked
    const std::uint32_t sizeA = cur.u32();
    cur.skip(4);
    const std::uint32_t sizeB = cur.u32();
    cur.skip(4);
    const std::uint32_t sizeC = cur.u32();
    cur.skip(4);
    const std::uint32_t records = sizeA / kRecordBytes;
    const std::uint32_t faceCount = sizeB / kFaceBytes;
    const std::uint32_t slotCount = sizeC / kNameBytes;
    if (records > kMaxRecords)
        return errorAt(8, limitReason("section A record count", records, kMaxRecords));
    if (faceCount > kMaxFaces)
        return errorAt(16, limitReason("face count", faceCount, kMaxFaces));
    if (slotCount > kMaxNameSlots)
        return errorAt(24, limitReason("texture name slot count", slotCount, kMaxNameSlots));

    // The sections follow the header one after another; their offsets in the header are not used.
    if (!cur.skip(records * kRecordBytes))
        return errorAt(file.size(), "file ends inside section A");
    if (!cur.fits(faceCount, kFaceBytes))
        return errorAt(file.size(), "file ends inside the face table (" + std::to_string(faceCount) + " faces)");
    const std::size_t facesAt = cur.offset();
    std::vector<Face>& faces = out.faces;
    faces.assign(faceCount, Face{});
    for (Face& face : faces) {
        for (auto& v : face.vertices)
            for (float& c : v)
                c = cur.f32();
        for (auto& n : face.normals)
            for (float& c : n)
                c = cur.f32();
        for (ModelUV& uv : face.uvs) {
            uv.u = cur.f32();
            uv.v = cur.f32();
        }
        face.colour = cur.u32();
        face.texture = cur.i16();
        face.group = cur.i16();
    }
    if (!cur.fits(slotCount, kNameBytes))
        return errorAt(file.size(), "file ends inside the texture names (" + std::to_string(slotCount) + " slots)");
    out.names.assign(slotCount, std::string());
    for (std::string& name : out.names) {
        const std::string raw = cur.takeString(kNameBytes);
        name = raw.substr(0, raw.find('\0'));
    }

    for (std::size_t f = 0; f < faces.size(); ++f)
        if (faces[f].group < 0 || std::uint32_t(faces[f].group) >= slotCount)
            return errorAt(facesAt + f * kFaceBytes + 166, "face " + std::to_string(f) + " names group " +
                                                               std::to_string(faces[f].group) + ", but the file has " +
                                                               std::to_string(slotCount) + " groups");
    return std::nullopt;
}

// The texture entry a face names; a number past the texture table leaves the face untextured.
int textureEntryOf(const Face& face, const Model& model) {
    const int entry = face.texture + 1;
    return entry < 0 || std::size_t(entry) >= model.textures.size() ? -1 : entry;
}

}  // namespace

std::optional<FormatError> readMx(std::span<const std::byte> file, Model& model, ReadContext& ctx) {
    MxFile mx;
    if (auto error = parseMx(file, mx))
        return error;
    const std::vector<Face>& faces = mx.faces;
    const std::vector<std::string>& names = mx.names;

    if (!ctx.path.empty())
        model.fileName = ctx.path;
    // One group per name slot; a file without slots keeps the new model's single group.
    model.groups.assign(std::max<std::size_t>(1, names.size()), ModelGroup{});

    // Texture entry i takes the i-th slot, empty slots included; only the count skips them.
    std::size_t textureCount = 0;
    for (const std::string& name : names)
        if (!name.empty())
            ++textureCount;
    model.textures.assign(textureCount + 2, ModelTexture{});
    for (std::size_t i = 1; i <= textureCount; ++i) {
        ModelTexture& texture = model.textures[i];
        texture.kind = 1;
        texture.fileName = names[i - 1] + ".bmp";
    }

    std::size_t untextured = 0;
    model.positions.clear();
    model.normals.clear();
    model.colors.clear();
    model.uvs.clear();
    model.polygons.assign(faces.size(), ModelPolygon{});
    for (std::size_t f = 0; f < faces.size(); ++f) {
        const Face& face = faces[f];
        int textureIndex = textureEntryOf(face, model);
        if (textureIndex < 0) {
            textureIndex = 0;
            ++untextured;
        }
        ModelPolygon& polygon = model.polygons[f];
        polygon.cornerCount = 4;
        polygon.group = face.group;
        ModelGroup& group = model.groups[std::size_t(face.group)];
        group.textureIndex = textureIndex;
        // MX has no switch of its own: a group is textured when its face names an image.
        group.textured = model.textures[std::size_t(textureIndex)].kind == 1 ? 1 : 0;
        const ModelColor colour{float((face.colour >> 16) & 0xff), float((face.colour >> 8) & 0xff),
                                float(face.colour & 0xff), 255};
        for (int k = 0; k < 4; ++k) {
            const auto& v = face.vertices[3 - k];
            const auto& n = face.normals[3 - k];
            model.positions.push_back({v[0], -v[1], -v[2]});
            model.normals.push_back({n[0], -n[1], -n[2]});
            model.colors.push_back(colour);
            // In pixels of the face's image until scaleMxUvsToTextures knows its size.
            model.uvs.push_back(face.uvs[k]);
            const std::int32_t index = std::int32_t(4 * f + k);
            polygon.corners[k] = {index, index, index, index};
        }
    }
    model.skin.assign(model.positions.size(), ModelSkinWeight{});
    if (untextured > 0)
        ctx.warn(std::to_string(untextured) +
                 " faces name a texture that the file does not have; they are left untextured");
    weldModel(model);
    model.renderModeDirty = 1;
    return std::nullopt;
}

void scaleMxUvsToTextures(Model& model, std::span<const std::byte> file) {
    const auto sized = [&model](int entry) {
        const ModelTexture& texture = model.textures[std::size_t(entry)];
        return entry > 0 && texture.kind == 1 && texture.width > 0 && texture.height > 0;
    };
    bool anySized = false;
    for (std::size_t i = 0; i < model.textures.size(); ++i)
        anySized = anySized || sized(int(i));
    MxFile mx;
    if (!anySized || parseMx(file, mx) || mx.faces.size() != model.polygons.size())
        return;
    for (const ModelPolygon& polygon : model.polygons)
        for (int k = 0; k < 4; ++k)
            if (polygon.cornerCount != 4 || polygon.corners[k].uv < 0 ||
                std::size_t(polygon.corners[k].uv) >= model.uvs.size())
                return;  // not the model readMx made of this file
    // Welding shared one uv entry among faces whose images may differ in size: give every corner
    // its own scaled entry again, in corner order, and weld once more.
    HugePageVector<ModelUV> uvs;
    uvs.reserve(4 * model.polygons.size());
    for (std::size_t f = 0; f < model.polygons.size(); ++f) {
        const int entry = textureEntryOf(mx.faces[f], model);
        float width = 1, height = 1;
        if (entry >= 0 && sized(entry)) {
            width = float(model.textures[std::size_t(entry)].width);
            height = float(model.textures[std::size_t(entry)].height);
        }
        ModelPolygon& polygon = model.polygons[f];
        for (int k = 0; k < 4; ++k) {
            const ModelUV& uv = model.uvs[std::size_t(polygon.corners[k].uv)];
            uvs.push_back({uv.u / width, uv.v / height});
            polygon.corners[k].uv = std::int32_t(uvs.size() - 1);
        }
    }
    model.uvs = std::move(uvs);
    weldModel(model);
}

}  // namespace rv

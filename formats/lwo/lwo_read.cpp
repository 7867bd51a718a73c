// LightWave LWOB objects: points, polygons and surface colours. Every surface becomes a group;
// textures, normals and other surface properties are not read.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "formats/common/byte_cursor.h"
#include "formats/lwo/lwo.h"
#include "model/mesh.h"

namespace rv {

namespace {

constexpr std::size_t kSurfaceNameBytes = 127;  // longest name the surface table holds
// Polygons name surfaces with signed 16-bit words, negated for detail polygons: 32768 at most.
constexpr std::size_t kMaxSurfaces = 32768;
// A surface without COLR gets 128/255 on the 0..255 scale, i.e. nearly black (kept as found).
const float kUncolouredShade = bitsFloat(0x3F008081u);
constexpr float kPointScale = 10.0f;

struct Surface {
    std::string name;
    bool coloured = false;
    float red = 0, green = 0, blue = 0;
};

struct LwoFile {
    std::vector<ModelVertex> points;
    std::vector<std::uint16_t> words;
    std::size_t wordsOffset = 0;  // of the POLS data, for messages
    std::vector<Surface> surfaces;
    std::size_t currentSurface = 0;  // the surface a SURF with an unknown name applies to
    bool seenSrfs = false, seenPnts = false, seenPols = false;
};

FormatError errorAt(std::size_t offset, std::string reason) { return FormatError::atByte(offset, std::move(reason)); }

std::string tagText(std::span<const std::byte> tag) {
    std::string out;
    for (std::byte b : tag) {
        const char c = char(b);
        out += (c >= 0x20 && c < 0x7f) ? c : '?';
    }
    return out;
}

bool isTag(std::span<const std::byte> tag, const char* name) {
    for (int i = 0; i < 4; ++i)
        if (char(tag[i]) != name[i])
            return false;
    return true;
}

std::optional<FormatError> readPoints(std::span<const std::byte> data, std::size_t at, LwoFile& lwo) {
    const std::size_t count = data.size() / 12;
    if (count > std::size_t(kMaxTableEntries))
        return errorAt(at, "point count " + std::to_string(count) + " is over the limit of " +
                               std::to_string(kMaxTableEntries));
    ByteCursor cur(data, ByteCursor::Endian::Big);
    lwo.points.clear();
    lwo.points.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        ModelVertex v;
        v.x = cur.f32();
        v.y = cur.f32();
        v.z = cur.f32();
        lwo.points.push_back(v);
    }
    lwo.seenPnts = true;
    return std::nullopt;
}

void readPolygonWords(std::span<const std::byte> data, std::size_t at, LwoFile& lwo) {
    ByteCursor cur(data, ByteCursor::Endian::Big);
    const std::size_t count = data.size() / 2;
    lwo.words.assign(count, 0);
    for (std::size_t i = 0; i < count; ++i)
        lwo.words[i] = cur.u16();
    lwo.wordsOffset = at;
    lwo.seenPols = true;
}

// Names are zero-terminated and padded to an even length; a later SRFS replaces an earlier one.
std::optional<FormatError> readSurfaceNames(std::span<const std::byte> data, std::size_t at, LwoFile& lwo) {
    lwo.surfaces.clear();
    std::size_t i = 0;
    while (i < data.size()) {
        Surface surface;
        const std::size_t start = i;
        while (i < data.size() && data[i] != std::byte{0})
            surface.name += char(data[i++]);
        if (surface.name.size() > kSurfaceNameBytes)
            return errorAt(at + start, "surface name of " + std::to_string(surface.name.size()) +
                                           " bytes is longer than " + std::to_string(kSurfaceNameBytes));
        if (i < data.size()) {
            if (i % 2 == 0)
                ++i;  // the pad byte after a name whose length with its zero is odd
            ++i;
        }
        if (lwo.surfaces.size() == kMaxSurfaces)
            return errorAt(at + start, "surface count is over the limit of " + std::to_string(kMaxSurfaces));
        lwo.surfaces.push_back(std::move(surface));
    }
    lwo.seenSrfs = true;
    return std::nullopt;
}

std::optional<FormatError> readSurface(std::span<const std::byte> data, std::size_t at, LwoFile& lwo) {
    std::size_t i = 0;
    std::string name;
    while (i < data.size() && data[i] != std::byte{0})
        name += char(data[i++]);
    if (name.size() > kSurfaceNameBytes)
        return errorAt(at, "surface name of " + std::to_string(name.size()) + " bytes is longer than " +
                               std::to_string(kSurfaceNameBytes));
    i += (name.size() + 1) % 2 == 1 ? 2 : 1;  // zero byte and pad

    for (std::size_t s = 0; s < lwo.surfaces.size(); ++s) {
        if (lwo.surfaces[s].name == name) {
            lwo.currentSurface = s;
            break;
        }
    }
    // An unknown name goes to the surface after the previous SURF; past the table it is dropped.
    if (lwo.currentSurface >= lwo.surfaces.size())
        return std::nullopt;
    Surface& surface = lwo.surfaces[lwo.currentSurface];

    while (i + 6 <= data.size()) {
        const auto tag = data.subspan(i, 4);
        const std::size_t size = (std::size_t(data[i + 4]) << 8) | std::size_t(data[i + 5]);
        i += 6;
        if (size > data.size() - i)
            return errorAt(at + i - 6, "sub-chunk " + tagText(tag) + " of " + std::to_string(size) +
                                           " bytes runs past the end of its SURF chunk");
        if (isTag(tag, "COLR")) {
            if (size < 3)
                return errorAt(at + i - 6, "COLR sub-chunk of " + std::to_string(size) + " bytes holds no colour");
            surface.red = float(std::uint8_t(data[i]));
            surface.green = float(std::uint8_t(data[i + 1]));
            surface.blue = float(std::uint8_t(data[i + 2]));
            surface.coloured = true;
        }
        i += size;
    }
    ++lwo.currentSurface;
    return std::nullopt;
}

std::optional<FormatError> readChunks(std::span<const std::byte> file, LwoFile& lwo) {
    if (file.size() < 12)
        return errorAt(file.size(),
                       "file of " + std::to_string(file.size()) + " bytes is too short for an LWOB header");
    ByteCursor cur(file, ByteCursor::Endian::Big);
    const auto form = cur.take(4);
    const std::uint32_t formSize = cur.u32();
    const auto type = cur.take(4);
    if (char(form[0]) != 'F')
        return errorAt(0, "not an IFF file (no FORM header)");
    if (!isTag(type, "LWOB"))
        return errorAt(8, "form type " + tagText(type) + " is not LWOB");
    if (formSize < 4)
        return errorAt(4, "form size " + std::to_string(formSize) + " is too small");
    const std::uint64_t formEnd = 8 + std::uint64_t(formSize);
    if (formEnd > file.size())
        return errorAt(file.size(), "file ends after " + std::to_string(file.size()) + " bytes inside a form of " +
                                        std::to_string(formEnd) + " bytes");

    std::size_t pos = 12;
    // Fewer than 8 bytes left cannot hold a chunk; they are ignored.
    while (pos + 8 <= formEnd) {
        const auto tag = file.subspan(pos, 4);
        cur.seek(pos + 4);
        const std::uint32_t size = cur.u32();
        const std::size_t dataAt = pos + 8;
        if (size > formEnd - dataAt)
            return errorAt(pos, "chunk " + tagText(tag) + " of " + std::to_string(size) +
                                    " bytes runs past the end of the file");
        const auto data = file.subspan(dataAt, size);
        std::optional<FormatError> error;
        if (isTag(tag, "PNTS"))
            error = readPoints(data, dataAt, lwo);
        else if (isTag(tag, "POLS"))
            readPolygonWords(data, dataAt, lwo);
        else if (isTag(tag, "SRFS"))
            error = readSurfaceNames(data, dataAt, lwo);
        else if (isTag(tag, "SURF"))
            error = readSurface(data, dataAt, lwo);
        if (error)
            return error;
        // IFF pads odd-sized chunks to an even length.
        pos = dataAt + size + (size % 2);
    }
    return std::nullopt;
}

std::uint64_t colourKey(float r, float g, float b) {
    // Surface colours are whole bytes or the uncoloured shade: no NaN, no -0.
    return (std::uint64_t(floatBits(r)) * 31 + floatBits(g)) * 31 + floatBits(b);
}

}  // namespace

std::optional<FormatError> readLwo(std::span<const std::byte> file, Model& model, ReadContext& ctx) {
    LwoFile lwo;
    if (auto error = readChunks(file, lwo))
        return error;
    if (!lwo.seenSrfs)
        return errorAt(file.size(), "the file has no SRFS chunk (surface names)");
    if (!lwo.seenPnts)
        return errorAt(file.size(), "the file has no PNTS chunk (points)");
    if (!lwo.seenPols)
        return errorAt(file.size(), "the file has no POLS chunk (polygons)");

    for (Surface& s : lwo.surfaces)
        if (!s.coloured)
            s.red = s.green = s.blue = kUncolouredShade;

    // One group per surface; a file without surfaces keeps the new model's single group.
    std::vector<ModelGroup> groups(std::max<std::size_t>(1, lwo.surfaces.size()));
    std::unordered_map<std::uint64_t, std::int32_t> lastGroupOfColour;
    for (std::size_t s = 0; s < lwo.surfaces.size(); ++s) {
        const Surface& surface = lwo.surfaces[s];
        groups[s].color = {surface.red, surface.green, surface.blue, 255};
        lastGroupOfColour[colourKey(surface.red, surface.green, surface.blue)] = std::int32_t(s);
    }

    HugePageVector<ModelPolygon> polygons;
    HugePageVector<ModelColor> colors;
    const std::vector<std::uint16_t>& words = lwo.words;
    std::size_t w = 0;
    std::size_t filePolygon = 0;
    while (w < words.size()) {
        const std::size_t at = lwo.wordsOffset + 2 * w;
        const std::size_t n = words[w];
        if (n + 2 > words.size() - w)
            return errorAt(at, "polygon " + std::to_string(filePolygon) + " runs past the end of the POLS chunk");
        const std::uint16_t* points = &words[w + 1];
        for (std::size_t k = 0; k < n; ++k)
            if (points[k] >= lwo.points.size())
                return errorAt(at, "polygon " + std::to_string(filePolygon) + " names point " +
                                       std::to_string(points[k]) + ", but the file has " +
                                       std::to_string(lwo.points.size()) + " points");
        int surface = std::int16_t(words[w + n + 1]);
        w += n + 2;
        if (surface < 0) {
            // Detail polygons: a count follows, then the polygons themselves, read as ordinary ones.
            surface = -surface;
            if (w >= words.size())
                return errorAt(at, "polygon " + std::to_string(filePolygon) + " lacks its detail polygon count");
            ++w;
        }
        if (surface < 1 || std::size_t(surface) > lwo.surfaces.size())
            return errorAt(at, "polygon " + std::to_string(filePolygon) + " names surface " + std::to_string(surface) +
                                   ", but the file has " + std::to_string(lwo.surfaces.size()) + " surfaces");
        ++filePolygon;
        if (n == 0)
            continue;  // nothing to keep

        const Surface& s = lwo.surfaces[std::size_t(surface) - 1];
        const std::int32_t group = lastGroupOfColour[colourKey(s.red, s.green, s.blue)];
        // More than 4 corners: a fan of triangles (0, k+1, k+2).
        const std::size_t pieces = n > 4 ? n - 2 : 1;
        if (pieces > std::size_t(kMaxPolygons) - polygons.size())
            return errorAt(at, "polygon count is over the limit of " + std::to_string(kMaxPolygons));
        for (std::size_t piece = 0; piece < pieces; ++piece) {
            ModelPolygon polygon;
            polygon.group = group;
            const std::int32_t colour = std::int32_t(polygons.size());
            if (n > 4) {
                polygon.cornerCount = 3;
                const std::size_t pick[3] = {0, piece + 1, piece + 2};
                for (int k = 0; k < 3; ++k)
                    polygon.corners[k] = {points[pick[k]], 0, colour, 0};
            } else {
                polygon.cornerCount = std::uint8_t(n);
                for (std::size_t k = 0; k < n; ++k)
                    polygon.corners[k] = {points[k], 0, colour, 0};
            }
            polygons.push_back(polygon);
            colors.push_back({s.red, s.green, s.blue, 255});
        }
    }

    if (!ctx.path.empty())
        model.fileName = ctx.path;
    model.positions.clear();
    model.positions.reserve(lwo.points.size());
    for (const ModelVertex& p : lwo.points)
        model.positions.push_back({p.x * kPointScale, p.y * kPointScale, p.z * kPointScale});
    model.skin.assign(model.positions.size(), ModelSkinWeight{});
    model.normals.clear();
    model.uvs.clear();
    model.colors = std::move(colors);
    model.polygons = std::move(polygons);
    model.groups = std::move(groups);
    model.tint = {255, 255, 255, 255};
    computeNormals(model);
    model.renderModeDirty = 1;
    return std::nullopt;
}

}  // namespace rv

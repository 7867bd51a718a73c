// LightWave LWOB objects: points, polygons and one surface per distinct polygon colour.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "formats/common/byte_writer.h"
#include "formats/common/model_checks.h"
#include "formats/lwo/lwo.h"

namespace rv {

namespace {

constexpr double kPointScale = 0.1;
constexpr std::size_t kMaxPointIndex = 65535;  // POLS holds unsigned 16-bit point indices
constexpr std::size_t kMaxSurfaces = 32767;  // POLS holds signed 16-bit surface numbers
const float kSmoothingAngle = bitsFloat(0x3F46D3F2u);  // 44.5 degrees in radians

struct Rgb {
    std::uint8_t red = 0, green = 0, blue = 0;
};

FormatError writeError(std::string reason) { return FormatError::refusal(std::move(reason)); }

std::string surfaceName(std::size_t number) {
    char name[16];
    std::snprintf(name, sizeof name, "KZ%zu", number);
    return name;
}

void writeName(ByteWriter& out, const std::string& name) {
    out.text(name);
    out.u8(0);
    if ((name.size() + 1) % 2 == 1)
        out.u8(0);
}

// Opens a chunk: its tag and a size patched by closeChunk.
std::size_t openChunk(ByteWriter& out, const char* tag) {
    out.text(std::string_view(tag, 4));
    const std::size_t at = out.size();
    out.u32(0);
    return at;
}

void closeChunk(ByteWriter& out, std::size_t sizeAt) { out.patchU32(sizeAt, std::uint32_t(out.size() - sizeAt - 4)); }

void subChunkU16(ByteWriter& out, const char* tag, std::uint16_t value) {
    out.text(std::string_view(tag, 4));
    out.u16(2);
    out.u16(value);
}

// Surfaces in order of first use; a polygon's surface is that of its first corner's colour.
struct SurfaceTable {
    std::vector<Rgb> surfaces;
    std::vector<std::uint16_t> polygonSurface;  // 1-based surface numbers
};

std::optional<FormatError> assignSurfaces(const Model& model, SurfaceTable& table) {
    std::vector<Rgb>& surfaces = table.surfaces;
    std::unordered_map<std::uint32_t, std::uint16_t> surfaceOfColour;
    std::vector<std::uint16_t>& polygonSurface = table.polygonSurface;
    polygonSurface.assign(model.polygons.size(), 0);
    const ModelGroup fallbackGroup;
    for (std::size_t p = 0; p < model.polygons.size(); ++p) {
        const ModelPolygon& polygon = model.polygons[p];
        if (auto error = checkPolygonCorners(model, p))
            return error;
        for (int k = 0; k < polygon.cornerCount; ++k) {
            const std::int32_t index = polygon.corners[k].position;
            if (std::size_t(index) > kMaxPointIndex)
                return writeError("polygon " + std::to_string(p) + " names position " + std::to_string(index) +
                                  "; an LWO file can only index positions up to " + std::to_string(kMaxPointIndex));
        }
        // A first corner without a colour table entry takes its group's colour.
        const ModelColor* colour = nullptr;
        const std::int32_t colourIndex = polygon.corners[0].color;
        if (polygon.cornerCount > 0 && colourIndex >= 0 && std::size_t(colourIndex) < model.colors.size())
            colour = &model.colors[std::size_t(colourIndex)];
        else if (polygon.group >= 0 && std::size_t(polygon.group) < model.groups.size())
            colour = &model.groups[std::size_t(polygon.group)].color;
        else
            colour = &fallbackGroup.color;
        const Rgb rgb{colourByte(colour->red), colourByte(colour->green), colourByte(colour->blue)};
        const std::uint32_t key = (std::uint32_t(rgb.red) << 16) | (std::uint32_t(rgb.green) << 8) | rgb.blue;
        auto found = surfaceOfColour.find(key);
        if (found == surfaceOfColour.end()) {
            if (surfaces.size() == kMaxSurfaces)
                return writeError("the model has more than " + std::to_string(kMaxSurfaces) +
                                  " distinct polygon colours; an LWO file cannot name more surfaces");
            surfaces.push_back(rgb);
            found = surfaceOfColour.emplace(key, std::uint16_t(surfaces.size())).first;
        }
        polygonSurface[p] = found->second;
    }
    return std::nullopt;
}

}  // namespace

std::size_t lwoSurfaceCount(const Model& model) {
    SurfaceTable table;
    return assignSurfaces(model, table) ? 0 : table.surfaces.size();
}

std::optional<FormatError> writeLwo(const Model& model, WriteContext& ctx) {
    SurfaceTable table;
    if (auto error = assignSurfaces(model, table))
        return error;
    const std::vector<Rgb>& surfaces = table.surfaces;
    const std::vector<std::uint16_t>& polygonSurface = table.polygonSurface;

    std::vector<std::byte> bytes;
    ByteWriter out(bytes, ByteWriter::Endian::Big);
    out.text("FORM");
    const std::size_t formSizeAt = out.size();
    out.u32(0);
    out.text("LWOB");

    std::size_t chunk = openChunk(out, "SRFS");
    for (std::size_t s = 0; s < surfaces.size(); ++s)
        writeName(out, surfaceName(s));
    closeChunk(out, chunk);

    chunk = openChunk(out, "PNTS");
    for (const ModelVertex& v : model.positions) {
        out.f32(float(v.x * kPointScale));
        out.f32(float(v.y * kPointScale));
        out.f32(float(v.z * kPointScale));
    }
    closeChunk(out, chunk);

    chunk = openChunk(out, "POLS");
    for (std::size_t p = 0; p < model.polygons.size(); ++p) {
        const ModelPolygon& polygon = model.polygons[p];
        out.u16(polygon.cornerCount);
        for (int k = 0; k < polygon.cornerCount; ++k)
            out.u16(std::uint16_t(polygon.corners[k].position));
        out.i16(std::int16_t(polygonSurface[p]));
    }
    closeChunk(out, chunk);

    for (std::size_t s = 0; s < surfaces.size(); ++s) {
        chunk = openChunk(out, "SURF");
        writeName(out, surfaceName(s));
        out.text("COLR");
        out.u16(4);
        out.u8(surfaces[s].red);
        out.u8(surfaces[s].green);
        out.u8(surfaces[s].blue);
        out.u8(0);
        subChunkU16(out, "FLAG", 260);
        out.text("SMAN");
        out.u16(4);
        out.f32(kSmoothingAngle);
        subChunkU16(out, "DIFF", 256);
        subChunkU16(out, "TRAN", 0);
        subChunkU16(out, "SPEC", 0);
        subChunkU16(out, "GLOS", 0);
        closeChunk(out, chunk);
    }

    closeChunk(out, formSizeAt);
    ctx.bytes = std::move(bytes);
    return std::nullopt;
}

}  // namespace rv

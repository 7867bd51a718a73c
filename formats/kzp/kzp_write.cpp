#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "formats/common/byte_writer.h"
#include "formats/kzp/kzp.h"
#include "model/mesh.h"

namespace rv {
namespace {

using Error = std::optional<FormatError>;

// Tables are written as they lie in memory.
static_assert(std::endian::native == std::endian::little);
static_assert(sizeof(ModelVertex) == 12 && sizeof(ModelColor) == 16 && sizeof(ModelUV) == 8);

std::string str(std::int64_t v) { return std::to_string(v); }

Error refuse(std::string reason) { return FormatError::refusal(std::move(reason)); }

// A text field as the file stores it: the bytes up to its terminating zero.
std::string_view fieldText(const std::string& s) { return std::string_view(s.data(), std::strlen(s.c_str())); }

Error checkName(const std::string& s, std::size_t maxBytes, const std::string& what) {
    const std::size_t n = fieldText(s).size();
    if (n > maxBytes)
        return refuse(what + " is " + str(std::int64_t(n)) + " bytes long, over the limit of " +
                      str(std::int64_t(maxBytes)));
    return {};
}

Error checkCount(std::size_t n, std::size_t limit, const std::string& what) {
    if (n > limit)
        return refuse(what + " count " + str(std::int64_t(n)) + " is over the limit of " + str(std::int64_t(limit)));
    return {};
}

// Everything the reader refuses is refused here too, so that no save yields a file that cannot be
// loaded again.
Error checkWritable(const Model& m) {
    if (Error e = checkCount(m.positions.size(), kMaxTableEntries, "position"))
        return e;
    if (Error e = checkCount(m.normals.size(), kMaxTableEntries, "normal"))
        return e;
    if (Error e = checkCount(m.colors.size(), kMaxTableEntries, "colour"))
        return e;
    if (Error e = checkCount(m.uvs.size(), kMaxTableEntries, "uv"))
        return e;
    if (Error e = checkCount(m.polygons.size(), kMaxPolygons, "polygon"))
        return e;
    for (std::size_t p = 0; p < m.polygons.size(); ++p)
        if (std::optional<std::string> misfit = kzpPolygonMisfit(m, p))
            return refuse(std::move(*misfit));
    if (Error e = checkCount(m.textures.size(), INT16_MAX, "texture"))
        return e;
    for (std::size_t t = 0; t < m.textures.size(); ++t)
        if (m.textures[t].kind != 0)
            if (Error e =
                    checkName(m.textures[t].fileName, kMaxNameBytes, "the name of texture " + str(std::int64_t(t))))
                return e;
    if (Error e = checkCount(m.groups.size(), INT32_MAX, "group"))
        return e;
    for (std::size_t g = 0; g < m.groups.size(); ++g) {
        const ModelGroup& group = m.groups[g];
        const std::string what = "group " + str(std::int64_t(g));
        if (Error e = checkName(group.name, kMaxNameBytes, "the name of " + what))
            return e;
        if (!kzpOptionalIndexFits(group.textureIndex, m.textures.size()))
            return refuse(what + " uses texture " + str(group.textureIndex) + ", past the " + str(m.textureCount()) +
                          " texture entries");
    }
    if (Error e = checkCount(m.motions.size(), kMaxKzpMotions, "motion"))
        return e;
    for (std::size_t mi = 0; mi < m.motions.size(); ++mi) {
        const ModelMotion& motion = m.motions[mi];
        const std::string what = "motion " + str(std::int64_t(mi));
        if (Error e = checkName(motion.name, kMaxNameBytes, "the name of " + what))
            return e;
        for (std::size_t g = 0; g < motion.groupKeys.size() && g < m.groups.size() && g < std::size_t(kMaxKeyedGroups);
             ++g) {
            const std::int32_t n = motion.groupKeys[g].keyCount;
            if (n < 0 || n > kMaxGroupKeys)
                return refuse(what + " group " + str(std::int64_t(g)) + " key count " + str(n) + " is outside 0 to 16");
        }
    }
    if (m.boneCount < 0 || m.boneCount > kMaxBones)
        return refuse("bone count " + str(m.boneCount) + " is outside 0 to 128");
    for (std::int32_t b = 0; b < m.boneCount; ++b) {
        const ModelBone& bone = m.bones[std::size_t(b)];
        if (Error e = checkName(bone.name, kMaxBoneNameBytes, "the name of bone " + str(b)))
            return e;
        if (bone.parent < 0 || bone.parent >= kMaxBones)
            return refuse("bone " + str(b) + " has parent " + str(bone.parent) + ", outside 0 to 127");
    }
    return {};
}

class KzpWriter {
public:
    KzpWriter(const Model& model, std::vector<std::byte>& out) : m_(model), out_(out), w_(out), meshes_(model) {}

    void write() {
        w_.text("KZP");
        w_.i32(kCurrentRevision);
        writeTables();
        writePolygons();
        writeTextures();
        w_.i16(m_.displacementOn);
        w_.f32(m_.displacementScale);
        writeGroups();
        writeSettings();
        writeMotions();
        writeBones();
        writeTails();
    }

private:
    // Appends `bytes` bytes and returns where they start, for records encoded in place.
    std::byte* grow(std::size_t bytes) {
        const std::size_t at = out_.size();
        out_.resize(at + bytes);
        return out_.data() + at;
    }
    static std::byte* put32(std::byte* p, std::uint32_t v) {
        std::memcpy(p, &v, 4);
        return p + 4;
    }
    // A table of plain float records, as stored in memory (the file and the host are
    // little-endian).
    template <typename T, typename A>
    void floatTable(const std::vector<T, A>& table) {
        static_assert(std::is_trivially_copyable_v<T> && sizeof(T) % 4 == 0);
        w_.bytes(std::as_bytes(std::span(table)));
    }
    void skinTable(std::span<const ModelSkinWeight> table, std::size_t n) {
        std::byte* p = grow(n * 7);
        for (std::size_t i = 0; i < n; ++i, p += 7) {
            const ModelSkinWeight& s = entry(table, i);
            p[0] = std::byte(s.bone);
            p[1] = std::byte(s.bone2);
            put32(p + 2, floatBits(s.weight));
            p[6] = std::byte(s.autoBind);
        }
    }
    void polygonTable(std::span<const ModelPolygon> polygons) {
        std::size_t bytes = 0;
        for (const ModelPolygon& poly : polygons)
            bytes += 1 + 16 * std::size_t(poly.cornerCount) + 4;
        std::byte* p = grow(bytes);
        for (const ModelPolygon& poly : polygons) {
            *p++ = std::byte(poly.cornerCount);
            for (int c = 0; c < poly.cornerCount; ++c) {
                const ModelCorner& corner = poly.corners[std::size_t(c)];
                p = put32(p, std::uint32_t(corner.position));
                p = put32(p, std::uint32_t(corner.normal));
                p = put32(p, std::uint32_t(corner.color));
                p = put32(p, std::uint32_t(corner.uv));
            }
            p = put32(p, std::uint32_t(poly.group));
        }
    }

    // Triangles of a render mesh, in the polygon layout: three corners that carry the mesh
    // vertex index in their position slot, then the group.
    void triangleTable(std::span<const std::array<std::int32_t, 3>> triangles, std::int32_t group) {
        constexpr std::size_t kTriangleBytes = 1 + 3 * 16 + 4;
        std::byte* p = grow(triangles.size() * kTriangleBytes);
        std::memset(p, 0, triangles.size() * kTriangleBytes);
        for (const std::array<std::int32_t, 3>& triangle : triangles) {
            p[0] = std::byte(3);
            for (std::size_t c = 0; c < 3; ++c)
                put32(p + 1 + 16 * c, std::uint32_t(triangle[c]));
            put32(p + 1 + 3 * 16, std::uint32_t(group));
            p += kTriangleBytes;
        }
    }

    void name(const std::string& s) {
        const std::string_view text = fieldText(s);
        w_.i32(std::int32_t(text.size()));
        w_.text(text);
    }
    void color(const ModelColor& c) {
        w_.f32(c.red);
        w_.f32(c.green);
        w_.f32(c.blue);
        w_.f32(c.alpha);
    }
    template <std::size_t N>
    void floats(const std::array<float, N>& values) {
        for (float f : values)
            w_.f32(f);
    }
    // An entry of a table that may be shorter than the one it runs beside (skin beside
    // positions): missing entries go out as defaults.
    template <typename T>
    static const T& entry(std::span<const T> table, std::size_t i) {
        static const T fallback{};
        return i < table.size() ? table[i] : fallback;
    }

    void writeTables() {
        w_.i32(m_.positionCount());
        w_.i32(m_.normalCount());
        w_.i32(m_.colorCount());
        w_.i32(m_.uvCount());
        floatTable(m_.positions);
        floatTable(m_.normals);
        floatTable(m_.colors);
        floatTable(m_.uvs);
        skinTable(m_.skin, m_.positions.size());
    }

    void writePolygons() {
        w_.i32(m_.polygonCount());
        polygonTable(m_.polygons);
    }

    // Every entry of a non-zero kind carries its name, since the reader expects one.
    void writeTextures() {
        w_.i16(std::int16_t(m_.textures.size()));
        for (const ModelTexture& texture : m_.textures) {
            w_.i32(texture.kind);
            if (texture.kind != 0)
                name(texture.fileName);
        }
    }

    void writeGroups() {
        w_.i32(m_.groupCount());
        for (std::size_t gi = 0; gi < m_.groups.size(); ++gi) {
            const ModelGroup& g = m_.groups[gi];
            name(g.name);
            w_.i32(g.textureIndex);
            color(g.color);
            w_.i32(g.shadeParam);
            w_.u8(g.edgeParam);
            for (std::uint32_t word : g.materialParams)
                w_.u32(word);
            w_.u8(g.textured);
            w_.i16(g.textureMode);
            w_.u8(g.lightFlag);
            w_.i16(g.lightMode);
            w_.u8(g.effectA);
            w_.f32(g.effectAValue);
            w_.u8(g.effectB);
            w_.f32(g.effectBValue);
            w_.u8(g.mapA);
            w_.i16(g.mapATexture);
            w_.u8(g.displacement);
            w_.i16(g.displacementTexture);
            w_.f32(g.displacementValue);
            w_.u8(g.mapC);
            w_.i16(g.mapCTexture);
            w_.u8(g.effectD);
            w_.f32(g.effectDValue);
            writeGroupMesh(std::int32_t(gi));
        }
    }

    // The render mesh built now from the polygons; whatever the group's own fields hold may be
    // stale and is not used.
    void writeGroupMesh(std::int32_t group) {
        meshes_.build(group, mesh_);
        w_.i32(std::int32_t(mesh_.positions.size()));
        floatTable(mesh_.positions);
        floatTable(mesh_.normals);
        floatTable(mesh_.colors);
        floatTable(mesh_.uvs);
        skinTable(mesh_.skin, mesh_.skin.size());
        w_.i32(std::int32_t(mesh_.triangles.size()));
        triangleTable(mesh_.triangles, group);
    }

    void writeSettings() {
        w_.i32(m_.lighting);
        w_.i32(m_.vertexColorMode);
        for (std::uint32_t word : m_.settingsWords)
            w_.u32(word);
        w_.u16(m_.subdivisionLevel);
    }

    // Only the first 256 groups have key tables; later groups are written with no keys.
    void writeMotions() {
        w_.i32(m_.motionCount());
        for (const ModelMotion& motion : m_.motions) {
            w_.i32(1);
            for (std::size_t g = 0; g < m_.groups.size(); ++g) {
                if (g >= std::size_t(kMaxKeyedGroups) || g >= motion.groupKeys.size()) {
                    w_.i32(0);
                    continue;
                }
                const ModelGroupKeyTable& table = motion.groupKeys[g];
                w_.i32(table.keyCount);
                for (std::int32_t k = 0; k < table.keyCount; ++k) {
                    const ModelGroupKey& key = table.keys[std::size_t(k)];
                    w_.i32(key.frame);
                    w_.i16(key.keyTexture);
                    w_.i16(key.keyValue);
                    floats(key.values);
                }
            }
            name(motion.name);
            w_.i32(motion.frameCount);
        }
    }

    void writeBones() {
        w_.i32(m_.boneCount);
        for (std::int32_t b = 0; b < m_.boneCount; ++b) {
            const ModelBone& bone = m_.bones[std::size_t(b)];
            name(bone.name);
            w_.i32(bone.parent);
            floats(bone.position);
            floats(bone.rotation);
            floats(bone.scale);
            for (std::size_t mi = 0; mi < m_.motions.size(); ++mi) {
                if (mi >= bone.tracks.size()) {
                    w_.i32(0);
                    continue;
                }
                const std::vector<ModelBoneKey>& keys = bone.tracks[mi].keys;
                w_.i32(std::int32_t(keys.size()));
                for (const ModelBoneKey& key : keys) {
                    w_.i32(key.frame);
                    floats(key.position);
                    floats(key.rotation);
                    floats(key.scale);
                }
            }
        }
    }

    void writeTails() {
        for (const ModelGroup& g : m_.groups) {
            w_.u8(g.groupOption);
            w_.i16(g.groupOptionValue);
        }
        for (const ModelMotion& motion : m_.motions) {
            w_.u8(motion.loop);
            w_.i16(motion.nextMotion);
        }
        for (const ModelGroup& g : m_.groups) {
            w_.u8(g.keyed);
            if (g.keyed == 1) {
                w_.i32(g.keyedA);
                w_.i32(g.keyedB);
            }
        }
    }

    const Model& m_;
    std::vector<std::byte>& out_;
    ByteWriter w_;
    GroupMeshBuilder meshes_;
    GroupRenderMesh mesh_;  // one group's, its storage reused by the next
};

// Room for the bulk of the file, so that appending does not keep reallocating. A render mesh has
// at most one vertex per corner and one triangle per corner past the second (twice that mirrored).
std::size_t estimatedBytes(const Model& m) {
    std::size_t n = 1024 + m.positions.size() * (12 + 7) + m.normals.size() * 12 + m.colors.size() * 16 +
                    m.uvs.size() * 8 + m.polygons.size() * 69 + m.groups.size() * 200;
    for (const ModelPolygon& p : m.polygons) {
        const std::size_t corners = std::min<std::size_t>(p.cornerCount, kMaxCorners);
        if (corners < 3 || !kzpIndexFits(p.group, m.groups.size()))
            continue;
        const std::size_t copies = m.groups[std::size_t(p.group)].mirror() != 0 ? 2 : 1;
        n += copies * (corners * 55 + (corners - 2) * 53);
    }
    return n;
}

}  // namespace

std::optional<FormatError> writeKzp(const Model& model, WriteContext& ctx) {
    if (Error e = checkWritable(model))
        return e;
    ctx.bytes.clear();
    ctx.bytes.reserve(estimatedBytes(model));
    KzpWriter(model, ctx.bytes).write();
    for (std::size_t t = 0; t < model.textures.size(); ++t)
        if (model.textures[t].kind != 0)
            ctx.namedImages.push_back({int(t), model.textures[t].fileName});
    return std::nullopt;
}

}  // namespace rv

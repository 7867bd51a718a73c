#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "formats/common/byte_cursor.h"
#include "formats/kzp/kzp.h"
#include "model/mesh.h"

namespace rv {
namespace {

using Error = std::optional<FormatError>;

constexpr std::int32_t kRev2004 = 2004002;
constexpr std::int32_t kRev2005 = 2005000;
constexpr std::int32_t kRev2006 = 2006000;
constexpr std::int32_t kRev2008 = 2008000;
constexpr std::int32_t kRev2009 = 2009000;
constexpr std::size_t kHeaderBytes = 7;

// Tables are copied as stored.
static_assert(std::endian::native == std::endian::little);
static_assert(sizeof(ModelVertex) == 12 && sizeof(ModelColor) == 16 && sizeof(ModelUV) == 8);

// Smallest size of each record in the file, for checking counts against what remains.
constexpr std::size_t kBoneKeyBytes = 44;
constexpr std::size_t kGroupKeyBytes = 24;
constexpr std::size_t kMeshVertexBytes = 12 + 12 + 16 + 8 + 7;
constexpr std::size_t kTriangleMinBytes = 1 + 4;

std::string str(std::int64_t v) { return std::to_string(v); }

class KzpReader {
public:
    KzpReader(std::span<const std::byte> file, Model& model, std::int32_t revision)
        : cur_(file),
          m_(model),
          rev_(revision) {}

    Error read() {
        cur_.seek(kHeaderBytes);
        m_.revision = rev_;
        for (auto section : {&KzpReader::readTables, &KzpReader::readPolygons, &KzpReader::readTextures,
                             &KzpReader::readDisplacement, &KzpReader::readGroups, &KzpReader::readSettings,
                             &KzpReader::readMotions, &KzpReader::readBones, &KzpReader::readTails}) {
            if (Error e = (this->*section)())
                return e;
        }
        return checkPolygons();
    }

    // A group whose stored render mesh did not hold together, and why; the caller rebuilds it.
    struct DroppedMesh {
        std::int32_t group;
        std::string reason;
    };
    const std::vector<DroppedMesh>& droppedMeshes() const { return dropped_; }

private:
    Error fail(const std::string& reason) const { return cur_.error(reason); }
    Error endsInside(const std::string& what) const { return cur_.error("file ends inside " + what); }

    // A count that must be non-negative, within `limit`, and backed by at least `minBytes` per
    // record in what remains of the file.
    Error count(std::int64_t value, const std::string& what, std::int64_t limit, std::size_t minBytes) {
        if (cur_.failed())
            return endsInside("the " + what + " count");
        if (value < 0)
            return fail(what + " count " + str(value) + " is negative");
        if (value > limit)
            return fail(what + " count " + str(value) + " is over the limit of " + str(limit));
        if (!cur_.fits(std::uint64_t(value), minBytes))
            return fail(what + " count " + str(value) + " needs more bytes than the file holds");
        return {};
    }

    // A counted string: i32 length, then that many bytes. Memory keeps it up to a zero byte, as
    // the zero-terminated field it stands for.
    Error name(std::string& out, std::int32_t maxBytes, const std::string& what) {
        const std::int32_t n = cur_.i32();
        if (cur_.failed())
            return endsInside(what);
        if (n < 0)
            return fail(what + " length " + str(n) + " is negative");
        if (n > maxBytes)
            return fail(what + " is " + str(n) + " bytes long, over the limit of " + str(maxBytes));
        const auto bytes = cur_.take(std::size_t(n));
        if (cur_.failed())
            return endsInside(what);
        std::size_t length = 0;
        while (length < bytes.size() && bytes[length] != std::byte{0})
            ++length;
        out.assign(reinterpret_cast<const char*>(bytes.data()), length);
        return {};
    }

    ModelColor color() {
        ModelColor c;
        c.red = cur_.f32();
        c.green = cur_.f32();
        c.blue = cur_.f32();
        c.alpha = cur_.f32();
        return c;
    }
    static std::uint32_t u32At(const std::byte* p) {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    static std::uint16_t u16At(const std::byte* p) {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    // The 7-byte skin record of 2008000 and later.
    static ModelSkinWeight skinAt(const std::byte* p) {
        ModelSkinWeight s;
        s.bone = std::uint8_t(p[0]);
        s.bone2 = std::uint8_t(p[1]);
        s.weight = bitsFloat(u32At(p + 2));
        s.autoBind = std::uint8_t(p[6]);
        return s;
    }
    // Fills a sized table of float records from the file; the count was checked against what
    // remains.
    template <typename T>
    void copyRaw(HugePageVector<T>& table) {
        static_assert(std::is_trivially_copyable_v<T> && sizeof(T) % 4 == 0);
        const auto bytes = cur_.take(table.size() * sizeof(T));
        if (!bytes.empty())
            std::memcpy(table.data(), bytes.data(), bytes.size());
    }
    template <std::size_t N>
    void floats(std::array<float, N>& out) {
        for (float& f : out)
            f = cur_.f32();
    }

    // A table of plain float records, copied as stored (the file and the host are little-endian).
    template <typename T, typename A>
    Error floatTable(std::vector<T, A>& table, std::int32_t n, const char* what) {
        static_assert(std::is_trivially_copyable_v<T> && sizeof(T) % 4 == 0);
        if (Error e = count(n, what, kMaxTableEntries, sizeof(T)))
            return e;
        table.resize(std::size_t(n));
        const auto bytes = cur_.take(table.size() * sizeof(T));
        if (!table.empty())
            std::memcpy(table.data(), bytes.data(), bytes.size());
        return {};
    }

    Error readTables() {
        std::int32_t counts[4];
        for (std::int32_t& c : counts)
            c = rev_ >= kRev2006 ? cur_.i32() : cur_.i16();
        if (Error e = floatTable(m_.positions, counts[0], "position"))
            return e;
        if (Error e = floatTable(m_.normals, counts[1], "normal"))
            return e;
        if (Error e = floatTable(m_.colors, counts[2], "colour"))
            return e;
        if (Error e = floatTable(m_.uvs, counts[3], "uv"))
            return e;

        const bool narrowSkin = rev_ >= kRev2008;
        const std::size_t record = narrowSkin ? 7 : 12;
        if (Error e = count(counts[0], "skin", kMaxTableEntries, record))
            return e;
        m_.skin.resize(std::size_t(counts[0]));
        const std::byte* p = cur_.take(m_.skin.size() * record).data();
        for (ModelSkinWeight& s : m_.skin) {
            if (narrowSkin) {
                s = skinAt(p);
            } else {
                s.bone = std::uint8_t(p[0]);  // low bytes of two 16-bit words
                s.bone2 = std::uint8_t(p[2]);
                s.weight = bitsFloat(u32At(p + 4));
                s.autoBind = u32At(p + 8) != 0 ? 1 : 0;
            }
            p += record;
        }
        return {};
    }

    // Reads one polygon of the layout of this revision; its indices are checked once every table
    // is known.
    Error polygon(ModelPolygon& poly, bool old, std::int32_t index) {
        if (old)
            cur_.skip(4);
        poly.cornerCount = cur_.u8();
        if (poly.cornerCount > kMaxCorners)
            return fail("polygon " + str(index) + " has " + str(poly.cornerCount) + " corners, over the limit of 4");
        const std::size_t cornerBytes = old ? 8 : 16;
        const std::byte* p = cur_.take(poly.cornerCount * cornerBytes + 4).data();
        if (cur_.failed())
            return endsInside("polygon " + str(index));
        for (int c = 0; c < poly.cornerCount; ++c, p += cornerBytes) {
            ModelCorner& corner = poly.corners[std::size_t(c)];
            if (old) {
                corner.position = u16At(p);
                corner.normal = u16At(p + 2);
                corner.color = u16At(p + 4);
                corner.uv = u16At(p + 6);
            } else {
                corner.position = std::int32_t(u32At(p));
                corner.normal = std::int32_t(u32At(p + 4));
                corner.color = std::int32_t(u32At(p + 8));
                corner.uv = std::int32_t(u32At(p + 12));
            }
        }
        poly.group = std::int32_t(u32At(p));
        return {};
    }

    Error readPolygons() {
        const bool old = rev_ < kRev2006;
        const std::int32_t n = rev_ >= kRev2009 ? cur_.i32() : cur_.i16();
        if (Error e = count(n, "polygon", kMaxPolygons, old ? 4 + 1 + 4 : 1 + 4))
            return e;
        polygonsAt_ = cur_.offset();
        m_.polygons.assign(std::size_t(n), ModelPolygon{});
        for (std::int32_t p = 0; p < n; ++p) {
            ModelPolygon& poly = m_.polygons[std::size_t(p)];
            if (Error e = polygon(poly, old, p))
                return e;
        }
        m_.smoothNormals.assign(m_.positions.size(), ModelVertex{});
        return {};
    }

    Error readTextures() {
        const std::int16_t n = cur_.i16();
        if (Error e = count(n, "texture", INT16_MAX, 4))
            return e;
        m_.textures.resize(std::size_t(n));
        for (std::int16_t t = 0; t < n; ++t) {
            ModelTexture& texture = m_.textures[std::size_t(t)];
            texture.kind = cur_.i32();
            if (cur_.failed())
                return endsInside("texture entry " + str(t));
            if (texture.kind != 0)
                if (Error e = name(texture.fileName, kMaxNameBytes, "the name of texture " + str(t)))
                    return e;
        }
        return {};
    }

    Error readDisplacement() {
        if (rev_ < kRev2006)
            return {};
        m_.displacementOn = cur_.i16();
        m_.displacementScale = cur_.f32();
        if (cur_.failed())
            return endsInside("the displacement settings");
        return {};
    }

    Error readGroups() {
        const std::int32_t n = cur_.i32();
        std::size_t minBytes = 4 + 24 + 1 + 44;
        if (rev_ >= kRev2008)
            minBytes += 34;
        if (rev_ >= kRev2009)
            minBytes += 8;
        if (Error e = count(n, "group", INT32_MAX, minBytes))
            return e;
        // The first group keeps what a new model has; groups added here start all zero.
        m_.groups.resize(std::size_t(n), zeroGroup());
        for (std::int32_t g = 0; g < n; ++g)
            if (Error e = readGroup(m_.groups[std::size_t(g)], g))
                return e;
        return {};
    }

    Error readGroup(ModelGroup& group, std::int32_t g) {
        const std::string what = "group " + str(g);
        if (Error e = name(group.name, kMaxNameBytes, "the name of " + what))
            return e;
        group.textureIndex = cur_.i32();
        group.color = color();
        group.shadeParam = cur_.i32();
        group.edgeParam = cur_.u8();
        if (rev_ == kRev2006)
            group.edgeParam = 10;
        for (std::uint32_t& word : group.materialParams)
            word = cur_.u32();
        if (rev_ >= kRev2008) {
            group.textured = cur_.u8();
            group.textureMode = cur_.i16();
            group.lightFlag = cur_.u8();
            group.lightMode = cur_.i16();
            group.effectA = cur_.u8();
            group.effectAValue = cur_.f32();
            group.effectB = cur_.u8();
            group.effectBValue = cur_.f32();
            group.mapA = cur_.u8();
            group.mapATexture = cur_.i16();
            group.displacement = cur_.u8();
            group.displacementTexture = cur_.i16();
            group.displacementValue = cur_.f32();
            group.mapC = cur_.u8();
            group.mapCTexture = cur_.i16();
            group.effectD = cur_.u8();
            group.effectDValue = cur_.f32();
        }
        if (cur_.failed())
            return endsInside(what);
        if (!kzpOptionalIndexFits(group.textureIndex, m_.textures.size()))
            return fail(what + " uses texture " + str(group.textureIndex) + ", past the " + str(m_.textureCount()) +
                        " texture entries");
        if (rev_ >= kRev2009)
            return readGroupMesh(group, g, what);
        return {};
    }

    // The stored render mesh is derived data. Its counts must fit the file like any other, but
    // a mesh that does not hold together (a triangle without 3 corners, or naming a vertex past
    // the mesh's own table) is dropped for a rebuild from the polygons instead of failing the file.
    Error readGroupMesh(ModelGroup& group, std::int32_t g, const std::string& what) {
        const std::int32_t vertices = cur_.i32();
        if (Error e = count(vertices, what + " mesh vertex", INT32_MAX, kMeshVertexBytes))
            return e;
        const std::size_t nv = std::size_t(vertices);
        group.meshPositions.resize(nv);
        group.meshNormals.resize(nv);
        group.meshColors.resize(nv);
        group.meshUVs.resize(nv);
        group.meshSkin.resize(nv);
        copyRaw(group.meshPositions);
        copyRaw(group.meshNormals);
        copyRaw(group.meshColors);
        copyRaw(group.meshUVs);
        const std::byte* p = cur_.take(nv * 7).data();
        for (ModelSkinWeight& s : group.meshSkin) {
            s = skinAt(p);
            p += 7;
        }
        if (cur_.failed())
            return endsInside(what + " mesh");

        const std::int32_t triangles = cur_.i32();
        if (Error e = count(triangles, what + " mesh triangle", INT32_MAX, kTriangleMinBytes))
            return e;
        group.meshTriangles.assign(std::size_t(triangles), ModelPolygon{});
        std::string broken;
        for (std::int32_t t = 0; t < triangles; ++t) {
            ModelPolygon& tri = group.meshTriangles[std::size_t(t)];
            const std::uint8_t corners = cur_.u8();
            const std::byte* q = cur_.take(std::size_t(corners) * 16 + 4).data();
            if (cur_.failed())
                return endsInside(what + " mesh triangle " + str(t));
            if (!broken.empty())
                continue;
            if (corners != 3) {
                broken = "triangle " + str(t) + " has " + str(corners) + " corners";
                continue;
            }
            tri.cornerCount = corners;
            for (std::size_t c = 0; c < 3; ++c, q += 16) {
                ModelCorner& corner = tri.corners[c];
                corner.position = std::int32_t(u32At(q));
                corner.normal = std::int32_t(u32At(q + 4));
                corner.color = std::int32_t(u32At(q + 8));
                corner.uv = std::int32_t(u32At(q + 12));
                if (!kzpIndexFits(corner.position, nv) && broken.empty())
                    broken = "triangle " + str(t) + " uses vertex " + str(corner.position) + ", past the " +
                             str(vertices) + " mesh vertices";
            }
            tri.group = std::int32_t(u32At(q));
        }
        if (!broken.empty()) {
            group.meshPositions = {};
            group.meshNormals = {};
            group.meshColors = {};
            group.meshUVs = {};
            group.meshSkin = {};
            group.meshTriangles = {};
            dropped_.push_back({g, std::move(broken)});
        }
        return {};
    }

    Error readSettings() {
        m_.lighting = cur_.i32();
        m_.vertexColorMode = cur_.i32();
        for (std::uint32_t& word : m_.settingsWords)
            word = cur_.u32();
        if (rev_ >= kRev2006)
            m_.subdivisionLevel = cur_.u16();
        if (cur_.failed())
            return endsInside("the model settings");
        return {};
    }

    Error readMotions() {
        if (rev_ < kRev2005)
            return {};
        const bool groupKeys = rev_ >= kRev2006;
        const std::int32_t n = cur_.i32();
        const std::size_t minBytes = 4 + 4 + 4 + (groupKeys ? 4 * m_.groups.size() : 0);
        if (Error e = count(n, "motion", kMaxKzpMotions, minBytes))
            return e;
        m_.motions.resize(std::size_t(n));
        for (std::int32_t mi = 0; mi < n; ++mi) {
            ModelMotion& motion = m_.motions[std::size_t(mi)];
            const std::string what = "motion " + str(mi);
            cur_.skip(4);
            if (groupKeys)
                if (Error e = readGroupKeys(motion, what))
                    return e;
            if (Error e = name(motion.name, kMaxNameBytes, "the name of " + what))
                return e;
            motion.frameCount = cur_.i32();
            if (cur_.failed())
                return endsInside(what);
        }
        return {};
    }

    Error readGroupKeys(ModelMotion& motion, const std::string& what) {
        for (std::size_t g = 0; g < m_.groups.size(); ++g) {
            const std::int32_t n = cur_.i32();
            const std::string table = what + " group " + str(std::int64_t(g)) + " key";
            if (Error e = count(n, table, kMaxGroupKeys, kGroupKeyBytes))
                return e;
            if (n == 0)
                continue;
            if (g >= std::size_t(kMaxKeyedGroups) || g >= motion.groupKeys.size())
                return fail(what + " has keys for group " + str(std::int64_t(g)) + "; only the first " +
                            str(kMaxKeyedGroups) + " groups can carry keys");
            ModelGroupKeyTable& keys = motion.groupKeys[g];
            keys.keyCount = n;
            for (std::int32_t k = 0; k < n; ++k) {
                ModelGroupKey& key = keys.keys[std::size_t(k)];
                key.frame = cur_.i32();
                key.keyTexture = cur_.i16();
                key.keyValue = cur_.i16();
                floats(key.values);
            }
        }
        if (cur_.failed())
            return endsInside(what + " group keys");
        return {};
    }

    Error readBones() {
        const std::int32_t n = cur_.i32();
        const bool keyCountsOnly = rev_ < kRev2005;
        const std::size_t minBytes = keyCountsOnly ? 4 : 4 + 4 + 40 + 4 * m_.motions.size();
        if (Error e = count(n, "bone", kMaxBones, minBytes))
            return e;
        m_.boneCount = n;
        std::int64_t defaultKeys = 0;
        for (std::int32_t b = 0; b < n; ++b) {
            ModelBone& bone = m_.bones[std::size_t(b)];
            const std::string what = "bone " + str(b);
            if (keyCountsOnly) {
                // One track of that many default keys; nothing else of the bone is stored.
                const std::int32_t keys = cur_.i32();
                if (Error e = count(keys, what + " key", kMaxKzpDefaultKeys, 0))
                    return e;
                defaultKeys += keys;
                if (defaultKeys > kMaxKzpDefaultKeys)
                    return fail("bones ask for " + str(defaultKeys) + " keys, over the limit of " +
                                str(kMaxKzpDefaultKeys));
                bone.tracks.resize(1);
                bone.tracks[0].keys.resize(std::size_t(keys));
                continue;
            }
            if (Error e = name(bone.name, kMaxBoneNameBytes, "the name of " + what))
                return e;
            bone.parent = cur_.i32();
            floats(bone.position);
            floats(bone.rotation);
            floats(bone.scale);
            if (cur_.failed())
                return endsInside(what);
            if (bone.parent < 0 || bone.parent >= kMaxBones)
                return fail(what + " has parent " + str(bone.parent) + ", outside 0 to 127");
            bone.tracks.resize(m_.motions.size());
            for (std::size_t mi = 0; mi < m_.motions.size(); ++mi) {
                const std::int32_t keys = cur_.i32();
                if (Error e = count(keys, what + " motion " + str(std::int64_t(mi)) + " key", INT32_MAX, kBoneKeyBytes))
                    return e;
                ModelBoneTrack& track = bone.tracks[mi];
                track.keys.resize(std::size_t(keys));
                for (ModelBoneKey& key : track.keys) {
                    key.frame = cur_.i32();
                    floats(key.position);
                    floats(key.rotation);
                    floats(key.scale);
                }
            }
            if (cur_.failed())
                return endsInside(what + " key tracks");
        }
        return {};
    }

    Error readTails() {
        if (rev_ < kRev2008)
            return {};
        for (ModelGroup& group : m_.groups) {
            group.groupOption = cur_.u8();
            group.groupOptionValue = cur_.i16();
        }
        if (cur_.failed())
            return endsInside("the group options");
        for (ModelMotion& motion : m_.motions) {
            motion.loop = cur_.u8();
            motion.nextMotion = cur_.i16();
        }
        if (cur_.failed())
            return endsInside("the motion playback settings");
        if (rev_ < kRev2009)
            return {};
        for (ModelGroup& group : m_.groups) {
            group.keyed = cur_.u8();
            if (group.keyed == 1) {
                group.keyedA = cur_.i32();
                group.keyedB = cur_.i32();
            }
        }
        if (cur_.failed())
            return endsInside("the keyed-group settings");
        return {};
    }

    // Groups are read after the polygons, so polygons are checked once every table is known. A
    // refusal names where the polygon starts.
    Error checkPolygons() const {
        const std::size_t fixedBytes = rev_ < kRev2006 ? 4 + 1 + 4 : 1 + 4;
        const std::size_t cornerBytes = rev_ < kRev2006 ? 8 : 16;
        std::size_t at = polygonsAt_;
        for (std::size_t p = 0; p < m_.polygons.size(); ++p) {
            if (std::optional<std::string> misfit = kzpPolygonMisfit(m_, p))
                return FormatError::atByte(at, std::move(*misfit));
            at += fixedBytes + cornerBytes * m_.polygons[p].cornerCount;
        }
        return {};
    }

    ByteCursor cur_;
    Model& m_;
    const std::int32_t rev_;
    std::size_t polygonsAt_ = 0;
    std::vector<DroppedMesh> dropped_;
};

}  // namespace

std::optional<FormatError> readKzp(std::span<const std::byte> file, Model& model, ReadContext& ctx) {
    ByteCursor header(file);
    header.skip(3);  // "KZP", not checked
    const std::int32_t revision = header.i32();
    if (header.failed())
        return FormatError::refusal("file is " + str(std::int64_t(file.size())) +
                                    " bytes long, too short for a KZP header");
    using Kind = FormatError::Kind;
    if (revision < kRev2004)
        return FormatError::revisionRefused(Kind::RevisionTooOld, revision);
    if (revision > kRev2009)
        return FormatError::revisionRefused(Kind::RevisionTooNew, revision);
    const bool known = revision == kRev2004 || revision == kRev2005 || revision == kRev2006 || revision == kRev2008 ||
                       revision == kRev2009;
    if (!known)
        return FormatError::revisionRefused(Kind::RevisionUnknown, revision);

    // Fill a copy so that a refused file leaves the caller's model as it was.
    Model loaded = model;
    KzpReader reader(file, loaded, revision);
    if (Error e = reader.read())
        return e;
    if ((revision == kRev2006 || revision == kRev2008) && loaded.displacementOn > 0) {
        loaded.renderMode = 8;
        loaded.renderModeDirty = 1;
    }
    model = std::move(loaded);

    model.fileName = ctx.path;
    model.fillMode = 2;
    computeNormals(model);
    // Built after the normals, as a save would build them.
    if (!reader.droppedMeshes().empty()) {
        std::vector<std::int32_t> groups;
        for (const auto& dropped : reader.droppedMeshes()) {
            groups.push_back(dropped.group);
            ctx.warn((ctx.path.empty() ? std::string() : ctx.path + ": ") + "group " + str(dropped.group) +
                     " render mesh: " + dropped.reason + "; rebuilt from the polygons");
        }
        buildGroupMeshes(model, groups);
    }
    for (std::size_t i = 0; i < model.textures.size(); ++i) {
        ModelTexture& texture = model.textures[i];
        if (texture.kind != 1)
            continue;
        texture.relativePath = texture.folder + "\\" + texture.fileName;
    }
    if (revision < kRev2008)
        for (ModelGroup& group : model.groups)
            group.textured = 1;
    model.fromNativeFile = 1;
    return std::nullopt;
}

}  // namespace rv

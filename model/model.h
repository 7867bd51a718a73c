// The in-memory model that every reader fills, every writer reads and the preview draws: the
// file's content and what the mesh services derive from it. Slot bookkeeping belongs to the
// registry, playback and drawing state to the model's instance. Fields are in the order the KZP
// format stores them; member initialisers are the defaults of a new model. Text fields hold
// Shift-JIS bytes.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/huge_page_allocator.h"

namespace rv {

// Limits shared by every reader and writer.
inline constexpr int kMaxPolygons = 65000;  // polygons of a model created for loading
inline constexpr int kMaxTableEntries = 260000;  // entries of each mesh table (4 x 65000)
inline constexpr int kMaxCorners = 4;
inline constexpr int kMaxBones = 128;
inline constexpr int kMaxKeyedGroups = 256;  // groups that can carry motion group keys
inline constexpr int kMaxGroupKeys = 16;
inline constexpr int kMaxTextureNumber = 255;
inline constexpr int kMaxAttachments = 100;
inline constexpr int kMaxNameBytes = 255;  // group, motion and texture names, paths
inline constexpr int kMaxBoneNameBytes = 259;
inline constexpr std::int32_t kCurrentRevision = 2009000;

inline constexpr std::uint32_t floatBits(float f) { return std::bit_cast<std::uint32_t>(f); }
inline constexpr float bitsFloat(std::uint32_t u) { return std::bit_cast<float>(u); }

struct ModelVertex {
    float x = 0, y = 0, z = 0;
    friend bool operator==(const ModelVertex&, const ModelVertex&) = default;
};

struct ModelColor {
    float red = 0, green = 0, blue = 0, alpha = 0;
    friend bool operator==(const ModelColor&, const ModelColor&) = default;
};

struct ModelUV {
    float u = 0, v = 0;
    friend bool operator==(const ModelUV&, const ModelUV&) = default;
};

// A table entry that a reader appends for a position it has not bound to a bone: the load
// pipeline binds it to the nearest bone.
struct ModelSkinWeight {
    std::uint8_t bone = 0;
    std::uint8_t bone2 = 0;
    float weight = 0.0f;
    std::uint8_t autoBind = 1;
    friend bool operator==(const ModelSkinWeight&, const ModelSkinWeight&) = default;
};

struct ModelCorner {
    std::int32_t position = 0;
    std::int32_t normal = 0;
    std::int32_t color = 0;
    std::int32_t uv = 0;
    friend bool operator==(const ModelCorner&, const ModelCorner&) = default;
};

struct ModelPolygon {
    std::uint8_t cornerCount = 0;  // 2 to 4; 2 is a line
    std::array<ModelCorner, 4> corners{};
    std::int32_t group = 0;
    ModelVertex faceNormal{};  // derived, never stored
};

struct ModelTexture {
    std::int32_t kind = 0;  // 1 an image file, 0 unused
    std::string folder;
    std::string fileName;
    std::string relativePath;
    std::int32_t width = 0, height = 0;
};

// Word indices of ModelGroup::materialParams that the program interprets.
inline constexpr int kMirrorWord = 6;
inline constexpr int kSpecularWord = 7;

struct ModelGroup {
    std::string name = "\x83\x4f\x83\x8b\x81\x5b\x83\x76";  // "グループ" in Shift-JIS
    std::int32_t textureIndex = 0;
    ModelColor color{200, 200, 200, 255};
    std::int32_t shadeParam = 4;
    std::uint8_t edgeParam = 0;
    std::array<std::uint32_t, 11> materialParams{0, 0, floatBits(1.0f), floatBits(1.0f), 0, 4, 0, 0, 64, 64, 64};
    std::uint8_t textured = 0;
    std::int16_t textureMode = 0;
    std::uint8_t lightFlag = 1;
    std::int16_t lightMode = 0;
    std::uint8_t effectA = 0;
    float effectAValue = 1.0f;
    std::uint8_t effectB = 0;
    float effectBValue = 1.0f;
    std::uint8_t mapA = 0;
    std::int16_t mapATexture = 0;
    std::uint8_t displacement = 0;
    std::int16_t displacementTexture = 0;
    float displacementValue = 1.0f;
    std::uint8_t mapC = 0;
    std::int16_t mapCTexture = 0;
    std::uint8_t effectD = 0;
    float effectDValue = 1.0f;
    std::uint8_t groupOption = 0;
    std::int16_t groupOptionValue = 1;

    // Render mesh, derived: what a KZP file stores (its writer builds its own from the polygons).
    // meshVertexCount is meshPositions.size().
    HugePageVector<ModelVertex> meshPositions;
    HugePageVector<ModelVertex> meshNormals;
    HugePageVector<ModelColor> meshColors;
    HugePageVector<ModelUV> meshUVs;
    HugePageVector<ModelSkinWeight> meshSkin;
    HugePageVector<ModelPolygon> meshTriangles;  // corner.position holds the mesh vertex index

    ModelVertex center{}, boundsMin{}, boundsMax{};

    std::uint8_t keyed = 0;  // texture scrolling
    std::int32_t keyedA = 0, keyedB = 0;

    std::int32_t meshVertexCount() const { return static_cast<std::int32_t>(meshPositions.size()); }
    std::int32_t meshTriangleCount() const { return static_cast<std::int32_t>(meshTriangles.size()); }
    std::int32_t mirror() const { return static_cast<std::int32_t>(materialParams[kMirrorWord]); }
    std::int32_t specular() const { return static_cast<std::int32_t>(materialParams[kSpecularWord]); }
};

struct ModelBoneKey {
    std::int32_t frame = 0;
    std::array<float, 3> position{0, 0, 0};
    std::array<float, 4> rotation{0, 0, 0, 1};
    std::array<float, 3> scale{1, 1, 1};
    friend bool operator==(const ModelBoneKey&, const ModelBoneKey&) = default;
};

struct ModelBoneTrack {
    std::vector<ModelBoneKey> keys;
    std::int32_t trackFlag = 1;
};

struct ModelBone {
    std::string name;
    std::array<float, 3> position{0, 0, 0};
    std::array<float, 4> rotation{0, 0, 0, 1};
    std::array<float, 3> scale{1, 1, 1};
    std::int32_t parent = 0;
    std::vector<ModelBoneTrack> tracks;  // one per motion
};

struct ModelGroupKey {
    std::int32_t frame = 0;
    std::int16_t keyTexture = 0;
    std::int16_t keyValue = 0;
    std::array<float, 4> values{};
    friend bool operator==(const ModelGroupKey&, const ModelGroupKey&) = default;
};

struct ModelGroupKeyTable {
    std::array<ModelGroupKey, kMaxGroupKeys> keys{};
    std::int32_t keyCount = 0;
};

struct ModelMotion {
    std::string name = "\x83\x82\x81\x5b\x83\x56\x83\x87\x83\x93\x96\xbc";  // "モーション名"
    std::int32_t frameCount = 60;
    std::uint8_t loop = 1;
    std::int16_t nextMotion = -1;
    std::vector<ModelGroupKeyTable> groupKeys = std::vector<ModelGroupKeyTable>(kMaxKeyedGroups);
};

// An image file stored inside the model file (glTF), kept as its bytes under the texture name the
// model gives it ("STEM_N.png"), so that textures decode from it and writers can put it beside
// their output.
struct EmbeddedImage {
    std::string name;
    std::vector<std::byte> bytes;
};

struct Model {
    std::int32_t revision = kCurrentRevision;
    std::string folder;
    std::string fileName = "\x90\x56\x8b\x4b.KZP";  // "新規.KZP"
    std::string path;

    HugePageVector<ModelVertex> positions;
    HugePageVector<ModelVertex> normals;
    HugePageVector<ModelColor> colors;
    HugePageVector<ModelUV> uvs;
    HugePageVector<ModelSkinWeight> skin;  // one per position

    HugePageVector<ModelPolygon> polygons;
    std::vector<ModelGroup> groups = std::vector<ModelGroup>(1);
    std::vector<ModelTexture> textures = std::vector<ModelTexture>(1);
    std::vector<EmbeddedImage> embeddedImages;

    std::int16_t displacementOn = 0;
    float displacementScale = 1.0f;

    std::array<ModelBone, kMaxBones> bones = defaultBones();
    std::int32_t boneCount = 2;
    std::uint16_t subdivisionLevel = 4;
    ModelColor tint{255, 255, 255, 255};
    std::int32_t attachmentCount = 1;
    std::array<std::string, kMaxAttachments> attachments{};

    std::int32_t lighting = 1;
    std::int32_t vertexColorMode = 0;
    std::array<std::uint32_t, 2> settingsWords{0, floatBits(1.0f)};

    std::vector<ModelMotion> motions = std::vector<ModelMotion>(1);

    std::int32_t fromNativeFile = 1;
    std::uint32_t renderMode = 3;
    std::int32_t renderModeDirty = 1;  // set whenever renderMode was set; the preview clears it
    std::uint32_t fillMode = 2;  // 0 points, 1 wireframe, 2 or 3 solid

    // Derived after loading.
    std::array<ModelVertex, kMaxBones> boneCenters{};
    std::array<std::int32_t, kMaxBones> boneChildCounts{};
    HugePageVector<ModelVertex> smoothNormals;  // one per position
    ModelVertex boundsMin{}, boundsMax{};

    std::int32_t positionCount() const { return static_cast<std::int32_t>(positions.size()); }
    std::int32_t normalCount() const { return static_cast<std::int32_t>(normals.size()); }
    std::int32_t colorCount() const { return static_cast<std::int32_t>(colors.size()); }
    std::int32_t uvCount() const { return static_cast<std::int32_t>(uvs.size()); }
    std::int32_t polygonCount() const { return static_cast<std::int32_t>(polygons.size()); }
    std::int32_t groupCount() const { return static_cast<std::int32_t>(groups.size()); }
    std::int32_t textureCount() const { return static_cast<std::int32_t>(textures.size()); }
    std::int32_t motionCount() const { return static_cast<std::int32_t>(motions.size()); }

    static std::array<ModelBone, kMaxBones> defaultBones();
};

// A bone as a new model has it: named "親ボーン" (bone 0) or "ボーン_%02d", one track with the
// default key.
ModelBone defaultBone(int index);

// A group with every field zero (what the KZP reader's list resize adds).
ModelGroup zeroGroup();

}  // namespace rv

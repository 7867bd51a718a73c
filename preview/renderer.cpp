#include "preview/renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "model/mesh.h"
#include "model/vertex_hash.h"
#include "preview/camera.h"
#include "preview/effects.h"
#include "preview/shader_path.h"
#include "runtime/paths.h"

namespace rv {
namespace {

// Render mode 0's vertex: 40 bytes with a specular colour.
struct FanVertex {
    float x, y, z;
    float nx, ny, nz;
    std::uint32_t diffuse;
    std::uint32_t specular;
    float u, v;
};
static_assert(sizeof(FanVertex) == 40);

// Maps Direct3D's depth range 0..1 onto OpenGL's -1..1: z' = 2z - w.
constexpr Mat4 kDepthRemap{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 2, 0, 0, 0, -1, 1};

// Draw styles of a group.
constexpr int kHidden = 0, kPoints = 1, kWireframe = 2, kFlat = 3;

// Inverse transpose of the upper 3x3 of a row-vector matrix, as a 3x3 row-major array. Normals
// go through it; a singular matrix gives zeros (and so unlit normals).
std::array<float, 9> normalMatrixOf(const Mat4& m) {
    const float a = m[0], b = m[1], c = m[2], d = m[4], e = m[5], f = m[6], g = m[8], h = m[9], i = m[10];
    const float A = e * i - f * h, B = -(d * i - f * g), C = d * h - e * g;
    const float det = a * A + b * B + c * C;
    if (det == 0 || !std::isfinite(det))
        return {};
    const float s = 1.0f / det;
    // Inverse is adj^T / det; its transpose is the cofactor matrix / det.
    return {A * s, B * s, C * s,
            -(b * i - c * h) * s, (a * i - c * g) * s, -(a * h - b * g) * s,
            (b * f - c * e) * s, -(a * f - c * d) * s, (a * e - b * d) * s};
}

Vec3 faceNormalOf(const Vec3& a, const Vec3& b, const Vec3& c) {
    return normalize(cross(b - a, c - a));
}

std::uint32_t argb(int a, int r, int g, int b) {
    return std::uint32_t(a & 0xff) << 24 | std::uint32_t(r & 0xff) << 16 | std::uint32_t(g & 0xff) << 8 |
           std::uint32_t(b & 0xff);
}

std::uint32_t nextPowerOfTwo(std::uint32_t v) {
    std::uint32_t p = 1;
    while (p < v && p < (1u << 15))
        p <<= 1;
    return p;
}

// The texel image a texture slot holds: scaled by nearest sampling to power-of-two sides, or,
// for PSD files, placed in the top-left corner of one.
Image textureImageOf(const Image& source, bool corner) {
    Image out;
    out.width = int(nextPowerOfTwo(std::uint32_t(source.width)));
    out.height = int(nextPowerOfTwo(std::uint32_t(source.height)));
    out.rgba.assign(std::size_t(out.width) * std::size_t(out.height) * 4, 0);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            int sx = x, sy = y;
            if (corner) {
                if (x >= source.width || y >= source.height)
                    continue;
            } else {
                sx = int(std::int64_t(x) * source.width / out.width);
                sy = int(std::int64_t(y) * source.height / out.height);
            }
            std::memcpy(&out.rgba[(std::size_t(y) * std::size_t(out.width) + std::size_t(x)) * 4],
                        &source.rgba[(std::size_t(sy) * std::size_t(source.width) + std::size_t(sx)) * 4], 4);
        }
    return out;
}

GLuint uploadTexture(const Image& image) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    // Rows go up top row first, so (u, v) = (0, 0) is the image's top-left texel as before.
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, image.width, image.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 image.rgba.data());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);  // the default others expect
    glGenerateMipmap(GL_TEXTURE_2D);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    return texture;
}

bool validImage(const Image& image) {
    return image.width > 0 && image.height > 0 &&
           image.rgba.size() >= std::size_t(image.width) * std::size_t(image.height) * 4;
}

void setAttributes(bool fan) {
    const GLsizei stride = fan ? GLsizei(sizeof(FanVertex)) : GLsizei(sizeof(PreparedVertex));
    glEnableVertexAttribArray(kAttrPosition);
    glVertexAttribPointer(kAttrPosition, 3, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(0));
    glEnableVertexAttribArray(kAttrNormal);
    glVertexAttribPointer(kAttrNormal, 3, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(12));
    glEnableVertexAttribArray(kAttrDiffuse);
    glVertexAttribPointer(kAttrDiffuse, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride, reinterpret_cast<void*>(24));
    if (fan) {
        glEnableVertexAttribArray(kAttrSpecular);
        glVertexAttribPointer(kAttrSpecular, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride, reinterpret_cast<void*>(28));
    } else {
        glDisableVertexAttribArray(kAttrSpecular);
        glVertexAttrib4f(kAttrSpecular, 0, 0, 0, 0);
    }
    glEnableVertexAttribArray(kAttrUV);
    glVertexAttribPointer(kAttrUV, 2, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(fan ? 32 : 28));
}

// Render mode 5's per-vertex bones: two bone numbers (within the bone count) and the weight.
struct SkinVertex {
    std::uint8_t bones[4];
    float weight;
};
static_assert(sizeof(SkinVertex) == 8);

// A texture number a group names for an effect (mapA, displacement, mapC): 0 unless it lies
// within the slot's texture table.
int effectTextureNumber(const Model& m, int number) {
    return number >= 1 && number <= kMaxTextureNumber && std::size_t(number) < m.textures.size() ? number : 0;
}

Vec3 lightDirectionOf(const SceneView& view) {
    const Vec3 d = normalize(view.lightTarget - view.lightPosition);
    return d.x == 0 && d.y == 0 && d.z == 0 ? Vec3{0, 0, 1} : d;
}

// Where a prepared group lies in the shared buffers.
struct GroupRange {
    GLint baseVertex = 0;
    std::size_t indexOffset = 0;  // bytes
    GLsizei indexCount = 0;
    bool wide = false;
};

}  // namespace

int drawPathOf(const Model& model) {
    std::uint32_t mode = model.renderMode;
    if (mode == 0)
        return 0;
    if (mode == 8)
        return 8;
    // 1, 2, 4 and 9 draw what mode 3 prepares; 5 to 7 belong to the effect path, which falls
    // back to mode 3; so do modes nothing knows.
    return 3;
}

struct PreviewRenderer::Impl {
    // GL objects.
    GLuint vao = 0, vertexBuffer = 0, indexBuffer = 0;
    GLuint fanVao = 0, fanBuffer = 0;
    GLuint gridVao = 0, gridBuffer = 0;
    GLuint nullTexture = 0;
    GLuint skinBuffer = 0;
    GLsizei gridVertexCount = 0;
    std::map<int, GLuint> textures;  // by texture entry

    // CPU side of the current model.
    const Model* model = nullptr;
    int path = -1;
    PreparedModel prepared;
    std::unique_ptr<Model> subdivided;  // mode 8's copy
    PoseState pose;
    bool moved = false;                  // skinning moved the vertices this frame
    std::vector<ModelVertex> deformed;   // mode 0: skinned shared positions
    std::vector<std::vector<std::int32_t>> polygonsByGroup;  // mode 0
    std::vector<GroupRange> ranges;
    bool buffersStale = true;            // prepared data not yet in the GL buffers
    bool positionsStale = false;         // skinned positions not yet in the GL buffers
    std::vector<FanVertex> fan;
    Image nullImage{1, 1, {255, 255, 255, 255}};

    // The effect path, and render modes 5 to 7.
    EffectLibrary effects;
    ShaderPath shader;
    bool gpuSkin = false;            // mode 5's bones go to the bone effect
    std::vector<Mat4> skinMatrices;  // per bone: rest offset, then the global transform

    void releaseGl() {
        for (auto& [index, texture] : textures)
            glDeleteTextures(1, &texture);
        textures.clear();
        if (nullTexture)
            glDeleteTextures(1, &nullTexture);
        GLuint buffers[] = {vertexBuffer, indexBuffer, fanBuffer, gridBuffer, skinBuffer};
        glDeleteBuffers(5, buffers);
        skinBuffer = 0;
        effects.releaseGl();
        shader.releaseTargets();
        GLuint arrays[] = {vao, fanVao, gridVao};
        glDeleteVertexArrays(3, arrays);
        vao = vertexBuffer = indexBuffer = fanVao = fanBuffer = gridVao = gridBuffer = nullTexture = 0;
        buffersStale = true;
    }

    void createGl() {
        glGenVertexArrays(1, &vao);
        glGenBuffers(1, &vertexBuffer);
        glGenBuffers(1, &indexBuffer);
        glBindVertexArray(vao);
        glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer);
        setAttributes(false);
        glGenBuffers(1, &skinBuffer);
        glBindBuffer(GL_ARRAY_BUFFER, skinBuffer);
        glEnableVertexAttribArray(kAttrBoneIndices);
        glVertexAttribIPointer(kAttrBoneIndices, 4, GL_UNSIGNED_BYTE, sizeof(SkinVertex), reinterpret_cast<void*>(0));
        glEnableVertexAttribArray(kAttrBoneWeight);
        glVertexAttribPointer(kAttrBoneWeight, 1, GL_FLOAT, GL_FALSE, sizeof(SkinVertex), reinterpret_cast<void*>(4));
        glVertexAttribI4ui(kAttrBoneIndices, 0, 0, 0, 0);
        glVertexAttrib1f(kAttrBoneWeight, 1);

        glGenVertexArrays(1, &fanVao);
        glGenBuffers(1, &fanBuffer);
        glBindVertexArray(fanVao);
        glBindBuffer(GL_ARRAY_BUFFER, fanBuffer);
        setAttributes(true);

        glGenVertexArrays(1, &gridVao);
        glGenBuffers(1, &gridBuffer);
        glBindVertexArray(gridVao);
        glBindBuffer(GL_ARRAY_BUFFER, gridBuffer);
        setAttributes(true);
        const std::vector<FanVertex> grid = gridVertices();
        gridVertexCount = GLsizei(grid.size());
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(grid.size() * sizeof(FanVertex)), grid.data(), GL_STATIC_DRAW);
        glBindVertexArray(0);

        nullTexture = uploadTexture(textureImageOf(nullImage, false));
        buffersStale = true;
    }

    static std::vector<FanVertex> gridVertices() {
        std::vector<FanVertex> out;
        for (const GridVertex& v : referenceGridLines())
            out.push_back({v.position.x, v.position.y, v.position.z, 0, 0, 0, argb(v.a, v.r, v.g, v.b), 0, 0, 0});
        return out;
    }

    void forget() {
        model = nullptr;
        path = -1;
        prepared = {};
        subdivided.reset();
        pose = {};
        deformed.clear();
        polygonsByGroup.clear();
        ranges.clear();
        for (auto& [index, texture] : textures)
            glDeleteTextures(1, &texture);
        textures.clear();
        buffersStale = true;
    }

    void prepare(Model& m) {
        m.renderModeDirty = 0;
        path = drawPathOf(m);
        prepared = {};
        subdivided.reset();
        polygonsByGroup.assign(m.groups.size(), {});
        if (path == 8) {
            subdivided = std::make_unique<Model>(m);
            for (int pass = subdivisionPasses(m); pass > 0; --pass)
                subdivideQuads(*subdivided);
            prepared = prepareMode3(*subdivided);
        } else if (path == 3) {
            prepared = prepareMode3(m);
        } else {
            for (std::size_t i = 0; i < m.polygons.size(); ++i) {
                const ModelPolygon& p = m.polygons[i];
                if (p.cornerCount > 2 && p.group >= 0 && std::size_t(p.group) < m.groups.size())
                    polygonsByGroup[std::size_t(p.group)].push_back(std::int32_t(i));
            }
        }
        if (path != 0)
            addMirroredCopies(m);
        buffersStale = true;
    }

    // A mirrored group also shows its x-negated half, wound the other way so that it faces out.
    void addMirroredCopies(const Model& m) {
        for (std::size_t g = 0; g < prepared.groups.size() && g < m.groups.size(); ++g) {
            if (m.groups[g].mirror() == 0)
                continue;
            PreparedGroup& group = prepared.groups[g];
            const std::size_t n = group.vertices.size();
            const std::size_t triangles = group.indices.size() / 3;
            for (std::size_t v = 0; v < n; ++v) {
                PreparedVertex copy = group.vertices[v];
                copy.x = -copy.x;
                copy.nx = -copy.nx;
                group.vertices.push_back(copy);
                ModelVertex source = group.sourcePositions[v];
                source.x = -source.x;
                group.sourcePositions.push_back(source);
                group.sourceUVs.push_back(group.sourceUVs[v]);
                group.skin.push_back(group.skin[v]);
            }
            for (std::size_t t = 0; t < triangles; ++t) {
                const std::uint32_t a = group.indices[t * 3], b = group.indices[t * 3 + 1], c = group.indices[t * 3 + 2];
                group.indices.push_back(a + std::uint32_t(n));
                group.indices.push_back(c + std::uint32_t(n));
                group.indices.push_back(b + std::uint32_t(n));
            }
            group.triangleCount = std::int32_t(group.indices.size() / 3);
            group.wideIndices = group.vertices.size() > 65535;
        }
    }

    void uploadPrepared() {
        ranges.assign(prepared.groups.size(), {});
        std::size_t vertices = 0, indexBytes = 0;
        for (std::size_t g = 0; g < prepared.groups.size(); ++g) {
            const PreparedGroup& group = prepared.groups[g];
            GroupRange& r = ranges[g];
            r.baseVertex = GLint(vertices);
            r.indexOffset = indexBytes;
            r.indexCount = GLsizei(group.indices.size());
            r.wide = group.wideIndices;
            vertices += group.vertices.size();
            indexBytes += group.indices.size() * (r.wide ? 4 : 2);
            indexBytes = (indexBytes + 3) & ~std::size_t(3);
        }
        glBindVertexArray(vao);
        glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(vertices * sizeof(PreparedVertex)), nullptr, GL_DYNAMIC_DRAW);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(indexBytes), nullptr, GL_STATIC_DRAW);
        // Bone numbers come from the file: past the bone count they read as bone 0.
        std::vector<SkinVertex> skins;
        skins.reserve(vertices);
        const int bones = model ? usableBones(*model) : 0;
        for (const PreparedGroup& group : prepared.groups)
            for (std::size_t v = 0; v < group.vertices.size(); ++v) {
                const ModelSkinWeight w = v < group.skin.size() ? group.skin[v] : ModelSkinWeight{0, 0, 1.0f, 0};
                const int first = w.bone < bones ? w.bone : 0, second = w.bone2 < bones ? w.bone2 : 0;
                skins.push_back({{std::uint8_t(first), std::uint8_t(second), 0, 0}, w.weight});
            }
        glBindBuffer(GL_ARRAY_BUFFER, skinBuffer);
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(skins.size() * sizeof(SkinVertex)), skins.data(), GL_STATIC_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
        std::vector<std::uint16_t> narrow;
        for (std::size_t g = 0; g < prepared.groups.size(); ++g) {
            const PreparedGroup& group = prepared.groups[g];
            const GroupRange& r = ranges[g];
            glBufferSubData(GL_ARRAY_BUFFER, GLintptr(std::size_t(r.baseVertex) * sizeof(PreparedVertex)),
                            GLsizeiptr(group.vertices.size() * sizeof(PreparedVertex)), group.vertices.data());
            if (r.wide) {
                glBufferSubData(GL_ELEMENT_ARRAY_BUFFER, GLintptr(r.indexOffset),
                                GLsizeiptr(group.indices.size() * 4), group.indices.data());
            } else {
                narrow.assign(group.indices.begin(), group.indices.end());
                glBufferSubData(GL_ELEMENT_ARRAY_BUFFER, GLintptr(r.indexOffset),
                                GLsizeiptr(narrow.size() * 2), narrow.data());
            }
        }
        glBindVertexArray(0);
        buffersStale = false;
        positionsStale = false;
    }

    void uploadPositions() {
        glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
        for (std::size_t g = 0; g < prepared.groups.size(); ++g) {
            const PreparedGroup& group = prepared.groups[g];
            glBufferSubData(GL_ARRAY_BUFFER, GLintptr(std::size_t(ranges[g].baseVertex) * sizeof(PreparedVertex)),
                            GLsizeiptr(group.vertices.size() * sizeof(PreparedVertex)), group.vertices.data());
        }
        positionsStale = false;
    }

    // Render mode 0: the group's polygons fanned on the CPU into 40-byte vertices and drawn at
    // once; returns the triangles drawn.
    int drawFans(const Model& m, std::size_t g, int selectedBone) {
        const ModelGroup& group = m.groups[g];
        const bool flatStyle = group.shadeParam == kFlat;
        const bool animated = moved && deformed.size() == m.positions.size();
        const bool weightDisplay = m.fillMode == 3;
        const int bones = usableBones(m);
        const float tr = m.tint.red / 255.0f, tg = m.tint.green / 255.0f;
        const float tb = m.tint.blue / 255.0f, ta = m.tint.alpha / 255.0f;
        const std::uint32_t specular = argb(255, int(group.materialParams[8]), int(group.materialParams[9]),
                                            int(group.materialParams[10]));
        const std::vector<ModelVertex>& positions = animated ? deformed : m.positions;
        fan.clear();
        if (g >= polygonsByGroup.size())
            return 0;
        for (const std::int32_t index : polygonsByGroup[g]) {
            const ModelPolygon& polygon = m.polygons[std::size_t(index)];
            const int n = cornersOf(polygon);
            FanVertex corner[4];
            Vec3 at[4];
            for (int c = 0; c < n; ++c) {
                const ModelVertex p = entryOr0(positions, polygon.corners[std::size_t(c)].position);
                at[c] = {p.x, p.y, p.z};
            }
            Vec3 face{polygon.faceNormal.x, polygon.faceNormal.y, polygon.faceNormal.z};
            if (animated)
                face = faceNormalOf(at[0], at[1], at[2]);
            for (int c = 0; c < n; ++c) {
                const ModelCorner& k = polygon.corners[std::size_t(c)];
                Vec3 normal = face;
                if (!flatStyle) {
                    if (animated) {
                        const ModelVertex sn = entryOr0(m.smoothNormals, k.position);
                        const ModelSkinWeight w = entryOr0(m.skin, k.position);
                        const std::size_t b = w.bone < pose.rotationOnly.size() ? w.bone : 0;
                        normal = pose.rotationOnly.empty() ? Vec3{sn.x, sn.y, sn.z}
                                                           : transformNormal({sn.x, sn.y, sn.z}, pose.rotationOnly[b]);
                    } else if (!m.normals.empty()) {
                        const ModelVertex mn = entryOr0(m.normals, k.normal);
                        normal = {mn.x, mn.y, mn.z};
                    }
                }
                std::uint32_t diffuse;
                if (weightDisplay) {
                    const ModelSkinWeight w = entryOr0(m.skin, k.position);
                    const int first = w.bone < bones ? w.bone : 0, second = w.bone2 < bones ? w.bone2 : 0;
                    if (m.boneCount < 2)
                        diffuse = 0xFFC40000u;
                    else if (selectedBone >= 0 && (first == selectedBone || second == selectedBone))
                        diffuse = argb(255, int(w.weight * 196), 0, int((1 - w.weight) * 196));
                    else
                        diffuse = 0xFFC4C4C4u;
                } else {
                    const ModelColor source = m.vertexColorMode == 1 ? entryOr0(m.colors, k.color) : group.color;
                    diffuse = packDiffuse({tr * source.red, tg * source.green, tb * source.blue, ta * source.alpha});
                }
                const ModelUV uv = entryOr0(m.uvs, k.uv);
                corner[c] = {at[c].x, at[c].y, at[c].z, normal.x, normal.y, normal.z, diffuse, specular, uv.u, uv.v};
            }
            for (int t = 0; t + 2 < n; ++t) {
                fan.push_back(corner[0]);
                fan.push_back(corner[t + 1]);
                fan.push_back(corner[t + 2]);
            }
        }
        std::size_t count = fan.size();
        if (group.mirror() != 0) {
            for (std::size_t v = 0; v < count; v += 3) {
                FanVertex a = fan[v], b = fan[v + 1], c = fan[v + 2];
                for (FanVertex* x : {&a, &b, &c}) {
                    x->x = -x->x;
                    x->nx = -x->nx;
                }
                fan.push_back(a);
                fan.push_back(c);
                fan.push_back(b);
            }
            count = fan.size();
        }
        if (count == 0)
            return 0;
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(count * sizeof(FanVertex)), fan.data(), GL_STREAM_DRAW);
        glDrawArrays(GL_TRIANGLES, 0, GLsizei(count));
        return int(count / 3);
    }

    // The GL texture of texture entry `index`, uploaded on first use; the null texture for a
    // missing image.
    GLuint textureFor(const Model& m, const ModelInstance& instance, int index) {
        if (auto it = textures.find(index); it != textures.end())
            return it->second;
        GLuint texture = nullTexture;
        if (std::size_t(index) < instance.textures.size() && validImage(instance.textures[std::size_t(index)])) {
            const bool psd = std::size_t(index) < m.textures.size() &&
                             equalsIgnoreCase(extensionOf(m.textures[std::size_t(index)].fileName), "psd");
            texture = uploadTexture(textureImageOf(instance.textures[std::size_t(index)], psd));
        }
        textures[index] = texture;
        return texture;
    }

    // The texture number group g shows: its own, or its current key's while a motion with
    // keys for it plays; numbers past the slot's table read as 0 (untextured).
    static int groupTextureNumber(const Model& m, const ModelPlayback& playback, std::size_t g) {
        const ModelGroup& group = m.groups[g];
        const ModelMotion* motion = playback.motion >= 0 && playback.motion < m.motionCount()
                                        ? &m.motions[std::size_t(playback.motion)]
                                        : nullptr;
        int texture = group.textured != 0 ? group.textureIndex : 0;
        if (motion && playback.animating && g < motion->groupKeys.size()) {
            const ModelGroupKeyTable& table = motion->groupKeys[g];
            const int keys = std::clamp(table.keyCount, 0, kMaxGroupKeys);
            if (keys > 0 && group.textured != 0) {
                int key = g < playback.groupKeys.size() ? playback.groupKeys[g].key : 0;
                key = std::clamp(key, 0, keys - 1);
                texture = table.keys[std::size_t(key)].keyTexture;
            }
        }
        if (texture < 0 || texture > kMaxTextureNumber || std::size_t(texture) >= m.textures.size())
            texture = 0;
        return texture;
    }

    // Textures repeat, so only the fraction of the scroll matters; it keeps float precision.
    static std::array<float, 2> groupScroll(const ModelGroup& group, const ModelPlayback& playback, std::size_t g) {
        if (group.keyed != 1 || g >= playback.uvOffsets.size())
            return {0, 0};
        return {float(std::fmod(playback.uvOffsets[g][0], 1.0)), float(std::fmod(playback.uvOffsets[g][1], 1.0))};
    }

    // The effect that draws the model in the fixed-function frame: the bone effect for mode 5
    // skinned on the GPU, the ground effect for modes 6 and 7; null for the fixed-function draw.
    Effect* groupEffect(const Model& m) {
        if (path != 3)
            return nullptr;
        if (m.renderMode == 5 && gpuSkin)
            return effects.get(EffectKind::Bone);
        if (m.renderMode == 6 || m.renderMode == 7)
            return effects.get(EffectKind::Ground);
        return nullptr;
    }

    void setGroupEffect(Effect& e, const Model& m, const ModelInstance& instance, const ModelGroup& group,
                        GLuint texture, std::array<float, 2> scroll, const SceneView& view) {
        const Mat4 viewProjection = multiply(view.view, multiply(view.projection, kDepthRemap));
        const Vec3 d = lightDirectionOf(view);
        e.setVector("vLightDir", d.x, d.y, d.z, 0);
        e.setFloat("uv_offset_u", scroll[0]);
        e.setFloat("uv_offset_v", scroll[1]);
        e.setInt("TexFlag", texture != 0 ? 1 : 0);
        if (m.renderMode == 5) {
            e.setTechnique("BoneTechnique");
            e.setMatrices("matWorld", skinMatrices);
            e.setInt("bLight", view.lighting ? 1 : 0);
            e.setFloat("fTime", float(view.appTime + 0.01));
            e.setMatrix("mViewProj", viewProjection);
            e.setTexture("Tex0", texture);
            return;
        }
        e.setTechnique("BumpGroundTechnique");
        e.setMatrix("World", kIdentity);
        e.setMatrix("WVProj", viewProjection);
        e.setVector("LightColor", view.lightColour.x, view.lightColour.y, view.lightColour.z, 1);
        e.setInt("bLight", view.lighting ? 1 : 0);
        e.setTexture("Tex1", texture);
        const int bump = effectTextureNumber(m, group.mapA != 0 ? group.mapATexture : 0);
        e.setInt("BumpFlag", bump != 0 ? 1 : 0);
        e.setTexture("Tex2", bump != 0 ? textureFor(m, instance, bump) : nullTexture);
        const int displacement = effectTextureNumber(m, group.displacement != 0 ? group.displacementTexture : 0);
        e.setInt("DisplaceFlag", displacement != 0 ? 1 : 0);
        e.setFloat("DisplaceScale", std::isfinite(group.displacementValue) ? group.displacementValue : 0.0f);
        e.setTexture("Tex3", displacement != 0 ? textureFor(m, instance, displacement) : nullTexture);
    }

    // The grid with the fixed-function program, into whatever target is bound.
    void drawGridFixed(const FixedFunctionProgram& p, const SceneView& view) {
        const Mat4 wvp = multiply(view.view, multiply(view.projection, kDepthRemap));
        const std::array<float, 9> normal = normalMatrixOf(view.view);
        glUseProgram(p.program);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, 0);
        glUniformMatrix4fv(p.worldViewProjection, 1, GL_FALSE, wvp.data());
        glUniformMatrix4fv(p.worldView, 1, GL_FALSE, view.view.data());
        glUniformMatrix3fv(p.normalMatrix, 1, GL_FALSE, normal.data());
        glUniform1i(p.lighting, 0);
        glUniform1i(p.vertexSpecular, 0);
        glUniform1i(p.textured, 0);
        glUniform1i(p.specularEnable, 0);
        glUniform1i(p.flatShade, 0);
        glUniform1i(p.alphaTest, 0);
        glUniform2f(p.uvOffset, 0, 0);
        glBindVertexArray(gridVao);
        glDrawArrays(GL_LINES, 0, gridVertexCount);
        glBindVertexArray(0);
        glUniform1i(p.lighting, 1);
        glUseProgram(0);
    }

    // The frame through the effects; false when it cannot be drawn (set-up refused, an effect
    // missing), and the fixed-function frame is drawn instead.
    bool drawShaderFrame(GLuint framebuffer, int width, int height, const Model* m, ModelInstance* instance,
                         const SceneView& view, const FixedFunctionProgram& p, FrameCounts& counts) {
        if (!shader.ensureTargets(width, height))
            return false;
        ShaderFrameInput in;
        in.framebuffer = framebuffer;
        in.width = width;
        in.height = height;
        in.view = &view;
        in.skinMatrices = gpuSkin ? skinMatrices : std::vector<Mat4>{};
        if (m && instance && model == m && path >= 0 && m->polygonCount() > 0 && instance->visible) {
            in.modelLight = m->lighting != 0;
            in.model = [this, m, instance](const EffectGroupVisitor& visit) {
                int triangles = 0;
                const bool fanPath = path == 0;
                if (!fanPath) {
                    if (buffersStale)
                        uploadPrepared();
                    else if (positionsStale)
                        uploadPositions();
                }
                const GLenum modelFill = m->fillMode == 0 ? GL_POINT : m->fillMode == 1 ? GL_LINE : GL_FILL;
                for (std::size_t g = 0; g < m->groups.size(); ++g) {
                    const ModelGroup& group = m->groups[g];
                    const int style = group.shadeParam;
                    if (style == kHidden)
                        continue;
                    const int number = groupTextureNumber(*m, instance->playback, g);
                    EffectGroupDraw d;
                    d.index = g;
                    d.group = &group;
                    d.texture = number != 0 ? textureFor(*m, *instance, number) : 0;
                    const std::array<float, 2> scroll = groupScroll(group, instance->playback, g);
                    d.du = scroll[0];
                    d.dv = scroll[1];
                    d.skinned = gpuSkin;
                    const int reflection = effectTextureNumber(*m, group.mapC != 0 ? group.mapCTexture : 0);
                    d.reflectionTexture = reflection != 0 ? textureFor(*m, *instance, reflection) : 0;
                    glPolygonMode(GL_FRONT_AND_BACK,
                                  style == kPoints ? GL_POINT : style == kWireframe ? GL_LINE : modelFill);
                    visit(d, [&] {
                        if (fanPath) {
                            glBindVertexArray(fanVao);
                            glBindBuffer(GL_ARRAY_BUFFER, fanBuffer);
                            triangles += drawFans(*m, g, -1);
                        } else if (g < ranges.size() && ranges[g].indexCount > 0) {
                            const GroupRange& r = ranges[g];
                            glBindVertexArray(vao);
                            glDrawElementsBaseVertex(GL_TRIANGLES, r.indexCount,
                                                     r.wide ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                                                     reinterpret_cast<void*>(r.indexOffset), r.baseVertex);
                            triangles += r.indexCount / 3;
                        }
                    });
                }
                glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
                glBindVertexArray(0);
                return triangles;
            };
        }
        if (view.grid)
            in.grid = [this, &p, &view] { drawGridFixed(p, view); };
        in.restoreFixedState = [] {
            glEnable(GL_DEPTH_TEST);
            glDepthFunc(GL_LEQUAL);
            glDepthMask(GL_TRUE);
            glEnable(GL_BLEND);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
            glEnable(GL_CULL_FACE);
            glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
        };
        FrameCounts frame;
        if (!shader.drawFrame(effects, in, frame))
            return false;
        counts = frame;
        return true;
    }
};

PreviewRenderer::PreviewRenderer() : impl_(std::make_unique<Impl>()) {}

PreviewRenderer::~PreviewRenderer() = default;

bool PreviewRenderer::init(std::string* error) {
    if (ready())
        return true;
    if (!buildFixedFunctionProgram(program_, error))
        return false;
    impl_->createGl();
    return true;
}

void PreviewRenderer::release() {
    if (!ready())
        return;
    impl_->releaseGl();
    glDeleteProgram(program_.program);
    program_ = {};
}

void PreviewRenderer::setNullTexture(const Image& image) {
    if (!validImage(image))
        return;
    impl_->nullImage = image;
    if (ready()) {
        glDeleteTextures(1, &impl_->nullTexture);
        impl_->nullTexture = uploadTexture(textureImageOf(image, false));
        // Entries that fell back to the null texture must pick up the new one.
        for (auto it = impl_->textures.begin(); it != impl_->textures.end();)
            it = it->second == 0 ? impl_->textures.erase(it) : std::next(it);
    }
}

void PreviewRenderer::forgetModel() { impl_->forget(); }

void PreviewRenderer::setEffectFolder(const std::string& dataFolder) {
    impl_->effects.setDataFolder(dataFolder);
    impl_->effects.setBinaryCacheFolder(dataFolder.empty() ? std::string() : effectCacheFolder());
}

void PreviewRenderer::setShadowFormats(bool r32f, bool r16f) { impl_->shader.setFloatFormats(r32f, r16f); }

bool PreviewRenderer::shaderModeRefused() const { return impl_->shader.refused(); }

bool PreviewRenderer::effectTried(int kind) const {
    return kind >= 0 && kind < 4 && impl_->effects.tried(EffectKind(kind));
}

bool PreviewRenderer::gpuSkinning() const { return impl_->gpuSkin; }

void PreviewRenderer::modelPass(Model& model, ModelInstance& instance) {
    Impl& s = *impl_;
    if (s.model != &model) {
        s.forget();
        s.model = &model;
        model.renderModeDirty = 1;
    }
    advancePlayback(model, instance.playback);
    if (model.renderModeDirty && model.positionCount() > 0)
        s.prepare(model);
    if (s.path < 0)
        return;

    computeBoneMatrices(model, instance, s.pose);
    // Render mode 5 leaves skinning to the bone effect when it loads; the buffers then keep
    // the prepared positions.
    s.gpuSkin = model.renderMode == 5 && s.path == 3 && s.effects.get(EffectKind::Bone) != nullptr;
    if (s.gpuSkin) {
        s.skinMatrices.resize(s.pose.global.size());
        for (std::size_t b = 0; b < s.pose.global.size(); ++b) {
            const Mat4& rest = s.pose.rest[b];
            s.skinMatrices[b] = multiply(translation(-rest[12], -rest[13], -rest[14]), s.pose.global[b]);
        }
        if (s.moved) {
            for (PreparedGroup& group : s.prepared.groups)
                for (std::size_t v = 0; v < group.vertices.size() && v < group.sourcePositions.size(); ++v) {
                    group.vertices[v].x = group.sourcePositions[v].x;
                    group.vertices[v].y = group.sourcePositions[v].y;
                    group.vertices[v].z = group.sourcePositions[v].z;
                }
            s.positionsStale = true;
            s.moved = false;
        }
        return;
    }
    const bool moves = poseMoves(s.pose);
    // Positions go back to the prepared ones once, when the pose returns to rest.
    if (!moves && !s.moved)
        return;
    s.moved = moves;
    if (s.path == 0) {
        s.deformed.resize(model.positions.size());
        skinPositions(model.positions, model.skin, s.pose, s.deformed);
        return;
    }
    std::vector<ModelVertex> skinned;
    for (PreparedGroup& group : s.prepared.groups) {
        skinned.resize(group.sourcePositions.size());
        skinPositions(group.sourcePositions, group.skin, s.pose, skinned);
        for (std::size_t v = 0; v < skinned.size(); ++v) {
            group.vertices[v].x = skinned[v].x;
            group.vertices[v].y = skinned[v].y;
            group.vertices[v].z = skinned[v].z;
        }
    }
    s.positionsStale = true;
}

FrameCounts PreviewRenderer::drawScene(GLuint framebuffer, int width, int height, const Model* model,
                                       ModelInstance* instance, const SceneView& view,
                                       const std::function<void()>& overlay) {
    FrameCounts counts;
    if (!ready())
        return counts;
    Impl& s = *impl_;
    const FixedFunctionProgram& p = program_;

    if (view.shaderMode && !s.shader.refused() &&
        s.drawShaderFrame(framebuffer, width, height, model, instance, view, p, counts)) {
        if (overlay)
            overlay();
        return counts;
    }

    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glViewport(0, 0, width, height);
    if (view.transparentClear)
        glClearColor(0, 0, 0, 0);
    else
        glClearColor(float(view.clearColour[0] & 0xff) / 255.0f, float(view.clearColour[1] & 0xff) / 255.0f,
                     float(view.clearColour[2] & 0xff) / 255.0f, 1.0f);
    glClearDepth(1.0);
    glClearStencil(0);
    glDepthMask(GL_TRUE);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);

    // The default state block.
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_BLEND);
    if (view.transparentClear) {
        // Over a clear of alpha 0 the alpha must gather coverage (a + d(1 - a)); the colour then
        // comes out premultiplied against the black clear, which the read-back undoes.
        glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    } else {
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    glBlendEquation(GL_FUNC_ADD);
    // Clockwise on screen is the front; counter-clockwise triangles are culled.
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glFrontFace(GL_CW);
    glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_STENCIL_TEST);

    glUseProgram(p.program);
    glActiveTexture(GL_TEXTURE0);
    glUniform1i(p.sampler, 0);
    const Vec3 lightInView = transformPoint(view.lightPosition, view.view);
    glUniform3f(p.lightPosition, lightInView.x, lightInView.y, lightInView.z);
    glUniform3f(p.lightDiffuse, view.lightColour.x, view.lightColour.y, view.lightColour.z);
    glUniform3f(p.lightSpecular, 1, 1, 1);
    glUniform3f(p.lightAmbient, view.ambient.x, view.ambient.y, view.ambient.z);
    glUniform1f(p.lightRange, 65000.0f);
    // Material: diffuse 1 (the vertex colour stands in for it), power 20, the rest zero.
    glUniform3f(p.materialAmbient, 0, 0, 0);
    glUniform3f(p.materialSpecular, 0, 0, 0);
    glUniform3f(p.materialEmissive, 0, 0, 0);
    glUniform3f(p.globalAmbient, 0, 0, 0);
    glUniform1f(p.power, 20.0f);

    const Mat4 projection = multiply(view.projection, kDepthRemap);
    auto setWorld = [&](const Mat4& world) {
        const Mat4 worldView = multiply(world, view.view);
        const Mat4 wvp = multiply(worldView, projection);
        const std::array<float, 9> normal = normalMatrixOf(worldView);
        glUniformMatrix4fv(p.worldViewProjection, 1, GL_FALSE, wvp.data());
        glUniformMatrix4fv(p.worldView, 1, GL_FALSE, worldView.data());
        // Row-major inverse transpose for row vectors is the column-major normal matrix.
        glUniformMatrix3fv(p.normalMatrix, 1, GL_FALSE, normal.data());
    };

    if (model && instance && s.model == model && s.path >= 0 && model->polygonCount() > 0 && instance->visible) {
        const Model& m = *model;
        setWorld(kIdentity);
        glUniform1i(p.lighting, view.lighting ? 1 : 0);
        const bool fanPath = s.path == 0;
        glUniform1i(p.vertexSpecular, fanPath ? 1 : 0);
        if (fanPath) {
            glBindVertexArray(s.fanVao);
            glBindBuffer(GL_ARRAY_BUFFER, s.fanBuffer);
        } else {
            if (s.buffersStale)
                s.uploadPrepared();
            else if (s.positionsStale)
                s.uploadPositions();
            glBindVertexArray(s.vao);
        }

        const ModelPlayback& playback = instance->playback;
        const GLenum modelFill = m.fillMode == 0 ? GL_POINT : m.fillMode == 1 ? GL_LINE : GL_FILL;

        for (std::size_t g = 0; g < m.groups.size(); ++g) {
            const ModelGroup& group = m.groups[g];
            const int style = group.shadeParam;
            if (style == kHidden)
                continue;

            const int texture = Impl::groupTextureNumber(m, playback, g);
            if (texture != 0) {
                glBindTexture(GL_TEXTURE_2D, s.textureFor(m, *instance, texture));
                glUniform1i(p.textured, 1);
            } else {
                glBindTexture(GL_TEXTURE_2D, 0);
                glUniform1i(p.textured, 0);
            }
            glUniform1i(p.specularEnable, group.specular() != 0 ? 1 : 0);
            glPolygonMode(GL_FRONT_AND_BACK, style == kPoints ? GL_POINT : style == kWireframe ? GL_LINE : modelFill);
            glUniform1i(p.flatShade, style == kFlat ? 1 : 0);
            glUniform1i(p.alphaTest, group.groupOption != 0 ? 1 : 0);
            glUniform1f(p.alphaRef, float(group.groupOptionValue & 0xff));
            const std::array<float, 2> scroll = Impl::groupScroll(group, playback, g);
            glUniform2f(p.uvOffset, scroll[0], scroll[1]);

            if (fanPath) {
                const int triangles = s.drawFans(m, g, view.selectedBone);
                counts.triangles += triangles;
                if (triangles > 0)
                    ++counts.drawCalls;
            } else if (g < s.ranges.size() && s.ranges[g].indexCount > 0) {
                const GroupRange& r = s.ranges[g];
                if (Effect* effect = s.groupEffect(m)) {
                    s.setGroupEffect(*effect, m, *instance, group, texture != 0 ? s.textureFor(m, *instance, texture) : 0,
                                     scroll, view);
                    for (int pass = 0; pass < effect->passCount(); ++pass) {
                        effect->beginPass(pass);
                        glDrawElementsBaseVertex(GL_TRIANGLES, r.indexCount,
                                                 r.wide ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                                                 reinterpret_cast<void*>(r.indexOffset), r.baseVertex);
                    }
                    Effect::endPass();
                    glUseProgram(p.program);
                } else {
                    glDrawElementsBaseVertex(GL_TRIANGLES, r.indexCount, r.wide ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                                             reinterpret_cast<void*>(r.indexOffset), r.baseVertex);
                }
                counts.triangles += r.indexCount / 3;
                ++counts.drawCalls;
            }
        }
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
        glBindTexture(GL_TEXTURE_2D, 0);
        glBindVertexArray(0);
    }

    // The application's drawing: the grid, unlit, in world space.
    if (view.grid)
        s.drawGridFixed(p, view);
    glUseProgram(0);
    if (overlay)
        overlay();
    return counts;
}

}  // namespace rv

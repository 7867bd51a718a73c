#include "formats/gltf/gltf.h"

#include <cmath>
#include <cstring>
#include <map>
#include <sstream>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "formats/common/export_support.h"
#include "formats/common/model_checks.h"
#include "formats/gltf/gltf_builder.h"
#include "runtime/image.h"
#include "runtime/image_write.h"
#include "runtime/paths.h"

namespace rv {
namespace gltf {

int Builder::addView(const void* data, std::size_t bytes, int target) {
    while (bin.size() % 4 != 0)
        bin.push_back(0);
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = bin.size();
    view.byteLength = bytes;
    view.target = target;
    const auto* p = static_cast<const unsigned char*>(data);
    bin.insert(bin.end(), p, p + bytes);
    doc.bufferViews.push_back(view);
    return int(doc.bufferViews.size()) - 1;
}

int Builder::addAccessor(const void* data, std::size_t count, int componentType, int type, int target,
                         const std::vector<double>& min, const std::vector<double>& max) {
    const std::size_t element = std::size_t(tinygltf::GetComponentSizeInBytes(std::uint32_t(componentType))) *
                                std::size_t(tinygltf::GetNumComponentsInType(std::uint32_t(type)));
    tinygltf::Accessor accessor;
    accessor.bufferView = addView(data, count * element, target);
    accessor.componentType = componentType;
    accessor.count = count;
    accessor.type = type;
    accessor.minValues = min;
    accessor.maxValues = max;
    doc.accessors.push_back(accessor);
    return int(doc.accessors.size()) - 1;
}

int addFloats(Builder& b, std::span<const float> values, int components, int type, int target, bool bounds) {
    std::vector<double> min, max;
    if (bounds) {
        min.assign(std::size_t(components), INFINITY);
        max.assign(std::size_t(components), -INFINITY);
        for (std::size_t i = 0; i < values.size(); ++i) {
            const std::size_t c = i % std::size_t(components);
            min[c] = std::min(min[c], double(values[i]));
            max[c] = std::max(max[c], double(values[i]));
        }
    }
    return b.addAccessor(values.data(), values.size() / std::size_t(components), TINYGLTF_COMPONENT_TYPE_FLOAT, type,
                         target, min, max);
}

}  // namespace gltf

namespace {

using gltf::Builder;

// A vertex is one distinct combination of a corner's table indices (-1 where a table has none).
struct VertexKey {
    std::int32_t position, normal, color, uv;
    bool operator==(const VertexKey&) const = default;
};
struct VertexKeyHash {
    std::size_t operator()(const VertexKey& k) const {
        std::uint64_t h = std::uint32_t(k.position);
        h = h * 0x9E3779B97F4A7C15ull ^ std::uint32_t(k.normal);
        h = h * 0x9E3779B97F4A7C15ull ^ std::uint32_t(k.color);
        h = h * 0x9E3779B97F4A7C15ull ^ std::uint32_t(k.uv);
        return std::size_t(h ^ (h >> 29));
    }
};

template <class T, class A>
bool inTable(std::int32_t index, const std::vector<T, A>& table) {
    return index >= 0 && std::size_t(index) < table.size();
}

// glTF wants unit normals: the corner's normal, else the position's smoothed one, else the face's.
std::array<float, 3> unitNormal(const Model& model, const ModelPolygon& polygon, const ModelCorner& corner) {
    const ModelVertex* candidates[] = {
        inTable(corner.normal, model.normals) ? &model.normals[std::size_t(corner.normal)] : nullptr,
        inTable(corner.position, model.smoothNormals) ? &model.smoothNormals[std::size_t(corner.position)] : nullptr,
        &polygon.faceNormal,
    };
    for (const ModelVertex* n : candidates) {
        if (!n)
            continue;
        const float length = std::sqrt(n->x * n->x + n->y * n->y + n->z * n->z);
        if (length > 1e-6f && std::isfinite(length))
            return gltf::turned(n->x / length, n->y / length, n->z / length);
    }
    return {0, 1, 0};
}

struct MeshTables {
    std::vector<float> positions, normals, uvs, colors, weights;
    std::vector<std::uint8_t> joints;
    // Per group, one index list per primitive mode: triangles, lines (2-corner polygons) and
    // points (1-corner polygons), so that no polygon of the model is lost. Quads go to triangle
    // lists of their own, marked so that our reader joins each pair back into a quad.
    std::vector<std::vector<std::uint32_t>> triangles, quads, lines, points;
};

std::optional<FormatError> buildTables(const Model& model, MeshTables& t) {
    const bool withUVs = !model.uvs.empty();
    const bool withColors = model.vertexColorMode == 1 && !model.colors.empty();
    const bool skinned = gltf::hasSkeleton(model);
    std::unordered_map<VertexKey, std::uint32_t, VertexKeyHash> vertices;
    vertices.reserve(model.polygons.size() * 4);
    t.triangles.resize(model.groups.size());
    t.quads.resize(model.groups.size());
    t.lines.resize(model.groups.size());
    t.points.resize(model.groups.size());
    auto vertexOf = [&](const ModelPolygon& polygon, const ModelCorner& c) {
        const VertexKey key{c.position, inTable(c.normal, model.normals) ? c.normal : -1,
                            withColors && inTable(c.color, model.colors) ? c.color : -1,
                            withUVs && inTable(c.uv, model.uvs) ? c.uv : -1};
        const auto [it, added] = vertices.try_emplace(key, std::uint32_t(vertices.size()));
        if (!added)
            return it->second;
        const ModelVertex& p = model.positions[std::size_t(c.position)];
        for (float v : gltf::turned(p.x, p.y, p.z))
            t.positions.push_back(v);
        for (float v : unitNormal(model, polygon, c))
            t.normals.push_back(v);
        if (withUVs) {
            // Both put the texture origin at the top left: v stays.
            const ModelUV uv = key.uv >= 0 ? model.uvs[std::size_t(key.uv)] : ModelUV{};
            t.uvs.push_back(uv.u);
            t.uvs.push_back(uv.v);
        }
        if (withColors) {
            const ModelColor color =
                key.color >= 0 ? model.colors[std::size_t(key.color)] : ModelColor{255, 255, 255, 255};
            t.colors.push_back(tintedComponent(color.red, model.tint.red));
            t.colors.push_back(tintedComponent(color.green, model.tint.green));
            t.colors.push_back(tintedComponent(color.blue, model.tint.blue));
            t.colors.push_back(tintedComponent(color.alpha, model.tint.alpha));
        }
        if (skinned) {
            std::array<std::uint8_t, 4> joints;
            std::array<float, 4> weights;
            gltf::skinOf(model, c.position, joints, weights);
            t.joints.insert(t.joints.end(), joints.begin(), joints.end());
            t.weights.insert(t.weights.end(), weights.begin(), weights.end());
        }
        return it->second;
    };
    for (std::size_t p = 0; p < model.polygons.size(); ++p) {
        const ModelPolygon& polygon = model.polygons[p];
        if (polygon.cornerCount < 1 || !inTable(polygon.group, model.groups))
            continue;
        if (auto refused = checkPolygonCorners(model, p))
            return refused;
        std::array<std::uint32_t, 4> v{};
        for (int c = 0; c < polygon.cornerCount; ++c)
            v[std::size_t(c)] = vertexOf(polygon, polygon.corners[std::size_t(c)]);
        const std::size_t g = std::size_t(polygon.group);
        if (polygon.cornerCount == 1) {
            t.points[g].push_back(v[0]);
            continue;
        }
        if (polygon.cornerCount == 2) {
            t.lines[g].push_back(v[0]);
            t.lines[g].push_back(v[1]);
            continue;
        }
        std::vector<std::uint32_t>& out = polygon.cornerCount == 4 ? t.quads[g] : t.triangles[g];
        // The fan (0, k+1, k+2), wound the other way for the right-handed system.
        for (int k = 0; k + 2 < polygon.cornerCount; ++k) {
            out.push_back(v[0]);
            out.push_back(v[std::size_t(k + 2)]);
            out.push_back(v[std::size_t(k + 1)]);
        }
    }
    return std::nullopt;
}

bool startsWith(const std::vector<std::byte>& bytes, std::initializer_list<unsigned char> magic) {
    if (bytes.size() < magic.size())
        return false;
    std::size_t i = 0;
    for (unsigned char m : magic)
        if (std::to_integer<unsigned char>(bytes[i++]) != m)
            return false;
    return true;
}

// The glTF textures made so far, by texture entry and by image: entries naming the same file (an
// .x file repeats the name in every material) or the same embedded image share one glTF image.
struct EmbeddedTextures {
    std::map<int, int> byEntry;
    std::map<std::string, int> byFile;
    std::map<const EmbeddedImage*, int> byImage;
};

// The glTF texture of texture entry `entry`, embedded once; -1 when its image cannot be had.
int textureOf(Builder& b, const Model& model, int entry, WriteContext& ctx, EmbeddedTextures& done) {
    if (const auto it = done.byEntry.find(entry); it != done.byEntry.end())
        return it->second;
    const ModelTexture& texture = model.textures[std::size_t(entry)];
    // An image the model carries wins over a file of the same name beside it.
    const EmbeddedImage* embedded = embeddedImageOf(model, texture);
    const auto path = embedded ? std::nullopt : textureFile(model, texture);
    if (embedded) {
        if (const auto it = done.byImage.find(embedded); it != done.byImage.end())
            return done.byEntry[entry] = it->second;
    } else if (path) {
        if (const auto it = done.byFile.find(*path); it != done.byFile.end())
            return done.byEntry[entry] = it->second;
    }
    std::optional<std::vector<std::byte>> data;
    std::string mime;
    if (embedded || path) {
        if (auto bytes = embedded ? std::optional(embedded->bytes) : readFile(*path)) {
            if (startsWith(*bytes, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'})) {
                mime = "image/png";
                data = std::move(bytes);
            } else if (startsWith(*bytes, {0xFF, 0xD8, 0xFF})) {
                mime = "image/jpeg";
                data = std::move(bytes);
            } else if (const auto image =
                           decodeImage(*bytes, extensionOf(embedded ? embedded->name : fileNameOf(*path)))) {
                mime = "image/png";
                data = encodePng(*image);
            }
        }
    }
    int index = -1;
    if (!data || data->empty()) {
        ctx.warnings.push_back(ctx.outputPath + ": texture " + exportText(texture.fileName) +
                               " was not found or could not be decoded; its groups are exported untextured");
    } else {
        tinygltf::Image image;
        image.name = exportText(texture.fileName);
        image.mimeType = mime;
        image.bufferView = b.addView(data->data(), data->size());
        b.doc.images.push_back(image);
        if (b.doc.samplers.empty()) {
            tinygltf::Sampler sampler;
            sampler.magFilter = TINYGLTF_TEXTURE_FILTER_LINEAR;
            sampler.minFilter = TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR;
            b.doc.samplers.push_back(sampler);
        }
        tinygltf::Texture t;
        t.source = int(b.doc.images.size()) - 1;
        t.sampler = 0;
        b.doc.textures.push_back(t);
        index = int(b.doc.textures.size()) - 1;
    }
    done.byEntry[entry] = index;
    if (embedded)
        done.byImage[embedded] = index;
    else if (path)
        done.byFile[*path] = index;
    return index;
}

tinygltf::Material materialOf(Builder& b, const Model& model, const ModelGroup& group, bool vertexColors,
                              bool translucentVertices, WriteContext& ctx, EmbeddedTextures& textures) {
    tinygltf::Material material;
    material.name = exportText(group.name);
    // With corner colours the preview ignores the group colour: the vertex colours carry it all.
    const ModelColor color = vertexColors ? ModelColor{255, 255, 255, 255} : group.color;
    material.pbrMetallicRoughness.baseColorFactor = {
        tintedComponent(color.red, model.tint.red), tintedComponent(color.green, model.tint.green),
        tintedComponent(color.blue, model.tint.blue), tintedComponent(color.alpha, model.tint.alpha)};
    // Fixed-function lighting is a plain diffuse surface.
    material.pbrMetallicRoughness.metallicFactor = 0;
    material.pbrMetallicRoughness.roughnessFactor = 1;
    if (material.pbrMetallicRoughness.baseColorFactor[3] < 1 || translucentVertices)
        material.alphaMode = "BLEND";
    material.doubleSided = false;
    if (groupTexture(model, group)) {
        const int texture = textureOf(b, model, group.textureIndex, ctx, textures);
        if (texture >= 0)
            material.pbrMetallicRoughness.baseColorTexture.index = texture;
    }
    return material;
}

// Characters outside the unreserved set percent-encoded, for a file name used as a URI.
std::string uriOf(const std::string& name) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : name) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::optional<FormatError> build(const Model& model, WriteContext& ctx, Builder& b) {
    b.doc.asset.version = "2.0";
    b.doc.asset.generator = "REVizevoz 2015";

    MeshTables t;
    if (auto refused = buildTables(model, t))
        return refused;

    tinygltf::Node node;
    const std::string base = baseNameOf(model.fileName);
    node.name = exportText(base.empty() ? model.fileName : base);
    b.doc.nodes.push_back(node);
    tinygltf::Scene scene;
    scene.nodes.push_back(0);
    b.doc.scenes.push_back(scene);
    b.doc.defaultScene = 0;

    for (const ModelMotion& motion : model.motions) {
        bool keyed = false;
        for (const ModelGroupKeyTable& table : motion.groupKeys)
            keyed = keyed || table.keyCount > 0;
        if (keyed) {
            ctx.warnings.push_back(ctx.outputPath + ": texture-animation keys are not exported");
            break;
        }
    }

    const std::size_t vertexCount = t.positions.size() / 3;
    if (vertexCount == 0)
        return std::nullopt;  // nothing drawable: an empty node

    tinygltf::Primitive shared;
    shared.mode = TINYGLTF_MODE_TRIANGLES;
    shared.attributes["POSITION"] =
        gltf::addFloats(b, t.positions, 3, TINYGLTF_TYPE_VEC3, TINYGLTF_TARGET_ARRAY_BUFFER, true);
    shared.attributes["NORMAL"] =
        gltf::addFloats(b, t.normals, 3, TINYGLTF_TYPE_VEC3, TINYGLTF_TARGET_ARRAY_BUFFER, false);
    if (!t.uvs.empty())
        shared.attributes["TEXCOORD_0"] =
            gltf::addFloats(b, t.uvs, 2, TINYGLTF_TYPE_VEC2, TINYGLTF_TARGET_ARRAY_BUFFER, false);
    if (!t.colors.empty())
        shared.attributes["COLOR_0"] =
            gltf::addFloats(b, t.colors, 4, TINYGLTF_TYPE_VEC4, TINYGLTF_TARGET_ARRAY_BUFFER, false);
    if (!t.joints.empty()) {
        shared.attributes["JOINTS_0"] =
            b.addAccessor(t.joints.data(), vertexCount, TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE, TINYGLTF_TYPE_VEC4,
                          TINYGLTF_TARGET_ARRAY_BUFFER);
        shared.attributes["WEIGHTS_0"] =
            gltf::addFloats(b, t.weights, 4, TINYGLTF_TYPE_VEC4, TINYGLTF_TARGET_ARRAY_BUFFER, false);
    }

    // 65535 is the restart index, which an index list must not use.
    const bool narrow = vertexCount <= 65535;
    EmbeddedTextures textures;
    tinygltf::Mesh mesh;
    mesh.name = node.name;
    for (std::size_t g = 0; g < model.groups.size(); ++g) {
        const std::vector<std::uint32_t>* lists[] = {&t.triangles[g], &t.quads[g], &t.lines[g], &t.points[g]};
        static constexpr int kModes[] = {TINYGLTF_MODE_TRIANGLES, TINYGLTF_MODE_TRIANGLES, TINYGLTF_MODE_LINE,
                                         TINYGLTF_MODE_POINTS};
        bool translucent = false, any = false;
        for (const std::vector<std::uint32_t>* indices : lists) {
            any = any || !indices->empty();
            for (std::size_t i = 0; !t.colors.empty() && i < indices->size() && !translucent; ++i)
                translucent = t.colors[std::size_t((*indices)[i]) * 4 + 3] < 1;
        }
        if (!any)
            continue;
        // One material per group, shared by its triangles, lines and points.
        b.doc.materials.push_back(materialOf(b, model, model.groups[g], !t.colors.empty(), translucent, ctx, textures));
        const int material = int(b.doc.materials.size()) - 1;
        for (int k = 0; k < 4; ++k) {
            const std::vector<std::uint32_t>& indices = *lists[k];
            if (indices.empty())
                continue;
            tinygltf::Primitive primitive = shared;
            primitive.mode = kModes[k];
            if (k == 1)
                primitive.extras = tinygltf::Value(tinygltf::Value::Object{{"quads", tinygltf::Value(true)}});
            if (narrow) {
                const std::vector<std::uint16_t> small(indices.begin(), indices.end());
                primitive.indices = b.addAccessor(small.data(), small.size(), TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT,
                                                  TINYGLTF_TYPE_SCALAR, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
            } else {
                primitive.indices = b.addAccessor(indices.data(), indices.size(), TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT,
                                                  TINYGLTF_TYPE_SCALAR, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
            }
            primitive.material = material;
            mesh.primitives.push_back(primitive);
        }
    }
    b.doc.meshes.push_back(mesh);
    b.doc.nodes[0].mesh = 0;
    if (!t.joints.empty())
        gltf::addSkeleton(b, model, 0, ctx);
    return std::nullopt;
}

std::optional<FormatError> write(const Model& model, WriteContext& ctx, bool binary) {
    Builder b;
    if (auto refused = build(model, ctx, b))
        return refused;
    if (!b.bin.empty()) {
        tinygltf::Buffer buffer;
        buffer.data = std::move(b.bin);
        b.doc.buffers.push_back(std::move(buffer));
    }
    std::string glb;
    try {
        std::ostringstream out;
        tinygltf::TinyGLTF io;
        if (!io.WriteGltfSceneToStream(&b.doc, out, false, true))
            return FormatError::refusal("the glTF document could not be serialised");
        glb = std::move(out).str();
        if (!binary) {
            // The document as tinygltf wrote it into the .glb, with the buffer moved to a file of its own.
            std::uint32_t jsonLength = 0;
            if (glb.size() < 20)
                return FormatError::refusal("the glTF document could not be serialised");
            std::memcpy(&jsonLength, glb.data() + 12, 4);
            nlohmann::json json = nlohmann::json::parse(glb.begin() + 20, glb.begin() + 20 + jsonLength);
            if (!b.doc.buffers.empty()) {
                const std::string target = ctx.outputPath.empty() ? "model.gltf" : ctx.outputPath;
                const std::string binName =
                    (baseNameOf(fileNameOf(target)).empty() ? fileNameOf(target) : baseNameOf(fileNameOf(target))) +
                    ".bin";
                json["buffers"][0]["uri"] = uriOf(binName);
                const std::vector<unsigned char>& data = b.doc.buffers[0].data;
                const std::string folder = directoryOf(target);
                OutputFile side{folder.empty() ? binName : joinPath(folder, binName), {}};
                side.bytes.resize(data.size());
                std::memcpy(side.bytes.data(), data.data(), data.size());
                ctx.sideFiles.push_back(std::move(side));
            }
            glb = json.dump(1) + "\n";
        }
    } catch (const std::exception& e) {
        return FormatError::refusal(std::string("the glTF document could not be serialised: ") + e.what());
    }
    ctx.bytes.resize(glb.size());
    std::memcpy(ctx.bytes.data(), glb.data(), glb.size());
    return std::nullopt;
}

}  // namespace

std::optional<FormatError> writeGlb(const Model& model, WriteContext& ctx) { return write(model, ctx, true); }
std::optional<FormatError> writeGltf(const Model& model, WriteContext& ctx) { return write(model, ctx, false); }

}  // namespace rv

// The glTF 2.0 reader: the GLB container and the document checked, then read through tinygltf with
// buffers from the model's companions and images kept as bytes; one group per material.
#include <cstring>
#include <map>

#include "formats/gltf/gltf.h"
#include "formats/gltf/gltf_reader.h"
#include "runtime/paths.h"

namespace rv {
namespace {

constexpr std::uint32_t kGlbMagic = 0x46546C67;  // "glTF"
constexpr std::uint32_t kJsonChunk = 0x4E4F534A;  // "JSON"
constexpr std::uint32_t kBinChunk = 0x004E4942;  // "BIN\0"

std::uint32_t u32At(std::span<const std::byte> file, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, file.data() + at, 4);
    return v;
}

// The JSON chunk of a .glb, after checking the header and the chunk lengths.
std::optional<FormatError> glbJson(std::span<const std::byte> file, std::string_view& json) {
    if (file.size() < 20)
        return FormatError::refusal("the file is too short for a GLB header");
    const std::uint32_t version = u32At(file, 4);
    if (version == 1)
        return FormatError::refusal("glTF 1.0 is not supported");
    if (version != 2)
        return FormatError::atByte(4, "GLB version " + std::to_string(version) + " is not supported");
    const std::uint64_t length = u32At(file, 8);
    if (length > file.size())
        return FormatError::atByte(8, "the GLB header gives a length of " + std::to_string(length) +
                                          " bytes, but the file has " + std::to_string(file.size()));
    const std::uint64_t jsonLength = u32At(file, 12);
    if (u32At(file, 16) != kJsonChunk)
        return FormatError::atByte(16, "the first GLB chunk is not JSON");
    if (20 + jsonLength > length)
        return FormatError::atByte(12, "the JSON chunk runs past the end of the file");
    const std::uint64_t bin = 20 + ((jsonLength + 3) & ~std::uint64_t(3));
    if (bin + 8 <= length && u32At(file, std::size_t(bin) + 4) == kBinChunk &&
        bin + 8 + u32At(file, std::size_t(bin)) > length)
        return FormatError::atByte(bin, "the BIN chunk runs past the end of the file");
    json = std::string_view(reinterpret_cast<const char*>(file.data()) + 20, std::size_t(jsonLength));
    return std::nullopt;
}

// Extensions that only change how a material looks, or that the accessor reader handles.
bool readable(const std::string& extension) {
    return extension == "KHR_texture_transform" || extension == "KHR_mesh_quantization" ||
           extension.starts_with("KHR_materials_");
}

std::optional<FormatError> checkDocument(std::string_view text) {
    nlohmann::json root;
    try {
        root = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        return FormatError::refusal(std::string("the JSON is malformed: ") + e.what());
    }
    if (auto bad = checkGltfJsonTypes(root))
        return FormatError::refusal(*bad);
    const auto asset = root.find("asset");
    if (asset == root.end() || !asset->contains("version"))
        return FormatError::refusal("the document names no glTF version");
    const std::string version = (*asset)["version"].get<std::string>();
    if (!version.starts_with("2."))
        return FormatError::refusal("glTF " + version + " is not supported");
    if (const auto required = root.find("extensionsRequired"); required != root.end())
        for (const auto& extension : *required)
            if (!readable(extension.get<std::string>()))
                return FormatError::refusal("needs " + extension.get<std::string>() + ", which is not supported");
    return std::nullopt;
}

// tinygltf opens no file: buffers come through the read context, images are kept as bytes.
struct Companions {
    ReadContext* ctx;
    std::string failure;
};

bool anyFileExists(const std::string&, void*) { return true; }
std::string samePath(const std::string& path, void*) { return path; }

bool readCompanion(std::vector<unsigned char>* out, std::string* err, const std::string& name, void* user) {
    auto* companions = static_cast<Companions*>(user);
    std::string why = "no file beside the model can be read here";
    std::optional<std::vector<std::byte>> bytes;
    if (companions->ctx->companion)
        bytes = companions->ctx->companion(name, why);
    if (!bytes) {
        if (companions->failure.empty())
            companions->failure = "buffer file " + name + " cannot be read: " + why;
        *err += why;
        return false;
    }
    out->resize(bytes->size());
    std::memcpy(out->data(), bytes->data(), bytes->size());
    return true;
}

bool writeNothing(std::string*, const std::string&, const std::vector<unsigned char>&, void*) { return false; }

// Images in a buffer view are taken later from the checked view; a data: URI's bytes are kept.
bool keepImage(tinygltf::Image* image, const int, std::string*, std::string*, int, int, const unsigned char* bytes,
               int size, void*) {
    if (image->bufferView < 0 && bytes && size > 0)
        image->image.assign(bytes, bytes + size);
    return true;
}

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// %XX escapes of a URI turned into their bytes.
std::string decodeUri(const std::string& uri) {
    std::string out;
    for (std::size_t i = 0; i < uri.size(); ++i) {
        if (uri[i] == '%' && i + 2 < uri.size() && std::isxdigit(static_cast<unsigned char>(uri[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(uri[i + 2]))) {
            out += char(std::stoi(uri.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += uri[i];
        }
    }
    return out;
}

// A name as the model keeps it: Shift-JIS where the text converts, else as it is.
std::string modelText(const std::string& utf8) { return utf8ToSjis(utf8).value_or(utf8); }

struct MaterialReader {
    const tinygltf::Model& gltf;
    Model& model;
    ReadContext& ctx;
    std::string stem;
    std::map<int, GltfLook> looks;
    std::map<int, int> entryOfImage;

    GltfLook lookOf(int material);
    int textureEntry(int image);
};

int MaterialReader::textureEntry(int index) {
    if (const auto it = entryOfImage.find(index); it != entryOfImage.end())
        return it->second;
    const tinygltf::Image& image = gltf.images[std::size_t(index)];
    std::string name;
    std::vector<std::byte> bytes;
    if (image.bufferView >= 0 || !image.image.empty()) {
        const unsigned char* data = image.image.data();
        std::size_t size = image.image.size();
        if (image.bufferView >= 0) {
            if (auto bad = checkGltfView(gltf, image.bufferView)) {
                ctx.warn(ctx.path + ": image " + std::to_string(index) + " is left out: " + *bad);
                return entryOfImage[index] = 0;
            }
            const tinygltf::BufferView& view = gltf.bufferViews[std::size_t(image.bufferView)];
            data = gltf.buffers[std::size_t(view.buffer)].data.data() + view.byteOffset;
            size = view.byteLength;
        }
        const bool png = size >= 4 && std::memcmp(data, "\x89PNG", 4) == 0;
        const bool jpeg = size >= 3 && std::memcmp(data, "\xFF\xD8\xFF", 3) == 0;
        if (!png && !jpeg) {
            ctx.warn(ctx.path + ": image " + std::to_string(index) + " is neither PNG nor JPEG; it is left out");
            return entryOfImage[index] = 0;
        }
        name = stem + "_" + std::to_string(index) + (png ? ".png" : ".jpg");
        bytes.resize(size);
        std::memcpy(bytes.data(), data, size);
    } else {
        name = modelText(decodeUri(image.uri));
    }
    if (name.empty() || name.size() > std::size_t(kMaxNameBytes) || model.textureCount() > kMaxTextureNumber) {
        ctx.warn(ctx.path + ": image " + std::to_string(index) +
                 " cannot be one of the model's textures; it is left out");
        return entryOfImage[index] = 0;
    }
    if (!bytes.empty())
        model.embeddedImages.push_back({name, std::move(bytes)});
    ModelTexture texture;
    texture.kind = 1;
    texture.fileName = name;
    model.textures.push_back(texture);
    return entryOfImage[index] = model.textureCount() - 1;
}

double numberOr(const tinygltf::Value& object, const char* key, int at, double fallback) {
    if (!object.Has(key))
        return fallback;
    const tinygltf::Value& v = object.Get(key);
    const tinygltf::Value& n = at < 0 ? v : (v.IsArray() && int(v.ArrayLen()) > at ? v.Get(at) : tinygltf::Value());
    return n.IsNumber() || n.IsInt() ? n.GetNumberAsDouble() : fallback;
}

GltfLook MaterialReader::lookOf(int material) {
    if (const auto it = looks.find(material); it != looks.end())
        return it->second;
    GltfLook look;
    look.group = model.groupCount();
    ModelGroup group;
    group.color = {255, 255, 255, 255};
    if (material >= 0) {
        const tinygltf::Material& m = gltf.materials[std::size_t(material)];
        const auto& factor = m.pbrMetallicRoughness.baseColorFactor;
        for (std::size_t c = 0; c < 4 && c < factor.size(); ++c)
            look.color[c] = float(factor[c]);
        if (m.alphaMode == "OPAQUE")
            look.color[3] = 1;
        group.color = {look.color[0] * 255, look.color[1] * 255, look.color[2] * 255, look.color[3] * 255};
        const std::optional<std::string> name = utf8ToSjis(m.name);
        group.name = name && !name->empty() && name->size() <= std::size_t(kMaxNameBytes)
                         ? *name
                         : "material_" + std::to_string(material);

        const tinygltf::TextureInfo& base = m.pbrMetallicRoughness.baseColorTexture;
        if (base.index >= 0 && std::size_t(base.index) < gltf.textures.size()) {
            const int source = gltf.textures[std::size_t(base.index)].source;
            if (source >= 0 && std::size_t(source) < gltf.images.size())
                group.textureIndex = textureEntry(source);
            group.textured = group.textureIndex > 0 ? 1 : 0;
            look.texCoord = base.texCoord;
            if (const auto it = base.extensions.find("KHR_texture_transform"); it != base.extensions.end()) {
                const tinygltf::Value& t = it->second;
                const double r = numberOr(t, "rotation", -1, 0), c = std::cos(r), s = std::sin(r);
                const double su = numberOr(t, "scale", 0, 1), sv = numberOr(t, "scale", 1, 1);
                look.uv = {float(c * su),  float(s * sv), float(numberOr(t, "offset", 0, 0)),
                           float(-s * su), float(c * sv), float(numberOr(t, "offset", 1, 0))};
                look.texCoord = int(numberOr(t, "texCoord", -1, base.texCoord));
            }
        }
    }
    model.groups.push_back(group);
    looks[material] = look;
    return look;
}

std::string stemOf(const ReadContext& ctx) {
    const std::string file = fileNameOf(ctx.path);
    const std::string base = baseNameOf(file);
    return !base.empty() ? base : !file.empty() ? file : "model";
}

}  // namespace

std::optional<FormatError> readGltf(std::span<const std::byte> file, Model& model, ReadContext& ctx) {
    const bool binary = file.size() >= 4 && u32At(file, 0) == kGlbMagic;
    std::string_view json(reinterpret_cast<const char*>(file.data()), file.size());
    if (binary)
        if (auto bad = glbJson(file, json))
            return bad;
    if (auto bad = checkDocument(json))
        return bad;

    tinygltf::Model gltf;
    tinygltf::TinyGLTF loader;
    Companions companions{&ctx, {}};
    loader.SetFsCallbacks({anyFileExists, samePath, readCompanion, writeNothing, &companions});
    loader.SetImageLoader(keepImage, nullptr);
    std::string err, warn;
    bool loaded = false;
    try {
        loaded = binary ? loader.LoadBinaryFromMemory(&gltf, &err, &warn,
                                                      reinterpret_cast<const unsigned char*>(file.data()),
                                                      unsigned(file.size()))
                        : loader.LoadASCIIFromString(&gltf, &err, &warn, json.data(), unsigned(json.size()), "");
    } catch (const std::exception& e) {
        err = e.what();
    }
    if (!companions.failure.empty())
        return FormatError::refusal(companions.failure);
    if (!loaded)
        return FormatError::refusal("tinygltf refused it: " + firstLine(err.empty() ? warn : err));
    for (std::size_t m = 0; m < gltf.meshes.size(); ++m)
        for (const tinygltf::Primitive& primitive : gltf.meshes[m].primitives)
            if (primitive.material >= int(gltf.materials.size()))
                return FormatError::refusal("mesh " + std::to_string(m) + " names material " +
                                            std::to_string(primitive.material) + ", which does not exist");

    Model out;
    out.folder = model.folder;
    out.fileName = model.fileName;
    out.path = model.path;
    out.groups.clear();
    out.tint = {255, 255, 255, 255};
    MaterialReader materials{gltf, out, ctx, stemOf(ctx), {}, {}};
    std::vector<GltfVertexOrigin> origins;
    if (auto bad = readGltfMeshes(
            gltf, [&](int material) { return materials.lookOf(material); }, out, origins))
        return FormatError::refusal(*bad);
    if (out.polygons.empty())
        return FormatError::refusal("the scene holds no polygons");
    out.skin.assign(out.positions.size(), ModelSkinWeight{});
    if (auto bad = readGltfSkin(gltf, origins, out, ctx))
        return bad;
    model = std::move(out);
    return std::nullopt;
}

}  // namespace rv

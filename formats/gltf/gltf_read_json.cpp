// The JSON types of the glTF members the reader uses, checked before tinygltf reads them: a
// member of the wrong type makes the file invalid, and tinygltf would take its default instead.
#include <initializer_list>

#include "formats/gltf/gltf_reader.h"

namespace rv {
namespace {

using Json = nlohmann::json;

enum class Kind { Uint, Number, String, Bool, Object, Array, Uints, Numbers, Objects, Strings };

struct Member {
    const char* name;
    Kind kind;
};

const char* kindName(Kind kind) {
    switch (kind) {
    case Kind::Uint: return "an unsigned integer";
    case Kind::Number: return "a number";
    case Kind::String: return "a string";
    case Kind::Bool: return "a boolean";
    case Kind::Object: return "an object";
    case Kind::Array: return "an array";
    case Kind::Uints: return "an array of unsigned integers";
    case Kind::Numbers: return "an array of numbers";
    case Kind::Objects: return "an array of objects";
    case Kind::Strings: return "an array of strings";
    }
    return "";
}

bool isUint(const Json& v) { return v.is_number_unsigned() || (v.is_number_integer() && v.get<std::int64_t>() >= 0); }

bool allOf(const Json& v, bool (*test)(const Json&)) {
    if (!v.is_array())
        return false;
    for (const Json& e : v)
        if (!test(e))
            return false;
    return true;
}

bool fits(const Json& v, Kind kind) {
    switch (kind) {
    case Kind::Uint: return isUint(v);
    case Kind::Number: return v.is_number();
    case Kind::String: return v.is_string();
    case Kind::Bool: return v.is_boolean();
    case Kind::Object: return v.is_object();
    case Kind::Array: return v.is_array();
    case Kind::Uints: return allOf(v, isUint);
    case Kind::Numbers: return allOf(v, [](const Json& e) { return e.is_number(); });
    case Kind::Objects: return allOf(v, [](const Json& e) { return e.is_object(); });
    case Kind::Strings: return allOf(v, [](const Json& e) { return e.is_string(); });
    }
    return false;
}

std::optional<std::string> check(const Json& object, const std::string& where, std::initializer_list<Member> members) {
    if (!object.is_object())
        return (where.empty() ? "the document" : where) + " is not an object";
    for (const Member& m : members) {
        const auto it = object.find(m.name);
        if (it != object.end() && !fits(*it, m.kind))
            return (where.empty() ? "" : where + ".") + m.name + " is not " + kindName(m.kind);
    }
    return std::nullopt;
}

// Each element of the array `name` (an array of objects, checked by the caller) through `each`.
template <class Each>
std::optional<std::string> forEach(const Json& root, const char* name, Each each) {
    const auto it = root.find(name);
    if (it == root.end())
        return std::nullopt;
    for (std::size_t i = 0; i < it->size(); ++i)
        if (auto bad = each((*it)[i], std::string(name) + "[" + std::to_string(i) + "]"))
            return bad;
    return std::nullopt;
}

std::optional<std::string> checkTextureInfo(const Json& material, const char* name, const std::string& where) {
    const auto it = material.find(name);
    if (it == material.end())
        return std::nullopt;
    const std::string at = where + "." + name;
    if (auto bad = check(*it, at,
                         {{"index", Kind::Uint},
                          {"texCoord", Kind::Uint},
                          {"scale", Kind::Number},
                          {"strength", Kind::Number},
                          {"extensions", Kind::Object}}))
        return bad;
    const auto ext = it->find("extensions");
    if (ext == it->end())
        return std::nullopt;
    const auto transform = ext->find("KHR_texture_transform");
    if (transform == ext->end())
        return std::nullopt;
    return check(
        *transform, at + ".extensions.KHR_texture_transform",
        {{"offset", Kind::Numbers}, {"rotation", Kind::Number}, {"scale", Kind::Numbers}, {"texCoord", Kind::Uint}});
}

// A mesh and its primitives.
std::optional<std::string> checkMesh(const Json& m, const std::string& at) {
    if (auto bad = check(m, at, {{"name", Kind::String}, {"primitives", Kind::Objects}}))
        return bad;
    return forEach(m, "primitives", [&](const Json& p, const std::string& in) -> std::optional<std::string> {
        if (auto bad = check(p, at + "." + in,
                             {{"attributes", Kind::Object},
                              {"indices", Kind::Uint},
                              {"material", Kind::Uint},
                              {"mode", Kind::Uint},
                              {"targets", Kind::Objects}}))
            return bad;
        if (const auto attributes = p.find("attributes"); attributes != p.end())
            for (const auto& [name, value] : attributes->items())
                if (!isUint(value))
                    return at + "." + in + ".attributes." + name + " is not an unsigned integer";
        return std::nullopt;
    });
}

// A material, its metallic-roughness block and its texture references.
std::optional<std::string> checkMaterial(const Json& m, const std::string& at) {
    if (auto bad = check(m, at,
                         {{"name", Kind::String},
                          {"alphaMode", Kind::String},
                          {"alphaCutoff", Kind::Number},
                          {"doubleSided", Kind::Bool},
                          {"emissiveFactor", Kind::Numbers},
                          {"pbrMetallicRoughness", Kind::Object},
                          {"extensions", Kind::Object}}))
        return bad;
    for (const char* name : {"normalTexture", "occlusionTexture", "emissiveTexture"})
        if (auto bad = checkTextureInfo(m, name, at))
            return bad;
    const auto pbr = m.find("pbrMetallicRoughness");
    if (pbr == m.end())
        return std::nullopt;
    const std::string in = at + ".pbrMetallicRoughness";
    if (auto bad = check(
            *pbr, in,
            {{"baseColorFactor", Kind::Numbers}, {"metallicFactor", Kind::Number}, {"roughnessFactor", Kind::Number}}))
        return bad;
    for (const char* name : {"baseColorTexture", "metallicRoughnessTexture"})
        if (auto bad = checkTextureInfo(*pbr, name, in))
            return bad;
    return std::nullopt;
}

}  // namespace

std::optional<std::string> checkGltfJsonTypes(const Json& root) {
    if (auto bad = check(root, "",
                         {{"scene", Kind::Uint},
                          {"asset", Kind::Object},
                          {"scenes", Kind::Objects},
                          {"nodes", Kind::Objects},
                          {"meshes", Kind::Objects},
                          {"materials", Kind::Objects},
                          {"textures", Kind::Objects},
                          {"images", Kind::Objects},
                          {"samplers", Kind::Objects},
                          {"accessors", Kind::Objects},
                          {"bufferViews", Kind::Objects},
                          {"buffers", Kind::Objects},
                          {"skins", Kind::Objects},
                          {"animations", Kind::Objects},
                          {"cameras", Kind::Objects},
                          {"extensionsUsed", Kind::Strings},
                          {"extensionsRequired", Kind::Strings}}))
        return bad;
    if (const auto asset = root.find("asset"); asset != root.end())
        if (auto bad = check(*asset, "asset", {{"version", Kind::String}, {"minVersion", Kind::String}}))
            return bad;
    if (auto bad = forEach(root, "scenes", [](const Json& s, const std::string& at) {
            return check(s, at, {{"name", Kind::String}, {"nodes", Kind::Uints}});
        }))
        return bad;
    if (auto bad = forEach(root, "nodes", [](const Json& n, const std::string& at) {
            return check(n, at,
                         {{"name", Kind::String},
                          {"children", Kind::Uints},
                          {"mesh", Kind::Uint},
                          {"skin", Kind::Uint},
                          {"camera", Kind::Uint},
                          {"matrix", Kind::Numbers},
                          {"translation", Kind::Numbers},
                          {"rotation", Kind::Numbers},
                          {"scale", Kind::Numbers},
                          {"weights", Kind::Numbers}});
        }))
        return bad;
    if (auto bad = forEach(root, "meshes", checkMesh))
        return bad;
    if (auto bad = forEach(root, "materials", checkMaterial))
        return bad;
    if (auto bad = forEach(root, "textures", [](const Json& t, const std::string& at) {
            return check(t, at, {{"name", Kind::String}, {"sampler", Kind::Uint}, {"source", Kind::Uint}});
        }))
        return bad;
    if (auto bad = forEach(root, "images", [](const Json& i, const std::string& at) {
            return check(i, at,
                         {{"name", Kind::String},
                          {"uri", Kind::String},
                          {"mimeType", Kind::String},
                          {"bufferView", Kind::Uint}});
        }))
        return bad;
    if (auto bad = forEach(root, "accessors", [](const Json& a, const std::string& at) {
            return check(a, at,
                         {{"bufferView", Kind::Uint},
                          {"byteOffset", Kind::Uint},
                          {"componentType", Kind::Uint},
                          {"normalized", Kind::Bool},
                          {"count", Kind::Uint},
                          {"type", Kind::String},
                          {"min", Kind::Numbers},
                          {"max", Kind::Numbers},
                          {"sparse", Kind::Object}});
        }))
        return bad;
    if (auto bad = forEach(root, "bufferViews", [](const Json& v, const std::string& at) {
            return check(v, at,
                         {{"buffer", Kind::Uint},
                          {"byteOffset", Kind::Uint},
                          {"byteLength", Kind::Uint},
                          {"byteStride", Kind::Uint},
                          {"target", Kind::Uint}});
        }))
        return bad;
    return forEach(root, "buffers", [](const Json& b, const std::string& at) {
        return check(b, at, {{"uri", Kind::String}, {"byteLength", Kind::Uint}});
    });
}

}  // namespace rv

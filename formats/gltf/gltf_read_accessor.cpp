// Accessors of a glTF document: bounds checked once against their buffers, then read as floats or
// indices.
#include <cstring>

#include "formats/gltf/gltf_reader.h"

namespace rv {
namespace {

using Wide = unsigned __int128;  // sums of file-given offsets and lengths cannot overflow it

int componentBytes(int componentType) {
    switch (componentType) {
    case TINYGLTF_COMPONENT_TYPE_BYTE:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return 1;
    case TINYGLTF_COMPONENT_TYPE_SHORT:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: return 2;
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT:
    case TINYGLTF_COMPONENT_TYPE_FLOAT: return 4;
    default: return 0;
    }
}

bool isIndexType(int componentType) {
    return componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE ||
           componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT ||
           componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
}

// The bytes of buffer view `view`; checkGltfView has made sure they lie in the buffer.
const unsigned char* viewBytes(const tinygltf::Model& gltf, int view) {
    const tinygltf::BufferView& v = gltf.bufferViews[std::size_t(view)];
    return gltf.buffers[std::size_t(v.buffer)].data.data() + v.byteOffset;
}

std::size_t strideOf(const tinygltf::Model& gltf, const tinygltf::Accessor& a) {
    const std::size_t element = std::size_t(componentBytes(a.componentType)) *
                                std::size_t(tinygltf::GetNumComponentsInType(std::uint32_t(a.type)));
    const std::size_t stride = gltf.bufferViews[std::size_t(a.bufferView)].byteStride;
    return stride == 0 ? element : stride;
}

// One component at p, as a float.
float componentAt(const unsigned char* p, int componentType, bool normalised) {
    switch (componentType) {
    case TINYGLTF_COMPONENT_TYPE_FLOAT: {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    case TINYGLTF_COMPONENT_TYPE_BYTE: {
        const float f = float(std::int8_t(p[0]));
        return normalised ? std::max(f / 127.0f, -1.0f) : f;
    }
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return normalised ? float(p[0]) / 255.0f : float(p[0]);
    case TINYGLTF_COMPONENT_TYPE_SHORT: {
        std::int16_t s;
        std::memcpy(&s, p, 2);
        return normalised ? std::max(float(s) / 32767.0f, -1.0f) : float(s);
    }
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: {
        std::uint16_t s;
        std::memcpy(&s, p, 2);
        return normalised ? float(s) / 65535.0f : float(s);
    }
    default: {
        std::uint32_t u;
        std::memcpy(&u, p, 4);
        return normalised ? float(double(u) / 4294967295.0) : float(u);
    }
    }
}

std::uint32_t indexAt(const unsigned char* p, int componentType) {
    if (componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE)
        return p[0];
    if (componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT) {
        std::uint16_t s;
        std::memcpy(&s, p, 2);
        return s;
    }
    std::uint32_t u;
    std::memcpy(&u, p, 4);
    return u;
}

// The reason when `bytes` bytes from `offset` do not lie inside buffer view `view`.
std::optional<std::string> checkSpan(const tinygltf::Model& gltf, int view, Wide offset, Wide bytes,
                                     const std::string& what) {
    if (auto bad = checkGltfView(gltf, view))
        return what + ": " + *bad;
    if (offset + bytes > gltf.bufferViews[std::size_t(view)].byteLength)
        return what + " runs past the end of buffer view " + std::to_string(view);
    return std::nullopt;
}

}  // namespace

std::optional<std::string> checkGltfView(const tinygltf::Model& gltf, int view) {
    const std::string what = "buffer view " + std::to_string(view);
    if (view < 0 || std::size_t(view) >= gltf.bufferViews.size())
        return what + " does not exist";
    const tinygltf::BufferView& v = gltf.bufferViews[std::size_t(view)];
    if (v.buffer < 0 || std::size_t(v.buffer) >= gltf.buffers.size())
        return what + " names buffer " + std::to_string(v.buffer) + ", which does not exist";
    if (Wide(v.byteOffset) + v.byteLength > gltf.buffers[std::size_t(v.buffer)].data.size())
        return what + " runs past the end of buffer " + std::to_string(v.buffer);
    return std::nullopt;
}

std::optional<std::string> checkGltfAccessor(const tinygltf::Model& gltf, int accessor) {
    if (accessor < 0 || std::size_t(accessor) >= gltf.accessors.size())
        return "accessor " + std::to_string(accessor) + " does not exist";
    const tinygltf::Accessor& a = gltf.accessors[std::size_t(accessor)];
    const std::string what = "accessor " + std::to_string(accessor);
    const int bytes = componentBytes(a.componentType);
    const int components = tinygltf::GetNumComponentsInType(std::uint32_t(a.type));
    if (bytes == 0 || components <= 0)
        return what + " has an unknown component type or type";
    if (a.count > kGltfMaxEntries)
        return what + " has " + std::to_string(a.count) + " elements, too many to read";
    const std::size_t element = std::size_t(bytes) * std::size_t(components);
    if (a.bufferView >= 0) {
        if (auto bad = checkGltfView(gltf, a.bufferView))
            return what + ": " + *bad;
        const std::size_t stride = strideOf(gltf, a);
        if (stride < element)
            return what + " has a byte stride shorter than its elements";
        if (a.count > 0)
            if (auto bad = checkSpan(gltf, a.bufferView, a.byteOffset, Wide(stride) * (a.count - 1) + element, what))
                return bad;
    }
    if (!a.sparse.isSparse)
        return std::nullopt;
    const auto& s = a.sparse;
    if (s.count <= 0 || std::size_t(s.count) > a.count)
        return what + " has a sparse count of " + std::to_string(s.count) + " for " + std::to_string(a.count) +
               " elements";
    if (!isIndexType(s.indices.componentType))
        return what + " has sparse indices of an unknown type";
    if (s.indices.byteOffset < 0 || s.values.byteOffset < 0)
        return what + " has a negative sparse offset";
    if (auto bad =
            checkSpan(gltf, s.indices.bufferView, Wide(s.indices.byteOffset),
                      Wide(s.count) * std::size_t(componentBytes(s.indices.componentType)), what + "'s sparse indices"))
        return bad;
    if (auto bad = checkSpan(gltf, s.values.bufferView, Wide(s.values.byteOffset), Wide(s.count) * element,
                             what + "'s sparse values"))
        return bad;
    return std::nullopt;
}

std::optional<std::string> readGltfFloats(const tinygltf::Model& gltf, int accessor, std::vector<float>& out,
                                          int& components) {
    if (auto bad = checkGltfAccessor(gltf, accessor))
        return bad;
    const tinygltf::Accessor& a = gltf.accessors[std::size_t(accessor)];
    components = tinygltf::GetNumComponentsInType(std::uint32_t(a.type));
    const std::size_t n = std::size_t(components);
    const int bytes = componentBytes(a.componentType);
    out.assign(a.count * n, 0.0f);  // without a buffer view the elements are zero
    auto readElement = [&](const unsigned char* p, float* to) {
        for (std::size_t c = 0; c < n; ++c)
            to[c] = componentAt(p + c * std::size_t(bytes), a.componentType, a.normalized);
    };
    if (a.bufferView >= 0 && a.count > 0) {
        const unsigned char* base = viewBytes(gltf, a.bufferView) + a.byteOffset;
        const std::size_t stride = strideOf(gltf, a);
        if (a.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT && stride == n * 4)
            std::memcpy(out.data(), base, out.size() * 4);
        else
            for (std::size_t i = 0; i < a.count; ++i)
                readElement(base + i * stride, out.data() + i * n);
    }
    if (a.sparse.isSparse) {
        const auto& s = a.sparse;
        const unsigned char* indices = viewBytes(gltf, s.indices.bufferView) + s.indices.byteOffset;
        const unsigned char* values = viewBytes(gltf, s.values.bufferView) + s.values.byteOffset;
        const std::size_t indexBytes = std::size_t(componentBytes(s.indices.componentType));
        for (std::size_t k = 0; k < std::size_t(s.count); ++k) {
            const std::uint32_t at = indexAt(indices + k * indexBytes, s.indices.componentType);
            if (at >= a.count)
                return "accessor " + std::to_string(accessor) + " has a sparse index past its elements";
            readElement(values + k * n * std::size_t(bytes), out.data() + std::size_t(at) * n);
        }
    }
    return std::nullopt;
}

std::optional<std::string> readGltfIndices(const tinygltf::Model& gltf, int accessor, std::vector<std::uint32_t>& out) {
    if (auto bad = checkGltfAccessor(gltf, accessor))
        return bad;
    const tinygltf::Accessor& a = gltf.accessors[std::size_t(accessor)];
    if (a.type != TINYGLTF_TYPE_SCALAR || !isIndexType(a.componentType) || a.sparse.isSparse)
        return "accessor " + std::to_string(accessor) + " cannot hold indices";
    out.assign(a.count, 0);
    if (a.bufferView < 0)
        return std::nullopt;
    const unsigned char* base = viewBytes(gltf, a.bufferView) + a.byteOffset;
    const std::size_t stride = strideOf(gltf, a);
    for (std::size_t i = 0; i < a.count; ++i)
        out[i] = indexAt(base + i * stride, a.componentType);
    return std::nullopt;
}

}  // namespace rv

#include "runtime/image.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "runtime/dds.h"
#include "runtime/paths.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_FAILURE_USERMSG
#include <stb_image.h>

namespace rv {
namespace {

std::uint32_t readLe32(const std::byte* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// The runtime's raw image: two ignored words, width, height, then width x height BGRA pixels.
std::optional<Image> decodeKzi(std::span<const std::byte> bytes) {
    if (bytes.size() < 16)
        return std::nullopt;
    const std::uint32_t width = readLe32(bytes.data() + 8);
    const std::uint32_t height = readLe32(bytes.data() + 12);
    if (width == 0 || height == 0 || width > 16384 || height > 16384)
        return std::nullopt;
    const std::size_t pixels = std::size_t(width) * height;
    if ((bytes.size() - 16) / 4 < pixels)
        return std::nullopt;
    Image image;
    image.width = int(width);
    image.height = int(height);
    image.rgba.resize(pixels * 4);
    const std::byte* src = bytes.data() + 16;
    for (std::size_t i = 0; i < pixels; ++i) {
        // Stored as A8R8G8B8 words: bytes B, G, R, A.
        image.rgba[i * 4 + 0] = std::uint8_t(src[i * 4 + 2]);
        image.rgba[i * 4 + 1] = std::uint8_t(src[i * 4 + 1]);
        image.rgba[i * 4 + 2] = std::uint8_t(src[i * 4 + 0]);
        image.rgba[i * 4 + 3] = std::uint8_t(src[i * 4 + 3]);
    }
    return image;
}

}  // namespace

std::optional<Image> decodeImage(std::span<const std::byte> bytes, const std::string& extension) {
    if (equalsIgnoreCase(extension, "kzi"))
        return decodeKzi(bytes);
    // stb_image does not read DDS, the usual texture file of Direct3D models. Found by content, as
    // D3DX does: a PNG named .dds still loads.
    if (bytes.size() >= 4 && std::memcmp(bytes.data(), "DDS ", 4) == 0)
        return decodeDds(bytes);
    if (bytes.empty() || bytes.size() > std::size_t(INT32_MAX))
        return std::nullopt;
    const auto* data = reinterpret_cast<const stbi_uc*>(bytes.data());
    const int size = int(bytes.size());
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(data, size, &width, &height, &channels))
        return std::nullopt;
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384)
        return std::nullopt;
    stbi_uc* pixels = stbi_load_from_memory(data, size, &width, &height, &channels, 4);
    if (!pixels)
        return std::nullopt;
    Image image;
    image.width = width;
    image.height = height;
    image.rgba.assign(pixels, pixels + std::size_t(width) * height * 4);
    stbi_image_free(pixels);
    // A PSD without alpha: pure black becomes transparent.
    if (equalsIgnoreCase(extension, "psd") && channels == 3) {
        for (std::size_t i = 0; i < image.rgba.size(); i += 4) {
            const bool black = image.rgba[i] == 0 && image.rgba[i + 1] == 0 && image.rgba[i + 2] == 0;
            image.rgba[i + 3] = black ? 0 : 255;
        }
    }
    return image;
}

std::optional<Image> LoadTexture(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return std::nullopt;
    return decodeImage(std::as_bytes(std::span(raw)), extensionOf(fileNameOf(path)));
}

}  // namespace rv

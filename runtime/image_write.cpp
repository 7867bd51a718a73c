#include "runtime/image_write.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace rv {

namespace {

bool wellFormed(const Image& image) {
    return image.width > 0 && image.height > 0 &&
           image.rgba.size() == std::size_t(image.width) * std::size_t(image.height) * 4;
}

void append(void* context, void* data, int size) {
    auto* bytes = static_cast<std::vector<std::byte>*>(context);
    const auto* p = static_cast<const std::byte*>(data);
    bytes->insert(bytes->end(), p, p + size);
}

}  // namespace

std::optional<std::vector<std::byte>> encodePng(const Image& image) {
    if (!wellFormed(image))
        return std::nullopt;
    std::vector<std::byte> out;
    if (!stbi_write_png_to_func(append, &out, image.width, image.height, 4, image.rgba.data(), image.width * 4))
        return std::nullopt;
    return out;
}

std::optional<std::vector<std::byte>> encodeBmp(const Image& image) {
    if (!wellFormed(image))
        return std::nullopt;
    std::vector<std::uint8_t> rgb(std::size_t(image.width) * std::size_t(image.height) * 3);
    for (std::size_t i = 0, j = 0; j < rgb.size(); i += 4, j += 3) {
        rgb[j] = image.rgba[i];
        rgb[j + 1] = image.rgba[i + 1];
        rgb[j + 2] = image.rgba[i + 2];
    }
    std::vector<std::byte> out;
    if (!stbi_write_bmp_to_func(append, &out, image.width, image.height, 3, rgb.data()))
        return std::nullopt;
    return out;
}

}  // namespace rv

#include "runtime/image_write.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace rv {
namespace {

void append(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

std::vector<std::uint8_t> encodePng(const Image& image) {
    std::vector<std::uint8_t> out;
    if (image.width <= 0 || image.height <= 0 ||
        image.rgba.size() < std::size_t(image.width) * std::size_t(image.height) * 4)
        return out;
    if (!stbi_write_png_to_func(append, &out, image.width, image.height, 4, image.rgba.data(), image.width * 4))
        out.clear();
    return out;
}

}  // namespace rv

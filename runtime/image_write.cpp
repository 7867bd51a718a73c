#include "runtime/image_write.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace rv {

std::optional<std::vector<std::byte>> encodePng(const Image& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.rgba.size() != std::size_t(image.width) * std::size_t(image.height) * 4)
        return std::nullopt;
    std::vector<std::byte> out;
    auto append = [](void* context, void* data, int size) {
        auto* bytes = static_cast<std::vector<std::byte>*>(context);
        const auto* p = static_cast<const std::byte*>(data);
        bytes->insert(bytes->end(), p, p + size);
    };
    if (!stbi_write_png_to_func(append, &out, image.width, image.height, 4, image.rgba.data(), image.width * 4))
        return std::nullopt;
    return out;
}

}  // namespace rv

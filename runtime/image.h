// Decoded texture images. Decoding happens on the loader thread; the preview uploads them later.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace rv {

struct Image {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;  // width * height * 4, rows top to bottom
};

// Decodes BMP, JPEG, PNG, TGA, PSD, GIF, DDS (found by its "DDS " magic) and the "kzi" raw image;
// `extension` (any case) selects kzi and the PSD alpha rule. nullopt when the bytes are not a
// decodable image.
std::optional<Image> decodeImage(std::span<const std::byte> bytes, const std::string& extension);

// Reads and decodes an image file.
std::optional<Image> LoadTexture(const std::string& path);

}  // namespace rv

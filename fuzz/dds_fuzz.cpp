// Decodes arbitrary bytes as a DDS texture; a decoded image must hold exactly its pixels.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "runtime/dds.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto image = rv::decodeDds(std::as_bytes(std::span(data, size)));
    if (!image)
        return 0;
    if (image->width <= 0 || image->height <= 0 || image->width > 16384 || image->height > 16384 ||
        image->rgba.size() != std::size_t(image->width) * std::size_t(image->height) * 4)
        std::abort();
    return 0;
}

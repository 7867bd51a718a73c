#include "runtime/dds.h"

#include <squish.h>

#include <bit>
#include <cstdint>
#include <cstring>

namespace rv {
namespace {

// "DDS " followed by the 124-byte surface description; the top level's pixels follow at once.
constexpr std::size_t kMagicBytes = 4;
constexpr std::uint32_t kHeaderBytes = 124;
constexpr std::uint32_t kPixelFormatBytes = 32;
constexpr std::size_t kDataOffset = kMagicBytes + kHeaderBytes;
constexpr std::uint32_t kMaxSide = 16384;

constexpr std::uint32_t kFlagDepth = 0x800000;  // DDSD_DEPTH
constexpr std::uint32_t kPfAlphaPixels = 0x1;  // DDPF_ALPHAPIXELS
constexpr std::uint32_t kPfFourCc = 0x4;  // DDPF_FOURCC
constexpr std::uint32_t kPfRgb = 0x40;  // DDPF_RGB
constexpr std::uint32_t kCaps2Cubemap = 0x200;  // DDSCAPS2_CUBEMAP
constexpr std::uint32_t kCaps2Volume = 0x200000;  // DDSCAPS2_VOLUME

constexpr std::uint32_t fourCc(const char (&s)[5]) {
    return std::uint32_t(std::uint8_t(s[0])) | std::uint32_t(std::uint8_t(s[1])) << 8 |
           std::uint32_t(std::uint8_t(s[2])) << 16 | std::uint32_t(std::uint8_t(s[3])) << 24;
}

std::uint32_t le32(const std::byte* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

struct DdsHeader {
    std::uint32_t flags = 0, height = 0, width = 0, depth = 0;
    std::uint32_t pixelFlags = 0, fourCc = 0, bitCount = 0;
    std::uint32_t redMask = 0, greenMask = 0, blueMask = 0, alphaMask = 0;
    std::uint32_t caps2 = 0;
};

std::optional<DdsHeader> readHeader(std::span<const std::byte> bytes) {
    if (bytes.size() < kDataOffset || std::memcmp(bytes.data(), "DDS ", kMagicBytes) != 0)
        return std::nullopt;
    const std::byte* h = bytes.data() + kMagicBytes;
    if (le32(h) != kHeaderBytes || le32(h + 72) != kPixelFormatBytes)
        return std::nullopt;
    DdsHeader header;
    header.flags = le32(h + 4);
    header.height = le32(h + 8);
    header.width = le32(h + 12);
    header.depth = le32(h + 20);
    header.pixelFlags = le32(h + 76);
    header.fourCc = le32(h + 80);
    header.bitCount = le32(h + 84);
    header.redMask = le32(h + 88);
    header.greenMask = le32(h + 92);
    header.blueMask = le32(h + 96);
    header.alphaMask = le32(h + 100);
    header.caps2 = le32(h + 108);
    return header;
}

// One channel of an uncompressed pixel: where its bits sit and their largest value.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;
};

// nullopt for a mask outside the pixel or with gaps, which no Direct3D format has.
std::optional<Channel> channelOf(std::uint32_t mask, std::uint32_t bitCount) {
    if (mask == 0)
        return Channel{};
    if (bitCount < 32 && (mask >> bitCount) != 0)
        return std::nullopt;
    const int shift = std::countr_zero(mask);
    const std::uint32_t field = mask >> shift;
    if ((field & (field + 1)) != 0)
        return std::nullopt;
    return Channel{mask, shift, field};
}

std::uint8_t expand(std::uint32_t pixel, const Channel& c, std::uint8_t absent) {
    if (c.mask == 0)
        return absent;
    const std::uint64_t v = (pixel & c.mask) >> c.shift;
    return std::uint8_t((v * 255 + c.max / 2) / c.max);
}

std::optional<Image> decodeMasked(const DdsHeader& header, std::span<const std::byte> data) {
    if (header.bitCount != 24 && header.bitCount != 32)
        return std::nullopt;
    const auto red = channelOf(header.redMask, header.bitCount);
    const auto green = channelOf(header.greenMask, header.bitCount);
    const auto blue = channelOf(header.blueMask, header.bitCount);
    // Without DDPF_ALPHAPIXELS the top bits are padding (X8R8G8B8): the texture is opaque.
    const auto alpha = channelOf((header.pixelFlags & kPfAlphaPixels) ? header.alphaMask : 0, header.bitCount);
    if (!red || !green || !blue || !alpha)
        return std::nullopt;
    const std::size_t pixelBytes = header.bitCount / 8;
    const std::size_t pixels = std::size_t(header.width) * header.height;
    // Rows are packed without padding, as DirectX writes them.
    if (data.size() / pixelBytes < pixels)
        return std::nullopt;
    Image image;
    image.width = int(header.width);
    image.height = int(header.height);
    image.rgba.resize(pixels * 4);
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint32_t pixel = 0;
        std::memcpy(&pixel, data.data() + i * pixelBytes, pixelBytes);  // little-endian words
        image.rgba[i * 4 + 0] = expand(pixel, *red, 0);
        image.rgba[i * 4 + 1] = expand(pixel, *green, 0);
        image.rgba[i * 4 + 2] = expand(pixel, *blue, 0);
        image.rgba[i * 4 + 3] = expand(pixel, *alpha, 255);
    }
    return image;
}

std::optional<Image> decodeBlocks(const DdsHeader& header, std::span<const std::byte> data) {
    int flags = 0;
    std::size_t blockBytes = 16;
    if (header.fourCc == fourCc("DXT1")) {
        flags = squish::kDxt1;
        blockBytes = 8;
    } else if (header.fourCc == fourCc("DXT3")) {
        flags = squish::kDxt3;
    } else if (header.fourCc == fourCc("DXT5")) {
        flags = squish::kDxt5;
    } else {
        return std::nullopt;
    }
    // Edge blocks of a size that is not a multiple of 4 are stored whole; squish writes only the
    // pixels inside the image.
    const std::size_t blocks = std::size_t(header.width + 3) / 4 * ((header.height + 3) / 4);
    if (data.size() / blockBytes < blocks)
        return std::nullopt;
    Image image;
    image.width = int(header.width);
    image.height = int(header.height);
    image.rgba.resize(std::size_t(header.width) * header.height * 4);
    squish::DecompressImage(image.rgba.data(), image.width, image.height, data.data(), flags);
    return image;
}

}  // namespace

std::optional<Image> decodeDds(std::span<const std::byte> bytes) {
    const auto header = readHeader(bytes);
    if (!header)
        return std::nullopt;
    if (header->width == 0 || header->height == 0 || header->width > kMaxSide || header->height > kMaxSide)
        return std::nullopt;
    if ((header->caps2 & (kCaps2Cubemap | kCaps2Volume)) != 0 || ((header->flags & kFlagDepth) && header->depth > 1))
        return std::nullopt;
    const auto data = bytes.subspan(kDataOffset);
    // A DX10 header is refused with the other unknown fourCCs.
    if (header->pixelFlags & kPfFourCc)
        return decodeBlocks(*header, data);
    if (header->pixelFlags & kPfRgb)
        return decodeMasked(*header, data);
    return std::nullopt;
}

}  // namespace rv

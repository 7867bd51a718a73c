#include "preview/texture_cache.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

#include "runtime/paths.h"

namespace rv {
namespace {

std::uint32_t nextPowerOfTwo(std::uint32_t v) {
    std::uint32_t p = 1;
    while (p < v && p < (1u << 15))
        p <<= 1;
    return p;
}

// Whether every texel of the image is the same.
bool oneColour(const Image& image) {
    const std::size_t texels = std::size_t(image.width) * std::size_t(image.height);
    for (std::size_t t = 1; t < texels; ++t)
        if (std::memcmp(&image.rgba[t * 4], &image.rgba[0], 4) != 0)
            return false;
    return true;
}

}  // namespace

bool validImage(const Image& image) {
    return image.width > 0 && image.height > 0 &&
           image.rgba.size() >= std::size_t(image.width) * std::size_t(image.height) * 4;
}

Image textureImageOf(const Image& source, bool corner) {
    Image out;
    out.width = int(nextPowerOfTwo(std::uint32_t(source.width)));
    out.height = int(nextPowerOfTwo(std::uint32_t(source.height)));
    out.rgba.assign(std::size_t(out.width) * std::size_t(out.height) * 4, 0);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            int sx = x, sy = y;
            if (corner) {
                if (x >= source.width || y >= source.height)
                    continue;
            } else {
                sx = int(std::int64_t(x) * source.width / out.width);
                sy = int(std::int64_t(y) * source.height / out.height);
            }
            std::memcpy(&out.rgba[(std::size_t(y) * std::size_t(out.width) + std::size_t(x)) * 4],
                        &source.rgba[(std::size_t(sy) * std::size_t(source.width) + std::size_t(sx)) * 4], 4);
        }
    return out;
}

GLuint uploadTexture(const Image& image) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    // Rows go up top row first, so (u, v) = (0, 0) is the image's top-left texel as in Direct3D.
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, image.width, image.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 image.rgba.data());
    if (oneColour(image)) {
        // Every level of a texture of one colour (the null texture) is that colour: made here,
        // since llvmpipe compiles shaders for its first glGenerateMipmap, about 90 ms of a start.
        std::vector<std::uint8_t> level(image.rgba);
        for (int l = 1, w = image.width, h = image.height; w > 1 || h > 1; ++l) {
            w = std::max(1, w / 2);
            h = std::max(1, h / 2);
            level.resize(std::size_t(w) * std::size_t(h) * 4);
            glTexImage2D(GL_TEXTURE_2D, l, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, level.data());
        }
    } else {
        glGenerateMipmap(GL_TEXTURE_2D);
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);  // the default others expect
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    return texture;
}

void TextureCache::create() { nullTexture_ = uploadTexture(textureImageOf(nullImage_, false)); }

void TextureCache::release() {
    forgetModel();
    if (nullTexture_)
        glDeleteTextures(1, &nullTexture_);
    nullTexture_ = 0;
}

void TextureCache::forgetModel() {
    // Entries whose image was missing share the null texture, which stays.
    for (auto& [index, texture] : textures_)
        if (texture != nullTexture_)
            glDeleteTextures(1, &texture);
    textures_.clear();
}

void TextureCache::setNullImage(const Image& image) {
    if (!validImage(image))
        return;
    nullImage_ = image;
    if (!nullTexture_)
        return;
    const GLuint old = nullTexture_;
    glDeleteTextures(1, &nullTexture_);
    nullTexture_ = uploadTexture(textureImageOf(image, false));
    // Entries that fell back to the old null texture must pick up the new one.
    for (auto it = textures_.begin(); it != textures_.end();)
        it = it->second == old ? textures_.erase(it) : std::next(it);
}

GLuint TextureCache::textureFor(const Model& model, const ModelInstance& instance, int index) {
    if (auto it = textures_.find(index); it != textures_.end())
        return it->second;
    GLuint texture = nullTexture_;
    const std::size_t i = std::size_t(index);
    if (i < instance.textures.size() && validImage(instance.textures[i])) {
        const bool psd = i < model.textures.size() && equalsIgnoreCase(extensionOf(model.textures[i].fileName), "psd");
        texture = uploadTexture(textureImageOf(instance.textures[i], psd));
    }
    textures_[index] = texture;
    return texture;
}

}  // namespace rv

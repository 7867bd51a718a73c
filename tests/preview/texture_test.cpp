// Texture uploads: the levels of a one-colour texture, made without glGenerateMipmap, are the
// ones it makes.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include <epoxy/gl.h>

#include "preview/headless_device.h"
#include "preview/texture_cache.h"

namespace rv {
namespace {

std::vector<std::vector<std::uint8_t>> levelsOf(GLuint texture, int width, int height) {
    std::vector<std::vector<std::uint8_t>> levels;
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    for (int l = 0;; ++l) {
        const int w = std::max(1, width >> l), h = std::max(1, height >> l);
        std::vector<std::uint8_t> texels(std::size_t(w) * std::size_t(h) * 4);
        glGetTexImage(GL_TEXTURE_2D, l, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
        levels.push_back(std::move(texels));
        if (w == 1 && h == 1)
            break;
    }
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    return levels;
}

TEST(UploadTexture, OneColourGetsTheLevelsGenerateMipmapMakes) {
    HeadlessDevice device;
    if (!device.create(16, 16))
        GTEST_SKIP() << "no OpenGL 3.3 context can be created here (EGL surfaceless)";
    for (const auto& [w, h] : {std::pair{8, 8}, std::pair{16, 2}, std::pair{1, 4}}) {
        Image image{w, h, {}};
        for (int t = 0; t < w * h; ++t)
            image.rgba.insert(image.rgba.end(), {200, 31, 7, 129});
        const GLuint ours = uploadTexture(image);
        GLuint generated = 0;
        glGenTextures(1, &generated);
        glBindTexture(GL_TEXTURE_2D, generated);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, image.rgba.data());
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glGenerateMipmap(GL_TEXTURE_2D);
        EXPECT_EQ(levelsOf(ours, w, h), levelsOf(generated, w, h)) << w << "x" << h;
        GLuint both[] = {ours, generated};
        glDeleteTextures(2, both);
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

}  // namespace
}  // namespace rv

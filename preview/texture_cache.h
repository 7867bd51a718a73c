// The GL textures of the shown model's texture table, uploaded on first use, and the null
// texture drawn for a missing image.
#pragma once

#include <map>

#include <epoxy/gl.h>

#include "model/instance.h"
#include "model/model.h"
#include "runtime/image.h"

namespace rv {

// Whether an image holds the pixels its size promises.
bool validImage(const Image& image);

// The texel image a texture slot holds: scaled by nearest sampling to power-of-two sides, or,
// for PSD files (`corner`), placed in the top-left corner of one.
Image textureImageOf(const Image& source, bool corner);

// Uploads an image as a mipmapped, repeating, linearly filtered texture; returns its name.
GLuint uploadTexture(const Image& image);

class TextureCache {
public:
    // Uploads the null texture (context current).
    void create();
    // Deletes every texture (context current).
    void release();
    // Deletes the model's textures; the null texture stays.
    void forgetModel();

    // The image drawn for a missing one; a valid image replaces the null texture, and entries
    // that fell back to the old one pick up the new one.
    void setNullImage(const Image& image);

    // The GL texture of texture entry `index`, uploaded on first use; the null texture for a
    // missing image.
    GLuint textureFor(const Model& model, const ModelInstance& instance, int index);
    GLuint nullTexture() const { return nullTexture_; }

private:
    std::map<int, GLuint> textures_;  // by texture entry
    GLuint nullTexture_ = 0;
    Image nullImage_{1, 1, {255, 255, 255, 255}};
};

}  // namespace rv

// A framebuffer object the preview draws into, multisampled or not, with what it takes to show
// or read the frame: a blit into another framebuffer, or the pixels read back.
#pragma once

#include <epoxy/gl.h>

#include "runtime/image.h"

namespace rv {

class OffscreenTarget {
public:
    // Makes the buffers in the current context: colour RGBA8 and depth 24 with stencil 8, with
    // `samples` samples (0 for none; more than the context allows falls back to none).
    bool create(int width, int height, int samples);
    // Whether create(width, height, samples) would make what the target already has.
    bool fits(int width, int height, int samples) const;
    // Deletes the buffers; the context they were made in must be current.
    void destroy();
    // Forgets the buffers without deleting them (their context is gone).
    void abandon();

    GLuint framebuffer() const { return draw_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int samples() const { return samples_; }

    // Copies the frame into `target` (0 for the default framebuffer) of the same size.
    void blitTo(GLuint target) const;
    // The frame, rows top to bottom, RGBA.
    Image readBack() const;

private:
    GLuint draw_ = 0, colour_ = 0, depth_ = 0;
    GLuint resolve_ = 0, resolveColour_ = 0;  // single-sample copy of a multisampled frame
    int width_ = 0, height_ = 0, samples_ = 0;
};

// The most samples the current context allows.
int maxSamples();

}  // namespace rv

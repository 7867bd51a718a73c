#include "preview/offscreen_target.h"

#include <cstring>
#include <vector>

namespace rv {

int maxSamples() {
    GLint most = 0;
    glGetIntegerv(GL_MAX_SAMPLES, &most);
    return most;
}

namespace {

int samplesFor(int requested) { return requested > 0 && requested <= maxSamples() ? requested : 0; }

}  // namespace

bool OffscreenTarget::create(int width, int height, int samples) {
    destroy();
    width_ = width;
    height_ = height;
    samples_ = samplesFor(samples);
    glGenFramebuffers(1, &draw_);
    glGenRenderbuffers(1, &colour_);
    glGenRenderbuffers(1, &depth_);
    glBindFramebuffer(GL_FRAMEBUFFER, draw_);
    glBindRenderbuffer(GL_RENDERBUFFER, colour_);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples_, GL_RGBA8, width_, height_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_);
    glBindRenderbuffer(GL_RENDERBUFFER, depth_);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples_, GL_DEPTH24_STENCIL8, width_, height_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth_);
    bool ok = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (ok && samples_ > 0) {
        glGenFramebuffers(1, &resolve_);
        glGenRenderbuffers(1, &resolveColour_);
        glBindFramebuffer(GL_FRAMEBUFFER, resolve_);
        glBindRenderbuffer(GL_RENDERBUFFER, resolveColour_);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width_, height_);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, resolveColour_);
        ok = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    }
    glBindFramebuffer(GL_FRAMEBUFFER, draw_);
    return ok;
}

bool OffscreenTarget::fits(int width, int height, int samples) const {
    return draw_ != 0 && width == width_ && height == height_ && samplesFor(samples) == samples_;
}

void OffscreenTarget::destroy() {
    if (!draw_)
        return;
    GLuint framebuffers[] = {draw_, resolve_};
    GLuint renderbuffers[] = {colour_, depth_, resolveColour_};
    glDeleteFramebuffers(2, framebuffers);
    glDeleteRenderbuffers(3, renderbuffers);
    abandon();
}

void OffscreenTarget::abandon() { draw_ = colour_ = depth_ = resolve_ = resolveColour_ = 0; }

void OffscreenTarget::blitTo(GLuint target) const {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, draw_);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target);
    glBlitFramebuffer(0, 0, width_, height_, 0, 0, width_, height_, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, target);
}

Image OffscreenTarget::readBack() const {
    Image image;
    if (!draw_)
        return image;
    if (samples_ > 0)
        blitTo(resolve_);
    image.width = width_;
    image.height = height_;
    image.rgba.resize(std::size_t(width_) * std::size_t(height_) * 4);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, samples_ > 0 ? resolve_ : draw_);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    std::vector<std::uint8_t> rows(image.rgba.size());
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    // GL rows come bottom-up.
    const std::size_t stride = std::size_t(width_) * 4;
    for (int y = 0; y < height_; ++y)
        std::memcpy(&image.rgba[std::size_t(y) * stride], &rows[std::size_t(height_ - 1 - y) * stride], stride);
    glBindFramebuffer(GL_FRAMEBUFFER, draw_);
    return image;
}

}  // namespace rv

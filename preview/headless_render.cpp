#include "preview/headless_render.h"

#include <algorithm>

#include "preview/headless_device.h"
#include "preview/session.h"
#include "runtime/library.h"

namespace rv {
namespace {

// Drawn over a transparent clear, edges and translucent faces hold colour premultiplied by their
// alpha; a PNG wants it straight.
void unpremultiply(Image& image) {
    for (std::size_t i = 0; i + 3 < image.rgba.size(); i += 4) {
        const unsigned a = image.rgba[i + 3];
        if (a == 0 || a == 255)
            continue;
        for (std::size_t c = 0; c < 3; ++c)
            image.rgba[i + c] = std::uint8_t(std::min(255u, (image.rgba[i + c] * 255u + a / 2) / a));
    }
}

}  // namespace

std::optional<Image> renderHeadless(Model* model, ModelInstance* instance, const HeadlessRenderOptions& options) {
    HeadlessDevice device;
    LibOptions lib;
    lib.width = options.width;
    lib.height = options.height;
    lib.enterDataFolder = false;  // the caller's relative paths stay valid
    // The library state is the process's; what this render sets is undone when it ends.
    struct Restore {
        ~Restore() { resetLibraryState(); }
    } restore;
    if (!LibInit(device, lib))
        return std::nullopt;
    SetClearColour(options.clearColour[0], options.clearColour[1], options.clearColour[2]);
    rv::lib().shaderMode = options.shaderMode;
    rv::lib().postEffect = options.postEffect;
    rv::lib().bloomOn = options.bloom;

    std::optional<Image> image;
    {
        PreviewSession session(device);
        if (!session.ready())
            return std::nullopt;
        session.settings.grid = options.grid;
        session.settings.transparentClear = options.transparentClear;
        if (options.yaw)
            session.camera.yaw = *options.yaw;
        if (options.pitch)
            session.camera.pitch = *options.pitch;
        if (options.zoom)
            session.camera.zoom = *options.zoom;
        session.show(model, instance);
        if (options.fit)
            session.fit();
        // A fixed frame clock: the same input draws the same frames.
        double now = 1.0;
        for (int frame = 0; frame < std::max(options.frames, 1); ++frame) {
            now += 1.0 / 60.0;
            session.pass(now, device.framebuffer());
        }
        image = device.readBack();
        if (options.transparentClear)
            unpremultiply(*image);
        session.show(nullptr, nullptr);
    }
    return image;
}

}  // namespace rv

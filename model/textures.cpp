#include "model/textures.h"

#include "model/registry.h"
#include "runtime/image.h"
#include "runtime/log.h"
#include "runtime/paths.h"

namespace rv {

bool LoadModelTexture(int slot, Model& model, int entry, const std::string& name) {
    if (entry < 0 || entry > kMaxTextureNumber || std::size_t(entry) >= model.textures.size())
        return false;
    ModelTexture& texture = model.textures[entry];
    texture.width = 0;
    texture.height = 0;
    std::optional<Image> image;
    if (const auto path = resolveModelFile(model.folder, name))
        image = LoadTexture(*path);
    if (!image) {
        LogLine("*** ERROR *** %s Loadできませんでした。", name.c_str());
        return false;
    }
    texture.width = image->width;
    texture.height = image->height;
    if (ModelInstance* inst = registry().instance(slot)) {
        if (inst->textures.size() <= std::size_t(entry))
            inst->textures.resize(std::size_t(entry) + 1);
        inst->textures[entry] = std::move(*image);
    }
    return true;
}

}  // namespace rv

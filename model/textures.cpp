#include "model/textures.h"

#include "runtime/log.h"
#include "runtime/paths.h"

namespace rv {

bool LoadModelTexture(Model& model, int entry, const std::string& name, std::vector<Image>& images) {
    if (entry < 0 || entry > kMaxTextureNumber || std::size_t(entry) >= model.textures.size())
        return false;
    ModelTexture& texture = model.textures[std::size_t(entry)];
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
    if (images.size() <= std::size_t(entry))
        images.resize(std::size_t(entry) + 1);
    images[std::size_t(entry)] = std::move(*image);
    return true;
}

}  // namespace rv

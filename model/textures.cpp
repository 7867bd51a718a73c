#include "model/textures.h"

#include <algorithm>

#include "runtime/log.h"
#include "runtime/paths.h"

namespace rv {

const EmbeddedImage* findEmbeddedImage(const Model& model, std::string_view name) {
    for (const EmbeddedImage& image : model.embeddedImages)
        if (image.name == name)
            return &image;
    for (const EmbeddedImage& image : model.embeddedImages)
        if (equalsIgnoreCase(image.name, name))
            return &image;
    return nullptr;
}

bool LoadModelTexture(Model& model, int entry, const std::string& name, std::vector<Image>& images) {
    if (entry < 0 || entry > kMaxTextureNumber || std::size_t(entry) >= model.textures.size())
        return false;
    ModelTexture& texture = model.textures[std::size_t(entry)];
    texture.width = 0;
    texture.height = 0;
    std::optional<Image> image;
    // An image the model carries wins over a file of the same name beside it.
    if (const EmbeddedImage* embedded = findEmbeddedImage(model, name))
        image = decodeImage(embedded->bytes, extensionOf(embedded->name));
    else if (const auto path = resolveModelFile(model.folder, name))
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

const std::string& textureLookupName(const ModelTexture& texture) {
    return texture.folder.empty() ? texture.fileName : texture.relativePath;
}

std::vector<std::string> loadModelTextures(Model& model, const TextureLoad& load) {
    std::vector<std::string> missing;
    for (std::size_t i = 0; i < model.textures.size(); ++i) {
        if (model.textures[i].kind != 1)
            continue;
        // A copy: the loader may write to the entry the name lives in.
        const std::string name = textureLookupName(model.textures[i]);
        if (!load(model, int(i), name) && std::find(missing.begin(), missing.end(), name) == missing.end())
            missing.push_back(name);
    }
    return missing;
}

std::vector<std::string> loadModelTextures(Model& model, std::vector<Image>& images) {
    return loadModelTextures(model, [&images](Model& m, int entry, const std::string& name) {
        return LoadModelTexture(m, entry, name, images);
    });
}

}  // namespace rv

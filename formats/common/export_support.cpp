#include "formats/common/export_support.h"

#include <algorithm>

#include "model/textures.h"
#include "runtime/paths.h"

namespace rv {

std::string exportText(std::string_view sjis) {
    if (auto utf8 = sjisToUtf8(sjis))
        return *utf8;
    std::string out;
    for (unsigned char c : sjis)
        out += c < 0x80 ? char(c) : '?';
    return out;
}

const ModelTexture* groupTexture(const Model& model, const ModelGroup& group) {
    if (group.textured == 0 || group.textureIndex <= 0 || std::size_t(group.textureIndex) >= model.textures.size())
        return nullptr;
    const ModelTexture& texture = model.textures[std::size_t(group.textureIndex)];
    return texture.kind != 0 && !texture.fileName.empty() ? &texture : nullptr;
}

std::optional<std::string> textureFile(const Model& model, const ModelTexture& texture) {
    // As the readers load it: the sub-folder joined to the name when there is one.
    return resolveModelFile(model.folder, texture.folder.empty() ? texture.fileName : texture.relativePath);
}

const EmbeddedImage* embeddedImageOf(const Model& model, const ModelTexture& texture) {
    return findEmbeddedImage(model, textureLookupName(texture));
}

std::string sideFileName(std::string_view stored) {
    std::string name = sjisToUtf8(stored).value_or(std::string(stored));
    if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos ||
        name.find('\0') != std::string::npos)
        return {};
    return name;
}

float tintedComponent(float color, float tint) {
    const float v = (color / 255.0f) * (tint / 255.0f);
    return v > 0 ? std::min(v, 1.0f) : 0.0f;  // NaN too becomes 0
}

}  // namespace rv

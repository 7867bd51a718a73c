// Texture loading after a reader has run: decodes the images a model names into the images that
// travel with the load result.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"
#include "runtime/image.h"

namespace rv {

// The image stored inside the model under `name`: the same name, else the first one equal to it
// without regard to ASCII case; null when there is none.
const EmbeddedImage* findEmbeddedImage(const Model& model, std::string_view name);

// Loads image `name` into `images[entry]`, storing its size in model.textures[entry]: from the
// model's embedded image of that name when it has one, else from the file resolved against the
// model's folder ('\' separators, Shift-JIS names, other case, then the bare name). An entry
// above 255 is ignored. A missing or undecodable image is only a log line; false then.
bool LoadModelTexture(Model& model, int entry, const std::string& name, std::vector<Image>& images);

// The name an image entry is looked up by: its file name, or its relative path when the entry
// keeps a folder of its own.
const std::string& textureLookupName(const ModelTexture& texture);

// Loads texture entry `entry` of `model` from `name`; true when it loaded.
using TextureLoad = std::function<bool(Model& model, int entry, const std::string& name)>;
// Loads every image entry (kind 1) of `model` in entry order through `load`. Returns the names
// that did not load, each once, in the order they first failed.
std::vector<std::string> loadModelTextures(Model& model, const TextureLoad& load);
// The same through LoadModelTexture into `images`.
std::vector<std::string> loadModelTextures(Model& model, std::vector<Image>& images);

}  // namespace rv

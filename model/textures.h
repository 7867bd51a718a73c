// Texture loading for readers: decodes an image named inside a model into the images that travel
// with the load result.
#pragma once

#include <string>
#include <vector>

#include "model/model.h"
#include "runtime/image.h"

namespace rv {

// Loads image `name` (resolved against the model's folder: '\' separators, Shift-JIS names,
// other case, then the bare name) into `images[entry]`, storing its size in
// model.textures[entry]. An entry above 255 is ignored. A missing or undecodable image is only a
// log line; false then.
bool LoadModelTexture(Model& model, int entry, const std::string& name, std::vector<Image>& images);

}  // namespace rv

// Texture loading for readers: decodes an image named inside a model into the slot's instance.
#pragma once

#include <string>

#include "model/model.h"

namespace rv {

// Loads image `name` (resolved against the model's folder: '\' separators, Shift-JIS names,
// other case) into texture `entry` of slot `slot`, storing its size in model.textures[entry].
// An entry above 255 is ignored. A missing or undecodable image is only a log line; false then.
bool LoadModelTexture(int slot, Model& model, int entry, const std::string& name);

}  // namespace rv

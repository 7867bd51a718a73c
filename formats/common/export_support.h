// What the writers for today's tools (glTF, OBJ) share: UTF-8 names, the texture a group is drawn
// with and the file behind it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "model/model.h"

namespace rv {

// Shift-JIS text as UTF-8; bytes that do not convert become '?', so the result is always UTF-8.
std::string exportText(std::string_view sjis);

// The texture entry a group is drawn with: `textured` set and `textureIndex` naming an image entry;
// null when the group is drawn with its colour.
const ModelTexture* groupTexture(const Model& model, const ModelGroup& group);

// The file behind a texture entry, found beside the model as the readers find it; nullopt when it
// is not there.
std::optional<std::string> textureFile(const Model& model, const ModelTexture& texture);

// The image stored inside the model that a texture entry names (a glTF's embedded image); null
// when the entry names a file.
const EmbeddedImage* embeddedImageOf(const Model& model, const ModelTexture& texture);

// The name a file named inside a model (an embedded image, a texture an output names) takes on
// disk beside an output: in UTF-8, converted from Shift-JIS where it converts, as the readers look
// for it; empty when it is no plain file name (empty, "." or "..", or holding a separator), so
// that nothing is written outside the output's folder.
std::string sideFileName(std::string_view name);

// A group colour times the model's tint, each on 0..255, as a 0..1 component (clamped).
float tintedComponent(float color, float tint);

}  // namespace rv

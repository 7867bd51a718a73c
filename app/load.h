// Loading a model file: the bytes read once, the reader run, textures decoded, post-load done.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/format_table.h"
#include "model/instance.h"
#include "model/model.h"

namespace rv {

// A model read from a file with its instance, for whoever asked for it.
struct LoadResult {
    std::unique_ptr<Model> model;  // null when the file could not be read
    ModelInstance instance;
    std::optional<FormatError> error;  // why not; `file` names the file as the user did
    std::vector<std::string> warnings;
};

// Turns a path into a load result: the file read once, the reader chosen by extension and run
// into a fresh model, its textures decoded into the result, the post-load processing done. An
// extension that is none of the seven loads an empty model. Errors name the file as `path` does;
// the model's fileName is the name without its folder. Touches no registry and shows nothing.
LoadResult loadModelFile(const std::string& path);

// A loaded model to show or write, or why there is none.
struct LoadOutcome {
    Model* model = nullptr;
    ModelInstance* instance = nullptr;  // where the window installed it, the preview's state for it
    std::optional<FormatError> error;
    std::vector<std::string> warnings;
};

}  // namespace rv

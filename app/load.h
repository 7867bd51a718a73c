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

// What a load does beyond reading.
struct LoadOptions {
    bool simplify = false;  // a model over the limits is reduced to fit rather than refused
};

// A model read from a file with its instance, for whoever asked for it.
struct LoadResult {
    std::unique_ptr<Model> model;  // null when the file could not be read
    ModelInstance instance;
    std::optional<FormatError> error;  // why not; `file` names the file as the user did
    std::vector<std::string> warnings;
    bool overLimits = false;  // refused as over the limits without simplify: a load with it may fit
};

// Turns a path into a load result: the file read once, the reader chosen by extension and run
// into a fresh model, its textures decoded into the result, the post-load processing done. An
// extension that is none of the seven loads an empty model. Errors name the file as `path` does;
// the model's fileName is the name without its folder. A model over the limits (the glTF and OBJ
// readers read past them) is refused, or with `options.simplify` reduced to fit. Touches no
// registry and shows nothing.
LoadResult loadModelFile(const std::string& path, const LoadOptions& options = {});

// The refusal of a model just read from `path` that is over the limits ("FILE: 200,000 polygons;
// a model holds at most 65,000"), or none. With `simplify` the model is reduced to fit first and
// `warnings` gains the line that says so ("FILE: simplified from 200,000 to 63,700 polygons
// (error 2.1e-05)"); the refusal then says that even the reduced model is over.
std::optional<FormatError> fitToLimits(Model& model, const std::string& path, bool simplify,
                                       std::vector<std::string>& warnings);

// A loaded model to show or write, or why there is none.
struct LoadOutcome {
    Model* model = nullptr;
    ModelInstance* instance = nullptr;  // where the window installed it, the preview's state for it
    std::optional<FormatError> error;
    std::vector<std::string> warnings;
    bool overLimits = false;  // as LoadResult's
};

}  // namespace rv

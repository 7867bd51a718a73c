#include "app/current_model.h"

#include "app/format_table.h"
#include "formats/common/file_io.h"
#include "runtime/log.h"

namespace rv {

PathLoad beginLoadByPath(const std::string& path, const LoadOptions& options, bool forPreview) {
    PathLoad load;
    load.path = path;
    ModelRegistry& reg = registry();
    reg.requestRelease(0);
    reg.collect();
    // Refused before anything is queued, as a file that cannot be opened always was.
    if (auto refused = checkInputFile(path)) {
        LogLine("%s を開くことができませんでした。", path.c_str());
        load.refused = FormatError::refusal(*refused);
        load.refused->file = path;
        return load;
    }
    load.result = std::make_shared<LoadResult>();
    if (forPreview)
        load.preparation = std::make_shared<ModelPreparation>();
    load.pending = reg.beginLoad([path, options, result = load.result, preparation = load.preparation] {
        *result = loadModelFile(path, options);
        if (preparation && result->model)
            *preparation = prepareForDrawing(*result->model, result->instance);
        LoadedModel loaded;
        loaded.model = std::move(result->model);
        loaded.instance = std::move(result->instance);
        return loaded;
    });
    return load;
}

std::optional<PathLoad> beginStartFileLoad(const std::vector<std::string>& arguments) {
    for (const std::string& path : arguments)
        if (readerForName(path))
            return beginLoadByPath(path, LoadOptions{}, true);
    return std::nullopt;
}

LoadOutcome finishLoadByPath(PathLoad& load, bool showMessages) {
    LoadOutcome outcome;
    if (load.refused) {
        outcome.error = std::move(load.refused);
        return outcome;
    }
    ModelRegistry& reg = registry();
    SlotLoad done = reg.finishLoad(load.pending);
    // The loader has finished with the request: its result is ours to read.
    std::optional<FormatError> error = std::move(load.result->error);
    outcome.warnings = std::move(load.result->warnings);
    outcome.overLimits = load.result->overLimits;
    if (!error && !done.failure.empty())
        error = FormatError::refusal(done.failure);
    if (showMessages && error && error->userMessage)
        ShowMessage(load.path, error->reason);
    outcome.error = std::move(error);
    if (done.slot >= 0) {
        outcome.model = reg.get(done.slot);
        outcome.instance = reg.instance(done.slot);
    }
    return outcome;
}

const Model* currentModel() { return registry().isLoaded(0) ? registry().get(0) : nullptr; }

}  // namespace rv

// The window's current model (slot 0): a file loaded on the background loader and installed there.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/load.h"
#include "model/registry.h"
#include "preview/prepare.h"

namespace rv {

// Loads a file into the current model (slot 0) in two halves, for a window that keeps drawing
// while the loader works. The first releases the current model at once (whoever draws it must let go of it before), checks the
// file and queues the load; the second waits when it has not finished and installs the result.
struct PathLoad {
    std::string path;
    PendingLoad pending;
    std::shared_ptr<LoadResult> result;  // filled on the loader; its model goes to the slot
    std::optional<FormatError> refused;  // the file could not be read: nothing was queued
    // Made on the loader after the model when asked for, so that the preview's first frame of it
    // only uploads; empty (path -1) when the model did not load.
    std::shared_ptr<ModelPreparation> preparation;
    bool ready() const { return refused || pending.ready(); }
};
PathLoad beginLoadByPath(const std::string& path, const LoadOptions& options = {}, bool forPreview = false);
// The load of the first of `arguments` that names a format we read, begun for the preview; none
// when no argument does. A file manager passes every file the user opened with us, of any
// format; the rest are ignored.
std::optional<PathLoad> beginStartFileLoad(const std::vector<std::string>& arguments);
// A message the reader meant for the user is shown unless `showMessages` is false (a batch
// gathers them into one message at its end).
LoadOutcome finishLoadByPath(PathLoad& load, bool showMessages = true);

// The current model, null when there is none.
const Model* currentModel();

}  // namespace rv

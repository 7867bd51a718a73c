// The conversion driver: a path into a load result, a model into a file of the chosen target,
// the current model (slot 0) for the window, and the batch conversion of dropped files.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/format_table.h"
#include "formats/common/format_io.h"
#include "model/instance.h"
#include "model/model.h"
#include "model/registry.h"

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

// A model to write, or why there is none.
struct LoadOutcome {
    const Model* model = nullptr;
    std::optional<FormatError> error;
    std::vector<std::string> warnings;
};

// Loads a file into the current model (slot 0) through the background loader, replacing it.
// User messages are shown and failures logged here.
LoadOutcome loadByPath(const std::string& path);
// loadByPath in two halves, for a window that keeps drawing while the loader works. The first
// releases the current model at once (whoever draws it must let go of it before), checks the
// file and queues the load; the second waits when it has not finished and installs the result.
struct PathLoad {
    std::string path;
    PendingLoad pending;
    std::shared_ptr<LoadResult> result;  // filled on the loader; its model goes to the slot
    std::optional<FormatError> refused;  // the file could not be read: nothing was queued
    bool ready() const { return refused || pending.ready(); }
};
PathLoad beginLoadByPath(const std::string& path);
// A message the reader meant for the user is shown unless `showMessages` is false (a batch
// gathers them into one message at its end).
LoadOutcome finishLoadByPath(PathLoad& load, bool showMessages = true);

// The current model, null when there is none.
const Model* currentModel();

struct SaveOutcome {
    bool ok = false;
    std::string error;
    std::vector<std::string> warnings;
};
// One line naming what writing `model` as `target` to `outputPath` drops ("a.LWO: textures and
// normals are not kept by LWOB; 5 groups become 3 surfaces"); empty when nothing is lost.
std::string lossWarning(const Model& model, ConversionTarget target, const std::string& outputPath);

// True when `output` exists and is the very file `source` is (same device and inode, links
// followed), whatever the spelling of either path.
bool isSameFile(const std::string& source, const std::string& output);
// The report's error for a source whose output would be the source itself.
std::string replacesSourceError(const std::string& source);

// Writes a model with the target's writer, through temporary files: the output and the files that
// come with it (a .gltf's .bin, an .obj's .mtl and textures) all appear, or none changes.
SaveOutcome saveModel(const Model& model, ConversionTarget target, const std::string& outputPath);
// Writes the current model; nothing is written when there is none.
SaveOutcome saveCurrent(ConversionTarget target, const std::string& outputPath);

// The batch output name: the source with its last extension removed plus the target's extension
// (".KZP", ".LWO", ".MX", ".X", ".glb", ".gltf", ".obj"), beside the source or in `outDir` when given.
std::string outputPathFor(const std::string& source, ConversionTarget target, const std::string& outDir = {});

struct ConvertOptions {
    ConversionTarget target = ConversionTarget::Kzp;
    std::string outDir;                  // empty: beside the source
};
struct ConvertReport {
    std::string source, output;
    bool ok = false;
    std::string error;
    std::vector<std::string> warnings;
    bool nothingRead = false;  // the file loaded but held no polygons
    bool skipped = false;      // not a model file: nothing was read or written
};
// Writes a loaded model to report.output with the target's writer and fills in the report.
void writeConverted(const Model& model, ConversionTarget target, ConvertReport& report);
using ConvertProgress = std::function<void(std::size_t done, std::size_t total, const ConvertReport& report)>;
// Where a batch takes each model from.
using ModelSource = std::function<LoadOutcome(const std::string& path)>;

// Converts each file in the order given, one at a time; a failed file does not stop the batch. A
// file that is none of the seven formats, or whose output would be the file itself, is refused.
std::vector<ConvertReport> convertFiles(const std::vector<std::string>& files, const ConvertOptions& options,
                                        const ModelSource& source, const ConvertProgress& progress = {});
// The window's batch: each file through the current model.
std::vector<ConvertReport> convertDropped(const std::vector<std::string>& files, const ConvertOptions& options,
                                          const ConvertProgress& progress = {});

struct OverlayLine {
    int x = 0;
    int y = 0;            // from the top, or from the bottom when fromBottom is set
    bool fromBottom = false;
    std::string text;     // UTF-8
};
// The information overlay: the four model lines while a model is current, and the two help lines.
std::vector<OverlayLine> overlayLines(const Model* model);

}  // namespace rv

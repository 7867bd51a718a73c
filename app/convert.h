// Converting: output names, the same-file rule, the writer through an atomic write, what a target
// drops, and batches of files. The CLI, the window's saves and its drop batch all write here.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/format_table.h"
#include "app/load.h"
#include "model/model.h"

namespace rv {

struct SaveOutcome {
    bool ok = false;
    std::optional<FormatError> error;  // why not: the writer's refusal or the file system's
    std::vector<std::string> warnings;
};
// One line naming what writing `model` as `target` to `outputPath` drops ("a.LWO: textures and
// normals are not kept by LWOB; 5 groups become 3 surfaces"); empty when nothing is lost.
std::string lossWarning(const Model& model, ConversionTarget target, const std::string& outputPath);

// True when `output` exists and is the very file `source` is (same device and inode, links
// followed), whatever the spelling of either path.
bool isSameFile(const std::string& source, const std::string& output);
// The one wording of an error for the log, a message box or stderr: "FILE: reason"; empty when
// there is none.
std::string errorText(const std::optional<FormatError>& error);

// How a target writes, where it can write more than one way.
struct SaveOptions {
    XForm xForm = XForm::Binary;
};
// Writes a model with the target's writer, through temporary files: the output and the files that
// come with it (a .gltf's .bin, an .obj's .mtl and textures) all appear, or none changes.
SaveOutcome saveModel(const Model& model, ConversionTarget target, const std::string& outputPath,
                      const SaveOptions& options = {});

// The batch output name: the source with its last extension removed plus the target's extension
// (".KZP", ".LWO", ".MX", ".X", ".glb", ".gltf", ".obj"), beside the source or in `outDir` when given.
std::string outputPathFor(const std::string& source, ConversionTarget target, const std::string& outDir = {});

struct ConvertOptions {
    ConversionTarget target = ConversionTarget::Kzp;
    std::string outDir;  // empty: beside the source
    SaveOptions save;
};
struct ConvertReport {
    std::string source, output;
    bool ok = false;
    std::optional<FormatError> error;
    std::vector<std::string> warnings;
    bool nothingRead = false;  // the file loaded but held no polygons
    bool skipped = false;  // not a model file: nothing was read or written
    bool overLimits = false;  // refused as over the limits; simplifying may fit it
};
// Why `file` is not even read for a conversion to `output`: it is none of the formats read, or
// the output would be the file itself. Nullopt when it may go ahead.
std::optional<FormatError> refusalBeforeLoading(const std::string& file, const std::string& output);
// Finishes the conversion of report.source once it has been loaded: writes the model to `output`
// with the target's writer, or reports why there was nothing to write.
void convertLoaded(LoadOutcome loaded, ConversionTarget target, const std::string& output, ConvertReport& report,
                   const SaveOptions& options = {});
using ConvertProgress = std::function<void(std::size_t done, std::size_t total, const ConvertReport& report)>;
// Where a batch takes each model from.
using ModelSource = std::function<LoadOutcome(const std::string& path)>;

// Converts each file in the order given, one at a time; a failed file does not stop the batch. A
// file that is none of the formats read, or whose output would be the file itself, is refused.
std::vector<ConvertReport> convertFiles(const std::vector<std::string>& files, const ConvertOptions& options,
                                        const ModelSource& source, const ConvertProgress& progress = {});

}  // namespace rv

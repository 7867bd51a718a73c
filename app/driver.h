// The conversion driver: a path into the current model (slot 0), the current model into a file of
// the chosen target, and the batch conversion of dropped files.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "formats/common/format_io.h"
#include "model/model.h"

namespace rv {

enum class ConversionTarget { Kzp = 0, Lwo = 1, Mx = 2, X = 3 };

struct ReaderEntry {
    const char* extension;  // matched without regard to case, in table order
    ReadFn read;
};
struct WriterEntry {
    ConversionTarget target;
    const char* extension;  // of the output: "KZP", "LWO", "MX", "X"
    WriteFn write;
};

// The readers, in the order extensions are compared.
const std::vector<ReaderEntry>& readerTable();
const WriterEntry& writerFor(ConversionTarget target);
// The reader for a file name's extension, or null when it is none of the seven.
const ReaderEntry* readerForName(const std::string& name);
// Parses "kzp", "lwo", "mx" or "x" (any case).
bool parseTarget(const std::string& text, ConversionTarget& target);

// Installs the load dispatch into the registry's loader (once per process; idempotent).
void installLoadDispatch();

// Run by the loader for one request: reads the file at `path` into the slot's model and runs the
// post-load processing. Returns the slot, or -1 when the file cannot be read or its reader
// refuses it (the reason is kept in the slot's instance and logged).
int loadDispatch(int slot, const std::string& path);

struct LoadOutcome {
    Model* model = nullptr;              // the current model (slot 0), null when none resulted
    std::string error;                   // why not, when model is null
    std::vector<std::string> warnings;   // reader warnings
};
// Loads a file into the current model, replacing it.
LoadOutcome loadByPath(const std::string& path);

struct SaveOutcome {
    bool ok = false;
    std::string error;
    std::vector<std::string> warnings;
};
// Writes the current model (slot 0) with the target's writer, through a temporary file.
SaveOutcome saveCurrent(ConversionTarget target, const std::string& outputPath);
// Writes any model with the target's writer, through a temporary file.
SaveOutcome saveModel(Model& model, ConversionTarget target, const std::string& outputPath);

// The batch output name: the source with its last extension removed plus ".KZP", ".LWO", ".MX" or
// ".X", beside the source or in `outDir` when given.
std::string outputPathFor(const std::string& source, ConversionTarget target, const std::string& outDir = {});

struct ConvertOptions {
    ConversionTarget target = ConversionTarget::Kzp;
    std::string outDir;                  // empty: beside the source
    bool refuseUnknownExtension = false; // the CLI refuses; the GUI converts an empty model
};
struct ConvertReport {
    std::string source, output;
    bool ok = false;
    std::string error;
    std::vector<std::string> warnings;
};
using ConvertProgress = std::function<void(std::size_t done, std::size_t total, const ConvertReport& report)>;

// Converts each file in the order given, one at a time; a failed file does not stop the batch.
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

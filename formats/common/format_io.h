// The contract between the conversion driver and every reader and writer.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/common/file_io.h"
#include "formats/common/format_error.h"
#include "model/model.h"

namespace rv {

// Loads the image `name` (as stored in the model file: may hold '\', Shift-JIS, other case) into
// texture entry `entry` of `model`, storing its width and height in the entry. False when the
// image is missing or cannot be decoded (only a log line); true when it loaded.
using TextureLoader = std::function<bool(Model& model, int entry, const std::string& name)>;

struct ReadContext {
    std::string path;           // the file as the user named it, for messages
    TextureLoader loadTexture;  // empty in fuzzing and most tests: textures then stay unloaded
    std::vector<std::string> warnings;

    bool texture(Model& model, int entry, const std::string& name) {
        return loadTexture ? loadTexture(model, entry, name) : false;
    }
    // Logs a line and keeps it for the CLI, which prints it as a warning.
    void warn(std::string line);
};

struct WriteContext {
    std::vector<std::byte> bytes;       // the whole output file
    std::vector<std::string> warnings;  // printed by the CLI, logged by the GUI
    // For writers of several files: where `bytes` will go (the others are named after it), and
    // the files that belong with it, written together with it or not at all.
    std::string outputPath;
    std::vector<OutputFile> sideFiles;
};

// `model` arrives freshly reset, with folder, fileName and path set. On error its contents are
// discarded by the caller.
using ReadFn = std::optional<FormatError> (*)(std::span<const std::byte> file, Model& model, ReadContext& ctx);
// Serialises the model into ctx.bytes; writing the file is the caller's job.
using WriteFn = std::optional<FormatError> (*)(const Model& model, WriteContext& ctx);

}  // namespace rv

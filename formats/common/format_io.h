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

// Readers fill the model's texture entries (kind, name) and load no image: the caller decodes
// them once the reader has returned.
struct ReadContext {
    std::string path;  // the file as the user named it, for messages
    std::vector<std::string> warnings;
    // The bytes of a file that belongs to the model (a glTF buffer, an OBJ material library),
    // named relative to the model's folder, read by the caller with the same bounds as the model
    // file; nullopt with the reason in `why` when it cannot be read. Null: there are none.
    std::function<std::optional<std::vector<std::byte>>(const std::string& name, std::string& why)> companion;

    // Logs a line and keeps it for the CLI, which prints it as a warning.
    void warn(std::string line);
};

// The encodings of a DirectX .x file: "xof 0303bin 0032", "xof 0303txt 0032" and MSZIP-compressed
// binary, "xof 0303bzip0032".
enum class XForm { Binary, Text, Compressed };

struct WriteContext {
    std::vector<std::byte> bytes;  // the whole output file
    std::vector<std::string> warnings;  // printed by the CLI, logged by the GUI
    // For writers of several files: where `bytes` will go (the others are named after it), and
    // the files that belong with it, written together with it or not at all.
    std::string outputPath;
    std::vector<OutputFile> sideFiles;
    // The image files the output names for the reader to find beside it (KZP, X, MX): the texture
    // entry and the name a reader of the output looks for. The driver writes there the images the
    // model carries inside it.
    struct NamedImage {
        int entry = 0;
        std::string fileName;
    };
    std::vector<NamedImage> namedImages;
    XForm xForm = XForm::Binary;  // the .x writer's encoding
};

// `model` arrives freshly reset, with folder, fileName and path set. On error its contents are
// discarded by the caller.
using ReadFn = std::optional<FormatError> (*)(std::span<const std::byte> file, Model& model, ReadContext& ctx);
// Serialises the model into ctx.bytes; writing the file is the caller's job.
using WriteFn = std::optional<FormatError> (*)(const Model& model, WriteContext& ctx);

}  // namespace rv

#include "app/convert.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "formats/common/export_support.h"
#include "formats/common/file_io.h"
#include "formats/lwo/lwo.h"
#include "runtime/image.h"
#include "runtime/image_write.h"
#include "runtime/log.h"
#include "runtime/paths.h"

namespace rv {

namespace {

// "a, b and c".
std::string listed(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return text;
}

// The report's error for a source whose output would be the source itself.
FormatError replacesSourceError(const std::string& source) {
    FormatError error = FormatError::refusal("not converted: the output would replace the source file");
    error.file = source;
    return error;
}

// Why a load gave no model, naming `file` when the loader did not.
FormatError loadFailure(const LoadOutcome& loaded, const std::string& file) {
    if (loaded.error)
        return *loaded.error;
    FormatError error = FormatError::refusal("no model was loaded");
    error.file = file;
    return error;
}

// The images the model carries that the output names (ctx.namedImages), as files beside the
// output: only images a group is drawn with, each once under the name the output gives it, made
// over into a BMP where that name asks for one (an MX names .bmp files).
std::vector<OutputFile> embeddedCompanions(const Model& model, const WriteContext& ctx,
                                           std::vector<std::string>& warnings) {
    std::vector<OutputFile> files;
    if (model.embeddedImages.empty())
        return files;
    std::set<int> used;
    for (const ModelGroup& group : model.groups)
        if (groupTexture(model, group))
            used.insert(group.textureIndex);
    const std::string folder = directoryOf(ctx.outputPath);
    for (const WriteContext::NamedImage& named : ctx.namedImages) {
        if (!used.count(named.entry) || std::size_t(named.entry) >= model.textures.size())
            continue;
        const EmbeddedImage* image = embeddedImageOf(model, model.textures[std::size_t(named.entry)]);
        if (!image)
            continue;
        const std::string name = sideFileName(named.fileName);
        if (name.empty()) {
            warnings.push_back(ctx.outputPath + ": texture " + exportText(named.fileName) +
                               " is no plain file name; its image is not written beside the output");
            continue;
        }
        const std::string path = folder.empty() ? name : joinPath(folder, name);
        if (std::any_of(files.begin(), files.end(), [&](const OutputFile& f) { return f.path == path; }))
            continue;  // two entries named alike (an MX cuts long names): the first image is kept
        std::optional<std::vector<std::byte>> bytes = image->bytes;
        const std::string want = toLower(extensionOf(name));
        if (want == "bmp" && toLower(extensionOf(image->name)) != "bmp") {
            bytes.reset();
            if (const auto decoded = decodeImage(image->bytes, extensionOf(image->name)))
                bytes = encodeBmp(*decoded);
        }
        if (!bytes) {
            warnings.push_back(ctx.outputPath + ": texture " + exportText(image->name) + " could not be decoded; " +
                               name + " is not written beside the output");
            continue;
        }
        files.push_back({path, std::move(*bytes)});
    }
    return files;
}

}  // namespace

std::string lossWarning(const Model& model, ConversionTarget target, const std::string& outputPath) {
    const WriterEntry& writer = writerFor(target);
    std::vector<std::string> lost;
    const bool textured = std::any_of(model.groups.begin(), model.groups.end(),
                                      [&](const ModelGroup& g) { return groupTexture(model, g) != nullptr; });
    if (textured && !(writer.keeps & kKeepsTextures))
        lost.push_back("textures");
    if (!model.normals.empty() && !(writer.keeps & kKeepsNormals))
        lost.push_back("normals");
    if (!model.uvs.empty() && !(writer.keeps & kKeepsUVs))
        lost.push_back("texture coordinates");
    if (model.boneCount > 2 && !(writer.keeps & kKeepsSkeleton))
        lost.push_back("the skeleton and motions");
    std::vector<std::string> parts;
    if (!lost.empty())
        parts.push_back(listed(lost) + " are not kept by " + writer.formatName);
    const std::size_t groups = model.groups.size();
    if (target == ConversionTarget::Lwo) {
        const std::size_t surfaces = lwoSurfaceCount(model);
        if (surfaces != groups && !model.polygons.empty())
            parts.push_back(std::to_string(groups) + (groups == 1 ? " group becomes " : " groups become ") +
                            std::to_string(surfaces) + (surfaces == 1 ? " surface" : " surfaces"));
    }
    if (parts.empty())
        return {};
    std::string text = outputPath + ": " + parts[0];
    for (std::size_t i = 1; i < parts.size(); ++i)
        text += "; " + parts[i];
    return text;
}

bool isSameFile(const std::string& source, const std::string& output) {
    struct stat a {};
    struct stat b {};
    if (::stat(source.c_str(), &a) != 0 || ::stat(output.c_str(), &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string errorText(const std::optional<FormatError>& error) { return error ? error->message() : std::string(); }

SaveOutcome saveModel(const Model& model, ConversionTarget target, const std::string& outputPath,
                      const SaveOptions& options) {
    SaveOutcome outcome;
    WriteContext ctx;
    ctx.outputPath = outputPath;
    ctx.xForm = options.xForm;
    std::optional<FormatError> error = writerFor(target).write(model, ctx);
    if (!error) {
        for (OutputFile& image : embeddedCompanions(model, ctx, ctx.warnings))
            ctx.sideFiles.push_back(std::move(image));
        // A file written with the output must not be the model's own file either.
        for (const OutputFile& side : ctx.sideFiles)
            if (!model.path.empty() && isSameFile(model.path, side.path)) {
                error = FormatError::refusal("not written: " + side.path + " would replace the source file");
                break;
            }
    }
    if (error) {
        error->file = outputPath;
        outcome.error = std::move(error);
    } else if (ctx.sideFiles.empty()) {
        if (auto failed = writeFileAtomic(outputPath, ctx.bytes)) {
            outcome.error = FormatError::refusal(*failed);
            outcome.error->file = outputPath;
        } else {
            outcome.ok = true;
        }
    } else {
        std::vector<OutputFile> files;
        files.push_back({outputPath, std::move(ctx.bytes)});
        for (OutputFile& side : ctx.sideFiles)
            files.push_back(std::move(side));
        if (auto failed = writeFilesAtomic(files))
            outcome.error = FormatError::refusal(*failed);  // names the file that failed
        else
            outcome.ok = true;
    }
    outcome.warnings = std::move(ctx.warnings);
    if (outcome.ok)
        if (std::string lost = lossWarning(model, target, outputPath); !lost.empty())
            outcome.warnings.push_back(std::move(lost));
    for (const std::string& warning : outcome.warnings)
        logText(warning);
    if (!outcome.ok)
        LogLine("*** ERROR *** %s", errorText(outcome.error).c_str());
    return outcome;
}

std::string outputPathFor(const std::string& source, ConversionTarget target, const std::string& outDir) {
    const std::string name = fileNameOf(source);
    std::string base = baseNameOf(name);
    // A name without an extension keeps its whole name (".KZP" alone would hide the file).
    if (base.empty())
        base = name;
    const std::string folder = outDir.empty() ? directoryOf(source) : outDir;
    const std::string file = base + "." + writerFor(target).extension;
    return folder.empty() ? file : joinPath(folder, file);
}

std::optional<FormatError> refusalBeforeLoading(const std::string& file, const std::string& output) {
    if (!readerForName(file)) {
        std::string known;
        for (const ReaderEntry& entry : readerTable())
            known += std::string(known.empty() ? "" : ", ") + entry.extension;
        FormatError error = FormatError::refusal("not a model file of a supported format (" + known + ")");
        error.file = file;
        return error;
    }
    if (isSameFile(file, output))
        return replacesSourceError(file);
    return std::nullopt;
}

void convertLoaded(LoadOutcome loaded, ConversionTarget target, const std::string& output, ConvertReport& report,
                   const SaveOptions& options) {
    report.warnings = std::move(loaded.warnings);
    report.overLimits = loaded.overLimits;
    if (!loaded.model) {
        report.error = loadFailure(loaded, report.source);
        return;
    }
    report.output = output;
    report.nothingRead = loaded.model->polygons.empty();
    SaveOutcome saved = saveModel(*loaded.model, target, output, options);
    report.ok = saved.ok;
    report.error = std::move(saved.error);
    report.warnings.insert(report.warnings.end(), saved.warnings.begin(), saved.warnings.end());
}

std::vector<ConvertReport> convertFiles(const std::vector<std::string>& files, const ConvertOptions& options,
                                        const ModelSource& source, const ConvertProgress& progress) {
    std::vector<ConvertReport> reports;
    reports.reserve(files.size());
    for (const std::string& file : files) {
        ConvertReport report;
        report.source = file;
        const std::string output = outputPathFor(file, options.target, options.outDir);
        if (auto refused = refusalBeforeLoading(file, output))
            report.error = std::move(refused);
        else
            convertLoaded(source(file), options.target, output, report, options.save);
        reports.push_back(std::move(report));
        if (progress)
            progress(reports.size(), files.size(), reports.back());
    }
    return reports;
}

}  // namespace rv

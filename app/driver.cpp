#include "app/driver.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "formats/common/export_support.h"
#include "formats/lwo/lwo.h"
#include "formats/common/file_io.h"
#include "model/mesh.h"
#include "model/motion.h"
#include "model/registry.h"
#include "model/textures.h"
#include "runtime/log.h"
#include "runtime/paths.h"

namespace rv {

namespace {

// The absolute folder of `path`, without a trailing '/'.
std::string absoluteFolderOf(const std::string& path) {
    const std::string folder = directoryOf(path);
    std::error_code ec;
    std::string absolute = std::filesystem::absolute(folder.empty() ? "." : folder, ec).lexically_normal().string();
    if (absolute.size() > 1 && absolute.back() == '/')
        absolute.pop_back();
    return absolute;
}

// One line for the texture files a model names that could not be found or decoded.
std::string missingTexturesWarning(const std::string& path, const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names)
        list += (list.empty() ? "" : ", ") + sjisToUtf8(name).value_or(name);
    return path + ": " + (names.size() == 1 ? "texture file " : "texture files ") + list +
           (names.size() == 1 ? " was" : " were") + " not found or could not be decoded";
}

// "a, b and c".
std::string listed(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return text;
}

LoadResult failedLoad(const std::string& path, FormatError error) {
    LoadResult result;
    error.file = path;
    result.error = std::move(error);
    return result;
}

}  // namespace

LoadResult loadModelFile(const std::string& path) {
    if (path.empty())
        return failedLoad(path, FormatError::forUser("ファイル名が指定されていません。"));
    const ReaderEntry* reader = readerForName(path);
    std::string why;
    std::optional<std::vector<std::byte>> bytes;
    // An unknown extension reads nothing, but the file must still be there.
    if (reader)
        bytes = readFile(path, &why);
    else
        why = checkInputFile(path).value_or("");
    if (!why.empty()) {
        LogLine("%s を開くことができませんでした。", path.c_str());
        return failedLoad(path, FormatError::refusal(why));
    }

    LoadResult result;
    auto model = std::make_unique<Model>();
    model->folder = absoluteFolderOf(path);
    model->fileName = fileNameOf(path);
    model->path = joinPath(model->folder, model->fileName);
    if (reader) {
        ReadContext ctx;
        ctx.path = path;
        std::optional<FormatError> error = reader->read(*bytes, *model, ctx);
        result.warnings = std::move(ctx.warnings);
        if (error) {
            error->file = path;
            LogLine("*** ERROR *** %s", error->message().c_str());
            result.error = std::move(error);
            return result;
        }
        // The reader named the images; they are found beside the model and decoded here.
        const std::vector<std::string> missing = loadModelTextures(*model, result.instance.textures);
        if (!missing.empty())
            result.warnings.push_back(missingTexturesWarning(path, missing));
        if (reader->postDecode)
            reader->postDecode(*model, *bytes);
        // Readers keep the path they were given; the model is named as the overlay shows it.
        model->fileName = fileNameOf(path);
    }
    postLoad(*model, result.instance);
    if (reader && reader->startsFirstMotion)
        startMotion(*model, result.instance.playback, 0, 0.0f);
    if (reader && !bytes->empty() && model->polygons.empty()) {
        result.warnings.push_back(path + ": no polygons were read");
        logText(result.warnings.back());
    }
    result.model = std::move(model);
    return result;
}

PathLoad beginLoadByPath(const std::string& path) {
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
    load.pending = reg.beginLoad([path, result = load.result] {
        *result = loadModelFile(path);
        LoadedModel loaded;
        loaded.model = std::move(result->model);
        loaded.instance = std::move(result->instance);
        return loaded;
    });
    return load;
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
    if (!error && !done.failure.empty())
        error = FormatError::refusal(done.failure);
    if (showMessages && error && error->userMessage)
        ShowMessage(load.path, error->reason);
    outcome.error = std::move(error);
    outcome.model = done.slot >= 0 ? reg.get(done.slot) : nullptr;
    return outcome;
}

LoadOutcome loadByPath(const std::string& path) {
    if (path.empty())
        return {};
    PathLoad load = beginLoadByPath(path);
    return finishLoadByPath(load);
}

const Model* currentModel() { return registry().isLoaded(0) ? registry().get(0) : nullptr; }

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
    } else if (target == ConversionTarget::X && groups > 1) {
        parts.push_back(std::to_string(groups) + " groups share one material");
    }
    if (parts.empty())
        return {};
    std::string text = outputPath + ": " + parts[0];
    for (std::size_t i = 1; i < parts.size(); ++i)
        text += "; " + parts[i];
    return text;
}

bool isSameFile(const std::string& source, const std::string& output) {
    struct stat a {}, b {};
    if (::stat(source.c_str(), &a) != 0 || ::stat(output.c_str(), &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string replacesSourceError(const std::string& source) {
    return source + ": not converted: the output would replace the source file";
}

SaveOutcome saveModel(const Model& model, ConversionTarget target, const std::string& outputPath) {
    SaveOutcome outcome;
    WriteContext ctx;
    ctx.outputPath = outputPath;
    if (auto error = writerFor(target).write(model, ctx)) {
        error->file = outputPath;
        outcome.error = error->message();
    } else if (ctx.sideFiles.empty()) {
        if (auto failed = writeFileAtomic(outputPath, ctx.bytes))
            outcome.error = outputPath + ": " + *failed;
        else
            outcome.ok = true;
    } else {
        std::vector<OutputFile> files;
        files.push_back({outputPath, std::move(ctx.bytes)});
        for (OutputFile& side : ctx.sideFiles)
            files.push_back(std::move(side));
        if (auto failed = writeFilesAtomic(files))
            outcome.error = *failed;
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
        LogLine("*** ERROR *** %s", outcome.error.c_str());
    return outcome;
}

SaveOutcome saveCurrent(ConversionTarget target, const std::string& outputPath) {
    if (const Model* model = currentModel())
        return saveModel(*model, target, outputPath);
    SaveOutcome outcome;
    outcome.error = outputPath + ": there is no model to save";
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

void writeConverted(const Model& model, ConversionTarget target, ConvertReport& report) {
    report.nothingRead = model.polygons.empty();
    SaveOutcome saved = saveModel(model, target, report.output);
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
        if (!readerForName(file)) {
            std::string known;
            for (const ReaderEntry& entry : readerTable())
                known += std::string(known.empty() ? "" : ", ") + entry.extension;
            report.error = file + ": not a model file of a supported format (" + known + ")";
        } else if (isSameFile(file, outputPathFor(file, options.target, options.outDir))) {
            report.error = replacesSourceError(file);
        } else {
            LoadOutcome loaded = source(file);
            report.warnings = std::move(loaded.warnings);
            if (!loaded.model) {
                report.error = loaded.error ? loaded.error->message() : file + ": no model was loaded";
            } else {
                report.output = outputPathFor(file, options.target, options.outDir);
                writeConverted(*loaded.model, options.target, report);
            }
        }
        reports.push_back(std::move(report));
        if (progress)
            progress(reports.size(), files.size(), reports.back());
    }
    return reports;
}

std::vector<ConvertReport> convertDropped(const std::vector<std::string>& files, const ConvertOptions& options,
                                          const ConvertProgress& progress) {
    return convertFiles(files, options, loadByPath, progress);
}

std::vector<OverlayLine> overlayLines(const Model* model) {
    std::vector<OverlayLine> lines;
    if (model) {
        const std::string name = sjisToUtf8(model->fileName).value_or(model->fileName);
        lines.push_back({10, 15, false, "ファイル名 : " + name});
        lines.push_back({10, 40, false, "ポリゴン　 : " + std::to_string(model->polygonCount())});
        lines.push_back({10, 60, false, "グループ　 : " + std::to_string(model->groupCount())});
        lines.push_back({10, 80, false, "テクスチャ : " + std::to_string(model->textureCount())});
    }
    lines.push_back({12, 50, true, "変換後の拡張子を選択して、複数ファイルをドラッグ＆ドロップで"});
    lines.push_back({12, 25, true, "コンバートできるようになりました。( KZP形式の場合、最新版にコンバート )"});
    return lines;
}

}  // namespace rv

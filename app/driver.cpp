#include "app/driver.h"

#include <filesystem>
#include <memory>

#include "formats/common/file_io.h"
#include "formats/dxf/dxf.h"
#include "formats/gltf/gltf.h"
#include "formats/kzp/kzp.h"
#include "formats/lwo/lwo.h"
#include "formats/mqo/mqo.h"
#include "formats/mx/mx.h"
#include "formats/obj/obj.h"
#include "formats/rok/rok.h"
#include "formats/x/x.h"
#include "model/mesh.h"
#include "model/motion.h"
#include "model/registry.h"
#include "model/textures.h"
#include "runtime/log.h"
#include "runtime/paths.h"

namespace rv {

namespace {

constexpr ReaderEntry kReaders[] = {
    {"dxf", readDxf}, {"lwo", readLwo}, {"mqo", readMqo}, {"mx", readMx},
    {"rok", readRok}, {"x", readX},     {"kzp", readKzp, true},
};

constexpr WriterEntry kWriters[] = {
    {ConversionTarget::Kzp, "KZP", writeKzp},
    {ConversionTarget::Lwo, "LWO", writeLwo},
    {ConversionTarget::Mx, "MX", writeMx},
    {ConversionTarget::X, "X", writeX},
    {ConversionTarget::Glb, "glb", writeGlb},
    {ConversionTarget::Gltf, "gltf", writeGltf},
    {ConversionTarget::Obj, "obj", writeObj},
};

// The absolute folder of `path`, without a trailing '/'.
std::string absoluteFolderOf(const std::string& path) {
    const std::string folder = directoryOf(path);
    std::error_code ec;
    std::string absolute = std::filesystem::absolute(folder.empty() ? "." : folder, ec).lexically_normal().string();
    if (absolute.size() > 1 && absolute.back() == '/')
        absolute.pop_back();
    return absolute;
}

LoadResult failedLoad(const std::string& path, FormatError error) {
    LoadResult result;
    error.file = path;
    result.error = std::move(error);
    return result;
}

}  // namespace

std::span<const ReaderEntry> readerTable() { return kReaders; }
std::span<const WriterEntry> writerTable() { return kWriters; }

const WriterEntry& writerFor(ConversionTarget target) { return kWriters[static_cast<int>(target)]; }

const ReaderEntry* readerForName(const std::string& name) {
    const std::string ext = extensionOf(fileNameOf(name));
    for (const ReaderEntry& entry : kReaders)
        if (equalsIgnoreCase(ext, entry.extension))
            return &entry;
    return nullptr;
}

bool parseTarget(const std::string& text, ConversionTarget& target) {
    for (const WriterEntry& entry : kWriters) {
        if (equalsIgnoreCase(text, entry.extension)) {
            target = entry.target;
            return true;
        }
    }
    return false;
}

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
        ctx.loadTexture = [&result](Model& m, int entry, const std::string& name) {
            return LoadModelTexture(m, entry, name, result.instance.textures);
        };
        std::optional<FormatError> error = reader->read(*bytes, *model, ctx);
        result.warnings = std::move(ctx.warnings);
        if (error) {
            error->file = path;
            LogLine("*** ERROR *** %s", error->message().c_str());
            result.error = std::move(error);
            return result;
        }
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
    load.pending = reg.beginLoad([path] { return loadModelFile(path); });
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
    outcome.warnings = std::move(done.warnings);
    if (showMessages && done.error && done.error->userMessage)
        ShowMessage(load.path, done.error->reason);
    outcome.error = std::move(done.error);
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

std::vector<ConvertReport> convertFiles(const std::vector<std::string>& files, const ConvertOptions& options,
                                        const ModelSource& source, const ConvertProgress& progress) {
    std::vector<ConvertReport> reports;
    reports.reserve(files.size());
    for (const std::string& file : files) {
        ConvertReport report;
        report.source = file;
        if (options.refuseUnknownExtension && !readerForName(file)) {
            std::string known;
            for (const ReaderEntry& entry : kReaders)
                known += std::string(known.empty() ? "" : ", ") + entry.extension;
            report.error = file + ": not a model file of a supported format (" + known + ")";
        } else {
            LoadOutcome loaded = source(file);
            report.warnings = std::move(loaded.warnings);
            if (!loaded.model) {
                report.error = loaded.error ? loaded.error->message() : file + ": no model was loaded";
            } else {
                report.nothingRead = loaded.model->polygons.empty();
                report.output = outputPathFor(file, options.target, options.outDir);
                SaveOutcome saved = saveModel(*loaded.model, options.target, report.output);
                report.ok = saved.ok;
                report.error = std::move(saved.error);
                report.warnings.insert(report.warnings.end(), saved.warnings.begin(), saved.warnings.end());
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

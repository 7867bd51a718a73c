#include "app/driver.h"

#include <filesystem>
#include <mutex>

#include "formats/common/file_io.h"
#include "formats/dxf/dxf.h"
#include "formats/kzp/kzp.h"
#include "formats/lwo/lwo.h"
#include "formats/mqo/mqo.h"
#include "formats/mx/mx.h"
#include "formats/rok/rok.h"
#include "formats/x/x.h"
#include "model/mesh.h"
#include "model/registry.h"
#include "model/textures.h"
#include "runtime/log.h"
#include "runtime/paths.h"

namespace rv {

const std::vector<ReaderEntry>& readerTable() {
    static const std::vector<ReaderEntry> table{
        {"dxf", readDxf}, {"lwo", readLwo}, {"mqo", readMqo}, {"mx", readMx},
        {"rok", readRok}, {"x", readX},     {"kzp", readKzp},
    };
    return table;
}

const WriterEntry& writerFor(ConversionTarget target) {
    static const WriterEntry table[] = {
        {ConversionTarget::Kzp, "KZP", writeKzp},
        {ConversionTarget::Lwo, "LWO", writeLwo},
        {ConversionTarget::Mx, "MX", writeMx},
        {ConversionTarget::X, "X", writeX},
    };
    return table[static_cast<int>(target)];
}

const ReaderEntry* readerForName(const std::string& name) {
    const std::string ext = extensionOf(fileNameOf(name));
    for (const ReaderEntry& entry : readerTable())
        if (equalsIgnoreCase(ext, entry.extension))
            return &entry;
    return nullptr;
}

bool parseTarget(const std::string& text, ConversionTarget& target) {
    for (int t = 0; t < 4; ++t) {
        if (equalsIgnoreCase(text, writerFor(ConversionTarget(t)).extension)) {
            target = ConversionTarget(t);
            return true;
        }
    }
    return false;
}

void installLoadDispatch() {
    static std::once_flag once;
    std::call_once(once, [] { registry().setLoadDispatch([](int slot, const std::string& path) { loadDispatch(slot, path); }); });
}

namespace {

void failLoad(int slot, const std::string& message) {
    if (ModelInstance* inst = registry().instance(slot))
        inst->loadError = message;
    registry().requestRelease(slot);
}

}  // namespace

int loadDispatch(int slot, const std::string& path) {
    ModelRegistry& reg = registry();
    Model* model = reg.get(slot);
    if (!model)
        return -1;
    if (path.empty()) {
        ShowMessage({}, "ファイル名が指定されていません。");
        failLoad(slot, "ファイル名が指定されていません。");
        return -1;
    }
    const auto bytes = readFile(path);
    if (!bytes) {
        LogLine("%s を開くことができませんでした。", path.c_str());
        failLoad(slot, path + ": cannot be opened");
        return -1;
    }
    if (const ReaderEntry* reader = readerForName(path)) {
        ReadContext ctx;
        ctx.path = path;
        ctx.loadTexture = [slot](Model& m, int entry, const std::string& name) {
            return LoadModelTexture(slot, m, entry, name);
        };
        std::optional<FormatError> error = reader->read(*bytes, *model, ctx);
        if (ModelInstance* inst = reg.instance(slot))
            inst->loadWarnings = ctx.warnings;
        if (error) {
            error->file = path;
            if (error->userMessage)
                ShowMessage(path, error->reason);
            const std::string message = error->userMessage ? path + ": " + error->reason : error->message();
            LogLine("*** ERROR *** %s", message.c_str());
            failLoad(slot, message);
            return -1;
        }
    }
    // An unknown extension keeps the freshly reset model: it loads empty.
    reg.sizeInstance(slot);
    std::vector<std::array<float, 16>> matrices;
    postLoad(*model, &matrices);
    if (ModelInstance* inst = reg.instance(slot)) {
        inst->bones.resize(matrices.size());
        for (std::size_t i = 0; i < matrices.size(); ++i)
            inst->bones[i].matrix = matrices[i];
    }
    return slot;
}

LoadOutcome loadByPath(const std::string& path) {
    LoadOutcome outcome;
    if (path.empty()) {
        outcome.error = "no file name was given";
        return outcome;
    }
    installLoadDispatch();
    ModelRegistry& reg = registry();
    reg.requestRelease(0);
    reg.collect();
    reg.setPreallocate(true);

    std::error_code ec;
    std::string folder = directoryOf(path);
    folder = std::filesystem::absolute(folder.empty() ? "." : folder, ec).lexically_normal().string();
    if (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    const int slot = reg.loadFile(folder, fileNameOf(path));
    if (slot < 0) {
        outcome.error = path + ": cannot be opened";
        return outcome;
    }
    ModelInstance* inst = reg.instance(slot);
    outcome.warnings = inst->loadWarnings;
    if (!inst->loadError.empty()) {
        outcome.error = inst->loadError;
        reg.requestRelease(slot);
        return outcome;
    }
    outcome.model = reg.get(slot);
    return outcome;
}

SaveOutcome saveModel(Model& model, ConversionTarget target, const std::string& outputPath) {
    SaveOutcome outcome;
    WriteContext ctx;
    if (auto error = writerFor(target).write(model, ctx)) {
        error->file = outputPath;
        outcome.error = error->userMessage ? outputPath + ": " + error->reason : error->message();
    } else if (auto failed = writeFileAtomic(outputPath, ctx.bytes)) {
        outcome.error = outputPath + ": " + *failed;
    } else {
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
    Model* model = registry().get(0);
    if (!model || !model->loaded) {
        SaveOutcome outcome;
        outcome.error = outputPath + ": there is no model to save";
        return outcome;
    }
    return saveModel(*model, target, outputPath);
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

std::vector<ConvertReport> convertDropped(const std::vector<std::string>& files, const ConvertOptions& options,
                                          const ConvertProgress& progress) {
    std::vector<ConvertReport> reports;
    reports.reserve(files.size());
    for (const std::string& source : files) {
        ConvertReport report;
        report.source = source;
        if (options.refuseUnknownExtension && !readerForName(source)) {
            report.error = source + ": not a model file of a supported format (dxf, lwo, mqo, mx, rok, x, kzp)";
        } else {
            LoadOutcome loaded = loadByPath(source);
            report.warnings = std::move(loaded.warnings);
            if (!loaded.model) {
                report.error = loaded.error;
            } else {
                report.output = outputPathFor(source, options.target, options.outDir);
                SaveOutcome saved = saveCurrent(options.target, report.output);
                report.ok = saved.ok;
                report.error = saved.error;
                report.warnings.insert(report.warnings.end(), saved.warnings.begin(), saved.warnings.end());
            }
        }
        reports.push_back(std::move(report));
        if (progress)
            progress(reports.size(), files.size(), reports.back());
    }
    return reports;
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

#include "app/load.h"

#include <cstdio>
#include <filesystem>

#include "formats/common/file_io.h"
#include "model/mesh.h"
#include "model/motion.h"
#include "model/simplify.h"
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

// A file the model names beside it (a buffer, a material library), found as textures are.
std::optional<std::vector<std::byte>> readCompanion(const std::string& folder, const std::string& name,
                                                    std::string& why) {
    const std::optional<std::string> found = resolveModelFile(folder, name);
    if (!found) {
        why = name + " was not found";
        return std::nullopt;
    }
    return readFile(*found, &why);
}

// The user's message for a KZP revision the reader refused.
std::string revisionRefusalText(const FormatError& error, const std::string& path) {
    switch (error.kind) {
    case FormatError::Kind::RevisionTooOld: return "KZP 2004 以上に対応しています。\n\n" + path;
    case FormatError::Kind::RevisionTooNew:
        return "KZP形式のバージョンが新しいので\n読み込むことができません。\n最新版へバージョンアップして下さい。\n\n" +
               path;
    case FormatError::Kind::RevisionUnknown:
        return "KZP形式のバージョン " + std::to_string(error.revision) + " には対応していません。\n\n" + path;
    case FormatError::Kind::Other: break;
    }
    return error.reason;
}

LoadResult failedLoad(const std::string& path, FormatError error) {
    LoadResult result;
    error.file = path;
    result.error = std::move(error);
    return result;
}

}  // namespace

std::optional<FormatError> fitToLimits(Model& model, const std::string& path, bool simplify,
                                       std::vector<std::string>& warnings) {
    std::optional<std::string> excess = limitExcess(model);
    if (!excess)
        return std::nullopt;
    if (simplify) {
        const SimplifyReport report = simplifyModel(model);
        char error[32];
        std::snprintf(error, sizeof error, "%.2g", double(report.error));
        warnings.push_back(path + ": simplified from " + withThousands(std::size_t(report.polygonsBefore)) + " to " +
                           withThousands(std::size_t(report.polygonsAfter)) + " polygons (error " + error + ")" +
                           (report.bordersMoved ? "; group borders moved to fit" : ""));
        logText(warnings.back());
        excess = limitExcess(model);
        if (!excess)
            return std::nullopt;
        *excess += " even when simplified";
    }
    FormatError refusal = FormatError::refusal(*excess);
    refusal.file = path;
    LogLine("*** ERROR *** %s", refusal.message().c_str());
    return refusal;
}

LoadResult loadModelFile(const std::string& path, const LoadOptions& options) {
    if (path.empty())
        return failedLoad(path, FormatError::forUser("ファイル名が指定されていません。"));
    const ReaderEntry* reader = readerForName(path);
    std::string why;
    std::optional<HugePageVector<std::byte>> bytes;
    // An unknown extension reads nothing, but the file must still be there.
    if (reader)
        bytes = readModelFile(path, &why);
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
        ctx.companion = [folder = model->folder](const std::string& name, std::string& why) {
            return readCompanion(folder, name, why);
        };
        std::optional<FormatError> error = reader->read(*bytes, *model, ctx);
        result.warnings = std::move(ctx.warnings);
        if (error) {
            error->file = path;
            error->reason = revisionRefusalText(*error, path);
            LogLine("*** ERROR *** %s", error->message().c_str());
            result.error = std::move(error);
            return result;
        }
        if (std::optional<FormatError> refused = fitToLimits(*model, path, options.simplify, result.warnings)) {
            result.error = std::move(refused);
            result.overLimits = !options.simplify;
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

}  // namespace rv

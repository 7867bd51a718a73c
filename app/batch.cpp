#include "app/batch.h"

#include <algorithm>
#include <filesystem>

#include "runtime/paths.h"

namespace rv {

namespace {

bool hiddenName(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    return !name.empty() && name[0] == '.';
}

void collectFolder(const std::filesystem::path& folder, DroppedFiles& out, int depth) {
    std::error_code ec;
    std::vector<std::filesystem::path> entries;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (!hiddenName(it->path()))
            entries.push_back(it->path());
    std::sort(entries.begin(), entries.end());
    for (const std::filesystem::path& entry : entries) {
        // Links to folders are not followed, so that a loop of links cannot run forever.
        if (std::filesystem::is_directory(std::filesystem::symlink_status(entry, ec))) {
            if (depth < 64)
                collectFolder(entry, out, depth + 1);
        } else if (readerForName(entry.string())) {
            out.models.push_back(entry.string());
        } else if (std::filesystem::is_regular_file(entry, ec)) {
            out.skipped.push_back(entry.string());
        }
    }
}

}  // namespace

DroppedFiles modelFilesIn(const std::vector<std::string>& paths) {
    DroppedFiles out;
    for (const std::string& path : paths) {
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec))
            collectFolder(path, out, 0);
        else if (readerForName(path))
            out.models.push_back(path);
        else
            out.skipped.push_back(path);
    }
    return out;
}

void DropBatch::add(const std::vector<std::string>& paths, ConversionTarget target) {
    DroppedFiles dropped = modelFilesIn(paths);
    for (const std::string& file : dropped.models)
        queue_.push_back({file, target});
    for (const std::string& file : dropped.skipped) {
        ConvertReport report;
        report.source = file;
        report.skipped = true;
        report.error = FormatError::refusal("not a model file");
        report.error->file = file;
        record(std::move(report));
    }
}

bool DropBatch::poll(bool wait) {
    if (current_ && (wait || current_->load.ready()))
        finishCurrent();
    while (!current_ && !queue_.empty()) {
        Entry next = queue_.front();
        queue_.pop_front();
        if (auto refused = refusalBeforeLoading(next.file, outputPathFor(next.file, next.target))) {
            ConvertReport report;
            report.source = next.file;
            report.error = std::move(refused);
            record(std::move(report));
            continue;
        }
        if (hooks_.releaseModel)
            hooks_.releaseModel();
        current_.emplace();
        static_cast<Entry&>(*current_) = next;
        LoadOptions options;
        options.simplify = next.simplify || simplify_.value_or(false);
        current_->load = beginLoadByPath(next.file, options);
    }
    return busy();
}

void DropBatch::finishCurrent() {
    Current entry = std::move(*current_);
    current_.reset();
    ConvertReport report;
    report.source = entry.file;
    LoadOutcome loaded = finishLoadByPath(entry.load, false);
    if (loaded.overLimits && hooks_.askSimplify) {
        if (!simplify_)
            simplify_ = hooks_.askSimplify(errorText(loaded.error));
        if (*simplify_) {
            queue_.push_front({entry.file, entry.target, true});  // loaded again, next
            return;
        }
    }
    if (hooks_.showModel)
        hooks_.showModel(loaded.model, loaded.instance);
    convertLoaded(std::move(loaded), entry.target, outputPathFor(entry.file, entry.target), report);
    record(std::move(report));
}

void DropBatch::record(ConvertReport report) {
    reports_.push_back(std::move(report));
    if (hooks_.fileDone)
        hooks_.fileDone(reports_.size(), total(), reports_.back());
}

std::vector<ConvertReport> DropBatch::takeReports() {
    std::vector<ConvertReport> out = std::move(reports_);
    reports_.clear();
    simplify_.reset();
    return out;
}

std::string batchFailureMessage(const std::vector<ConvertReport>& reports) {
    std::string lines, skipped, warnings;
    std::size_t failed = 0;
    for (const ConvertReport& r : reports) {
        const std::string name = sjisToUtf8(r.source).value_or(r.source);
        for (const std::string& w : r.warnings)
            warnings += "\n" + w;
        if (r.skipped) {
            skipped += "\n" + errorText(r.error);
        } else if (!r.ok) {
            ++failed;
            lines += "\n" + (r.error ? errorText(r.error) : name + ": not converted");
        } else if (r.nothingRead) {
            ++failed;
            lines += "\n" + name + ": no polygons were read; " + fileNameOf(r.output) + " holds an empty model";
        }
    }
    std::string message;
    if (failed > 0)
        message = std::to_string(failed) + " / " + std::to_string(reports.size()) +
                  " のファイルは変換できませんでした。" + lines;
    if (!skipped.empty())
        message += (message.empty() ? "" : "\n") + skipped.substr(1);
    if (!warnings.empty())
        message += (message.empty() ? "" : "\n") + warnings.substr(1);
    return message;
}

}  // namespace rv

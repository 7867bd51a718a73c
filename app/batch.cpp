#include "app/batch.h"

#include "runtime/paths.h"

namespace rv {

void DropBatch::add(const std::vector<std::string>& files, ConversionTarget target) {
    for (const std::string& file : files)
        queue_.push_back({file, target});
}

bool DropBatch::poll(bool wait) {
    if (current_ && (wait || current_->load.ready()))
        finishCurrent();
    if (!current_ && !queue_.empty()) {
        Entry next = queue_.front();
        queue_.pop_front();
        if (hooks_.releaseModel)
            hooks_.releaseModel();
        current_.emplace();
        static_cast<Entry&>(*current_) = next;
        current_->load = beginLoadByPath(next.file);
    }
    return busy();
}

void DropBatch::finishCurrent() {
    Current entry = std::move(*current_);
    current_.reset();
    ConvertReport report;
    report.source = entry.file;
    LoadOutcome loaded = finishLoadByPath(entry.load, false);
    report.warnings = std::move(loaded.warnings);
    if (hooks_.showModel)
        hooks_.showModel(loaded.model ? registry().get(0) : nullptr, loaded.model ? registry().instance(0) : nullptr);
    if (!loaded.model) {
        report.error = loaded.error ? loaded.error->message() : entry.file + ": no model was loaded";
    } else {
        report.nothingRead = loaded.model->polygons.empty();
        report.output = outputPathFor(entry.file, entry.target);
        SaveOutcome saved = saveModel(*loaded.model, entry.target, report.output);
        report.ok = saved.ok;
        report.error = std::move(saved.error);
        report.warnings.insert(report.warnings.end(), saved.warnings.begin(), saved.warnings.end());
    }
    reports_.push_back(std::move(report));
    if (hooks_.fileDone)
        hooks_.fileDone(reports_.size(), total(), reports_.back());
}

std::vector<ConvertReport> DropBatch::takeReports() {
    std::vector<ConvertReport> out = std::move(reports_);
    reports_.clear();
    return out;
}

std::string batchFailureMessage(const std::vector<ConvertReport>& reports) {
    std::string lines;
    std::size_t failed = 0;
    for (const ConvertReport& r : reports) {
        const std::string name = sjisToUtf8(r.source).value_or(r.source);
        if (!r.ok) {
            ++failed;
            lines += "\n" + (r.error.empty() ? name + ": not converted" : r.error);
        } else if (r.nothingRead) {
            ++failed;
            lines += "\n" + name + ": no polygons were read; " + fileNameOf(r.output) + " holds an empty model";
        }
    }
    if (failed == 0)
        return {};
    return std::to_string(failed) + " / " + std::to_string(reports.size()) +
           " のファイルは変換できませんでした。" + lines;
}

}  // namespace rv

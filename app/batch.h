// The window's batch of dropped files: converted one at a time through the current model, each
// load on the background loader, so that the window keeps drawing and answering between polls.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/convert.h"
#include "app/current_model.h"

namespace rv {

class DropBatch {
public:
    struct Hooks {
        std::function<void()> releaseModel;  // before slot 0 is freed
        std::function<void(Model*, ModelInstance*)> showModel;  // a load was installed
        std::function<void(std::size_t done, std::size_t total, const ConvertReport&)> fileDone;
        // Whether to simplify the models over the limits, asked with the first one's refusal
        // ("FILE: 200,000 polygons; a model holds at most 65,000") once per batch. Null: never.
        std::function<bool(const std::string& refusal)> askSimplify;
    };
    explicit DropBatch(Hooks hooks) : hooks_(std::move(hooks)) {}

    // Queues dropped paths to convert to `target`, after whatever is queued already; a drop
    // during a batch joins it. Folders give the model files inside them (see modelFilesIn); other
    // files are reported as skipped at once.
    void add(const std::vector<std::string>& paths, ConversionTarget target);

    // Does what can be done now: finishes the current file when its load is ready (with `wait`,
    // waits for it) and writes its output, then starts loading the next one. Returns true while
    // files remain.
    bool poll(bool wait = false);
    bool busy() const { return current_.has_value() || !queue_.empty(); }

    // Files finished and in all since the batch began, and the file being loaded.
    std::size_t done() const { return reports_.size(); }
    std::size_t total() const { return reports_.size() + queue_.size() + (current_ ? 1 : 0); }
    std::string currentFile() const { return current_ ? current_->file : std::string(); }

    // Drops the files not started yet (the window is closing); the current one still finishes.
    void dropPending() { queue_.clear(); }

    // The reports of the batch so far; taking them starts the count again (and the next batch is
    // asked about simplifying anew).
    std::vector<ConvertReport> takeReports();

private:
    struct Entry {
        std::string file;
        ConversionTarget target;
        bool simplify = false;
    };
    struct Current : Entry {
        PathLoad load;
    };
    void finishCurrent();
    void record(ConvertReport report);

    Hooks hooks_;
    std::deque<Entry> queue_;
    std::optional<Current> current_;
    std::vector<ConvertReport> reports_;
    std::optional<bool> simplify_;  // the answer of this batch, once asked
};

// What a drop holds: the model files among the paths, folders looked into recursively (entries
// in name order, hidden ones passed over), and the files that are not model files.
struct DroppedFiles {
    std::vector<std::string> models;
    std::vector<std::string> skipped;
};
DroppedFiles modelFilesIn(const std::vector<std::string>& paths);

// One message for the files of a batch that failed, read no polygons, were skipped or lost
// something on the way, naming each with its reason; empty when every file converted whole.
std::string batchFailureMessage(const std::vector<ConvertReport>& reports);

}  // namespace rv

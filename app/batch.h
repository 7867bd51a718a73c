// The window's batch of dropped files: converted one at a time through the current model, each
// load on the background loader, so that the window keeps drawing and answering between polls.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/driver.h"

namespace rv {

class DropBatch {
public:
    struct Hooks {
        std::function<void()> releaseModel;                                 // before slot 0 is freed
        std::function<void(Model*, ModelInstance*)> showModel;              // a load was installed
        std::function<void(std::size_t done, std::size_t total, const ConvertReport&)> fileDone;
    };
    explicit DropBatch(Hooks hooks) : hooks_(std::move(hooks)) {}

    // Queues files to convert to `target`, after whatever is queued already; a drop during a
    // batch joins it.
    void add(const std::vector<std::string>& files, ConversionTarget target);

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

    // The reports of the batch so far; taking them starts the count again.
    std::vector<ConvertReport> takeReports();

private:
    struct Entry {
        std::string file;
        ConversionTarget target;
    };
    struct Current : Entry {
        PathLoad load;
    };
    void finishCurrent();

    Hooks hooks_;
    std::deque<Entry> queue_;
    std::optional<Current> current_;
    std::vector<ConvertReport> reports_;
};

// One message for the files of a batch that failed or read no polygons, naming each with its
// reason; empty when every file converted whole.
std::string batchFailureMessage(const std::vector<ConvertReport>& reports);

}  // namespace rv

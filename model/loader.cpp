#include "model/loader.h"

#include <cstdio>

#include "runtime/log.h"

namespace rv {

LibDataLoader::~LibDataLoader() {
    {
        // Requests still queued at exit are served before the worker stops.
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return queue_.empty() || state_ != Running; });
    }
    stop();
}

void LibDataLoader::start(Handler handler, Handler finished) {
    std::lock_guard lock(mutex_);
    if (thread_.joinable()) {
        LogLine("*** エラー *** 既にHANDLE作成済み");
        return;
    }
    handler_ = std::move(handler);
    finished_ = std::move(finished);
    try {
        state_ = Running;
        thread_ = std::thread(&LibDataLoader::run, this);
    } catch (const std::system_error&) {
        state_ = NotStarted;
        LogLine("*** エラー *** スレッド作成");
    }
}

bool LibDataLoader::enqueue(int slot, const std::string& directory, const std::string& fileName) {
    LoadRequest request;
    request.slot = slot;
    request.directory = directory;
    if (!fileName.empty()) {
        request.fileName = fileName;
        request.path = directory.empty() || fileName.front() == '/' ? fileName : directory + "/" + fileName;
    }
    // Refuse at once what cannot be opened now.
    std::FILE* probe = std::fopen(request.path.c_str(), "rb");
    if (!probe)
        return false;
    std::fclose(probe);
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(request));
    }
    wake_.notify_all();
    return true;
}

void LibDataLoader::stop() {
    {
        std::lock_guard lock(mutex_);
        if (state_ == Stopped || !queue_.empty())
            return;
        if (!thread_.joinable()) {
            state_ = Stopped;
            return;
        }
        state_ = Stopping;
    }
    LogLine("LibDataLoader 終了待ち");
    wake_.notify_all();
    thread_.join();
    LogLine("LibDataLoader 終了");
    std::lock_guard lock(mutex_);
    state_ = Stopped;
}

bool LibDataLoader::queueEmpty() {
    std::lock_guard lock(mutex_);
    return queue_.empty();
}

int LibDataLoader::state() {
    std::lock_guard lock(mutex_);
    return state_;
}

void LibDataLoader::run() {
    std::unique_lock lock(mutex_);
    while (state_ == Running) {
        if (queue_.empty()) {
            wake_.wait(lock, [this] { return !queue_.empty() || state_ != Running; });
            continue;
        }
        // The front entry stays queued while it loads, so the queue is non-empty until the last
        // load has finished (collection waits for that).
        const LoadRequest request = queue_.front();
        lock.unlock();
        if (handler_)
            handler_(request);
        lock.lock();
        queue_.pop_front();
        wake_.notify_all();
        if (finished_) {
            lock.unlock();
            finished_(request);
            lock.lock();
        }
    }
}

}  // namespace rv

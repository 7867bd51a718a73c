#include "model/loader.h"

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

void LibDataLoader::start() {
    std::lock_guard lock(mutex_);
    if (thread_.joinable()) {
        LogLine("*** エラー *** 既にHANDLE作成済み");
        return;
    }
    try {
        state_ = Running;
        thread_ = std::thread(&LibDataLoader::run, this);
    } catch (const std::system_error&) {
        state_ = NotStarted;
        LogLine("*** エラー *** スレッド作成");
    }
}

std::future<LoadedModel> LibDataLoader::enqueue(int slot, LoadWork work) {
    LoadRequest request;
    request.slot = slot;
    request.work = std::move(work);
    std::future<LoadedModel> result = request.done.get_future();
    {
        std::lock_guard lock(mutex_);
        // Without a worker nothing would ever answer: fail the request rather than hang its waiter.
        if (state_ != Running) {
            LoadedModel refused;
            refused.failure = "the background loader is not running";
            request.done.set_value(std::move(refused));
            return result;
        }
        queue_.push_back(std::move(request));
    }
    wake_.notify_all();
    return result;
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
        LoadWork work = std::move(queue_.front().work);
        lock.unlock();
        LoadedModel result;
        try {
            if (work)
                result = work();
        } catch (const std::exception& e) {
            result = {};
            result.failure = std::string("the load failed: ") + e.what();
        }
        lock.lock();
        std::promise<LoadedModel> done = std::move(queue_.front().done);
        queue_.pop_front();
        wake_.notify_all();
        lock.unlock();
        done.set_value(std::move(result));
        lock.lock();
    }
}

}  // namespace rv

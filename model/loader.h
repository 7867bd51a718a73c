// The background data loader: one worker that runs load requests strictly in arrival order and
// hands each result back to whoever queued it.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "model/instance.h"

namespace rv {

// What one request hands back: the model with its instance, or no model when the load failed.
// Why a file could not be read is the business of whoever queued the work.
struct LoadedModel {
    std::unique_ptr<Model> model;
    ModelInstance instance;
    std::string failure;  // set when the loader could not run the work at all
};

// What one request runs on the worker: reading a file into a model.
using LoadWork = std::function<LoadedModel()>;

struct LoadRequest {
    int slot = -1;
    LoadWork work;
    std::promise<LoadedModel> done;
};

class LibDataLoader {
public:
    enum State { NotStarted = 0, Running = 1, Stopping = 2, Stopped = 3 };

    ~LibDataLoader();
    void start();
    // Queues `work` for `slot`. The result becomes ready only after the request has left the
    // queue, so whoever waits for it finds the queue free of it (collection depends on that).
    std::future<LoadedModel> enqueue(int slot, LoadWork work);
    // Stops and joins the worker; does nothing while requests are queued.
    void stop();
    bool queueEmpty();
    int state();

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<LoadRequest> queue_;
    int state_ = NotStarted;
    std::thread thread_;
};

}  // namespace rv

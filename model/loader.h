// The background data loader: one worker that serves load requests strictly in arrival order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace rv {

struct LoadRequest {
    int slot = -1;
    std::string directory;
    std::string fileName;
    std::string path;
};

class LibDataLoader {
public:
    // Runs one request on the worker; called with no lock held.
    using Handler = std::function<void(const LoadRequest&)>;

    enum State { NotStarted = 0, Running = 1, Stopping = 2, Stopped = 3 };

    ~LibDataLoader();
    // `finished` runs after the request has left the queue, so that a waiter woken by it finds
    // the queue free of its request (collection depends on that).
    void start(Handler handler, Handler finished = {});
    // Queues a request when the joined path can be opened for reading; false otherwise.
    bool enqueue(int slot, const std::string& directory, const std::string& fileName);
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
    Handler handler_;
    Handler finished_;
    std::thread thread_;
};

}  // namespace rv

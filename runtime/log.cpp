#include "runtime/log.h"

#include "runtime/library.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace rv {
namespace {

struct Sinks {
    std::mutex mutex;
    LogSink log;
    MessageSink message;
    CaptionedMessageSink captioned;
};

// Never destroyed: the loader logs while the process's statics are torn down.
Sinks& sinks() {
    static Sinks* s = new Sinks;
    return *s;
}

bool logToStderr() {
    const char* env = std::getenv("REVIZEVOZ_LOG");
    return env && std::strcmp(env, "1") == 0;
}

}  // namespace

void logText(const std::string& line) {
    LogSink sink;
    {
        std::lock_guard lock(sinks().mutex);
        sink = sinks().log;
    }
    if (sink)
        sink(line);
    else if (logToStderr())
        std::fprintf(stderr, "%s\n", line.c_str());
}

void LogLine(const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    logText(line);
}

void ShowMessage(const std::string& file, const std::string& text) {
    MessageSink sink;
    {
        std::lock_guard lock(sinks().mutex);
        sink = sinks().message;
    }
    if (sink)
        sink(file, text);
    else if (file.empty())
        std::fprintf(stderr, "%s\n", text.c_str());
    else
        std::fprintf(stderr, "%s: %s\n", file.c_str(), text.c_str());
    // The time spent reading the message must not count as a stalled frame.
    ResyncTiming();
}

void ShowCaptionedMessage(const std::string& caption, const std::string& text) {
    CaptionedMessageSink sink;
    {
        std::lock_guard lock(sinks().mutex);
        sink = sinks().captioned;
    }
    if (!sink) {
        ShowMessage(caption, text);
        return;
    }
    sink(caption, text);
    ResyncTiming();
}

CaptionedMessageSink setCaptionedMessageSink(CaptionedMessageSink sink) {
    std::lock_guard lock(sinks().mutex);
    std::swap(sinks().captioned, sink);
    return sink;
}

LogSink setLogSink(LogSink sink) {
    std::lock_guard lock(sinks().mutex);
    std::swap(sinks().log, sink);
    return sink;
}

MessageSink setMessageSink(MessageSink sink) {
    std::lock_guard lock(sinks().mutex);
    std::swap(sinks().message, sink);
    return sink;
}

}  // namespace rv

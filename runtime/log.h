// The runtime log and the message service. Both go to sinks that the application (or a test)
// installs; without a sink, log lines go to stderr only when REVIZEVOZ_LOG=1 and messages to
// stderr.
#pragma once

#include <functional>
#include <string>

namespace rv {

using LogSink = std::function<void(const std::string& line)>;
// `file` may be empty; the CLI prints "revizevoz-cli: FILE: MESSAGE".
using MessageSink = std::function<void(const std::string& file, const std::string& text)>;

// printf-style; the line is cut at 255 bytes, as the log list keeps it.
void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logText(const std::string& line);

// Shows a message the user must see (a message box in the GUI), then asks the frame loop to
// resynchronise its timing.
void ShowMessage(const std::string& file, const std::string& text);
// A message under its own caption (the effect loader's "ERROR"). Without a captioned sink it goes
// to the message sink with the caption in place of the file name.
using CaptionedMessageSink = std::function<void(const std::string& caption, const std::string& text)>;
void ShowCaptionedMessage(const std::string& caption, const std::string& text);
CaptionedMessageSink setCaptionedMessageSink(CaptionedMessageSink sink);

// Installs a sink and returns the previous one. Safe to call from any thread.
LogSink setLogSink(LogSink sink);
MessageSink setMessageSink(MessageSink sink);

}  // namespace rv

// Test helpers: temporary folders, file bytes, and recording log and message sinks.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/current_model.h"
#include "runtime/log.h"

namespace rv::test {

// A fresh folder under the system temp folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

std::vector<std::byte> bytesOf(const std::string& text);
std::vector<std::byte> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<std::byte>& bytes);
void writeText(const std::string& path, const std::string& text);

// Records log lines and messages while alive; restores the previous sinks afterwards.
class RecordingSinks {
public:
    RecordingSinks();
    ~RecordingSinks();
    std::vector<std::string> lines() const;
    std::vector<std::string> messages() const;
    bool logged(const std::string& part) const;

private:
    struct State;
    std::shared_ptr<State> state_;
    LogSink previousLog_;
    MessageSink previousMessage_;
};

// Sets an environment variable for the life of the object and restores it afterwards; a null
// value (or nullopt) unsets it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ScopedEnv(const char* name, const std::optional<std::string>& value)
        : ScopedEnv(name, value ? value->c_str() : nullptr) {}
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Loads a file into the current model (slot 0) as the window does, and waits for it.
LoadOutcome loadCurrent(const std::string& path);

// The corpus folder of real files from other tools, or empty when it is absent.
std::filesystem::path corpusDir();
// Copies `file` and everything beside it into `dir` (the corpus is read-only); returns the copy.
std::filesystem::path copyWithNeighbours(const std::filesystem::path& file, const std::filesystem::path& dir);

}  // namespace rv::test

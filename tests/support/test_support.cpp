#include "tests/support/test_support.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <random>

namespace rv::test {

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() / ("revizevoz-test-" + std::to_string(::getpid()) + "-" +
                                                      std::to_string(counter++) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::vector<std::byte> bytesOf(const std::string& text) {
    const auto* p = reinterpret_cast<const std::byte*>(text.data());
    return std::vector<std::byte>(p, p + text.size());
}

std::vector<std::byte> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto* p = reinterpret_cast<const std::byte*>(raw.data());
    return std::vector<std::byte>(p, p + raw.size());
}

void writeBytes(const std::string& path, const std::vector<std::byte>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

struct RecordingSinks::State {
    mutable std::mutex mutex;
    std::vector<std::string> lines, messages;
};

RecordingSinks::RecordingSinks() : state_(std::make_shared<State>()) {
    auto state = state_;
    previousLog_ = setLogSink([state](const std::string& line) {
        std::lock_guard lock(state->mutex);
        state->lines.push_back(line);
    });
    previousMessage_ = setMessageSink([state](const std::string& file, const std::string& text) {
        std::lock_guard lock(state->mutex);
        state->messages.push_back(file.empty() ? text : file + ": " + text);
    });
}

RecordingSinks::~RecordingSinks() {
    setLogSink(previousLog_);
    setMessageSink(previousMessage_);
}

std::vector<std::string> RecordingSinks::lines() const {
    std::lock_guard lock(state_->mutex);
    return state_->lines;
}

std::vector<std::string> RecordingSinks::messages() const {
    std::lock_guard lock(state_->mutex);
    return state_->messages;
}

bool RecordingSinks::logged(const std::string& part) const {
    for (const std::string& line : lines())
        if (line.find(part) != std::string::npos)
            return true;
    return false;
}

std::filesystem::path corpusDir() {
    std::error_code ec;
    const std::filesystem::path dir(REVIZEVOZ_CORPUS);
    return std::filesystem::is_directory(dir, ec) ? dir : std::filesystem::path();
}

std::filesystem::path copyWithNeighbours(const std::filesystem::path& file, const std::filesystem::path& dir) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(file.parent_path(), ec)) {
        if (entry.is_regular_file(ec))
            fs::copy_file(entry.path(), dir / entry.path().filename(), fs::copy_options::overwrite_existing, ec);
        else if (entry.is_directory(ec))
            fs::copy(entry.path(), dir / entry.path().filename(),
                     fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    }
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
    for (const auto& entry : fs::recursive_directory_iterator(dir, ec))
        fs::permissions(entry.path(), fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, ec);
    return dir / file.filename();
}

LoadOutcome loadCurrent(const std::string& path) {
    PathLoad load = beginLoadByPath(path);
    return finishLoadByPath(load);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name))
        old_ = old;
    if (value)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (old_)
        ::setenv(name_, old_->c_str(), 1);
    else
        ::unsetenv(name_);
}

}  // namespace rv::test

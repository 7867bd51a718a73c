#include "formats/common/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "runtime/paths.h"

namespace rv {

namespace {

std::optional<std::string> refuseStat(const struct stat& st) {
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    if (std::uint64_t(st.st_size) > kMaxInputBytes)
        return "the file is " + std::to_string(st.st_size) + " bytes long, over the limit of 1 GiB";
    return std::nullopt;
}

}  // namespace

std::optional<std::string> checkInputFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return "cannot be opened: " + std::string(std::strerror(errno));
    return refuseStat(st);
}

namespace {

template <class Buffer>
std::optional<Buffer> readInto(const std::string& path, std::string* why) {
    auto fail = [why](std::string reason) -> std::optional<Buffer> {
        if (why)
            *why = std::move(reason);
        return std::nullopt;
    };
    // Checked before opening: opening a FIFO for reading would block until a writer comes.
    if (auto refused = checkInputFile(path))
        return fail(*refused);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return fail("cannot be opened: " + std::string(std::strerror(errno)));
    // Again on what was opened: the name may have been replaced in between.
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return fail("cannot be opened: " + std::string(std::strerror(errno)));
    }
    if (auto refused = refuseStat(st)) {
        ::close(fd);
        return fail(*refused);
    }
    // Read straight into a buffer of the file's size; a file that grows meanwhile is read only up
    // to the size it had.
    Buffer data(std::size_t(st.st_size));
    std::size_t used = 0;
    while (used < data.size()) {
        const ssize_t n = ::read(fd, data.data() + used, data.size() - used);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const std::string reason = "cannot be read: " + std::string(std::strerror(errno));
            ::close(fd);
            return fail(reason);
        }
        if (n == 0)
            break;
        used += std::size_t(n);
    }
    ::close(fd);
    data.resize(used);
    return data;
}

}  // namespace

std::optional<std::vector<std::byte>> readFile(const std::string& path, std::string* why) {
    return readInto<std::vector<std::byte>>(path, why);
}

std::optional<HugePageVector<std::byte>> readModelFile(const std::string& path, std::string* why) {
    return readInto<HugePageVector<std::byte>>(path, why);
}

namespace {

// Writes `bytes` to a new temporary file beside `target`; its name in `temp`, or the reason.
std::optional<std::string> writeTemp(const std::string& target, std::span<const std::byte> bytes, std::string& temp) {
    const std::string folder = directoryOf(target);
    temp = joinPath(folder.empty() ? "." : folder, "." + fileNameOf(target) + ".XXXXXX");
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return "cannot create a file in the output folder: " + std::string(std::strerror(errno));
    auto failWith = [&](const char* what) {
        const std::string reason = std::string(what) + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(temp.c_str());
        return reason;
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return failWith("write failed");
        }
        done += std::size_t(n);
    }
    if (::fchmod(fd, 0644) != 0)
        return failWith("cannot set permissions");
    if (::fsync(fd) != 0)
        return failWith("flush failed");
    if (::close(fd) != 0) {
        const std::string reason = std::string("close failed: ") + std::strerror(errno);
        ::unlink(temp.c_str());
        return reason;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> writeFileAtomic(const std::string& target, std::span<const std::byte> bytes) {
    std::string temp;
    if (auto failed = writeTemp(target, bytes, temp))
        return failed;
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const std::string reason = std::string("cannot replace the output file: ") + std::strerror(errno);
        ::unlink(temp.c_str());
        return reason;
    }
    return std::nullopt;
}

std::optional<std::string> writeFilesAtomic(std::span<const OutputFile> files) {
    std::vector<std::string> temps;
    auto removeTemps = [&] {
        for (const std::string& temp : temps)
            if (!temp.empty())
                ::unlink(temp.c_str());
    };
    for (const OutputFile& file : files) {
        std::string temp;
        if (auto failed = writeTemp(file.path, file.bytes, temp)) {
            removeTemps();
            return file.path + ": " + *failed;
        }
        temps.push_back(std::move(temp));
    }
    // The first file names the others: it appears last, so a reader never finds it without them.
    std::vector<std::size_t> fresh;  // renamed files that had no earlier version
    for (std::size_t n = files.size(); n-- > 0;) {
        struct stat st {};
        const bool existed = ::stat(files[n].path.c_str(), &st) == 0;
        if (::rename(temps[n].c_str(), files[n].path.c_str()) != 0) {
            const std::string reason = files[n].path + ": cannot replace the output file: " + std::strerror(errno);
            removeTemps();
            for (std::size_t i : fresh)
                ::unlink(files[i].path.c_str());
            return reason;
        }
        temps[n].clear();
        if (!existed)
            fresh.push_back(n);
    }
    return std::nullopt;
}

}  // namespace rv

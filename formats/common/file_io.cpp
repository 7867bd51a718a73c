#include "formats/common/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "runtime/paths.h"

namespace rv {

std::optional<std::vector<std::byte>> readFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::vector<std::byte> data;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        data.reserve(std::size_t(st.st_size));
    else if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::byte buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        data.insert(data.end(), buffer, buffer + n);
    }
    ::close(fd);
    return data;
}

std::optional<std::string> writeFileAtomic(const std::string& target, std::span<const std::byte> bytes) {
    const std::string folder = directoryOf(target);
    std::string temp = joinPath(folder.empty() ? "." : folder, "." + fileNameOf(target) + ".XXXXXX");
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
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const std::string reason = std::string("cannot replace the output file: ") + std::strerror(errno);
        ::unlink(temp.c_str());
        return reason;
    }
    return std::nullopt;
}

}  // namespace rv

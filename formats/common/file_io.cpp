#include "formats/common/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "runtime/paths.h"

namespace rv {

std::optional<std::vector<std::byte>> readFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    // Read straight into a buffer of the file's size; grow only if the file grows meanwhile.
    std::vector<std::byte> data(S_ISREG(st.st_mode) ? std::size_t(st.st_size) : 0);
    std::size_t used = 0;
    for (;;) {
        if (used == data.size())
            data.resize(std::max<std::size_t>(data.size() * 2, 1 << 16));
        const ssize_t n = ::read(fd, data.data() + used, data.size() - used);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        used += std::size_t(n);
    }
    ::close(fd);
    data.resize(used);
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

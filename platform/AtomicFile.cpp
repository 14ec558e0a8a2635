#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform {

bool WriteFileAtomically(const std::string& path, std::string_view content, mode_t mode,
                         std::string& error) {
    const std::string temporary = path + ".tmp";
    // A leftover of an earlier crash: it may have other permissions than the ones wanted now.
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool written = true;
    while (written && !content.empty()) {
        const ssize_t count = ::write(fd, content.data(), content.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        written = count > 0;
        if (written) {
            content.remove_prefix(static_cast<std::size_t>(count));
        }
    }
    // A file system that cannot sync (EINVAL) has nothing more to offer.
    written = written && (::fsync(fd) == 0 || errno == EINVAL);
    const int writeError = errno;
    written = ::close(fd) == 0 && written;
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = std::strerror(written ? errno : writeError);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace platform

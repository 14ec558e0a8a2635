#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform {
namespace {

// Tells apart the temporary files of one process; the process id tells apart those of others.
std::atomic<unsigned> g_temporaryCounter{0};

// How many taken names are passed over (leftovers of a process with the same id) before giving
// up.
constexpr int NAME_TRIES = 100;

// Creates a temporary file of its own beside `path`, with the permissions wanted (less the
// umask, as for any new file): "<path>.<process>-<count>.tmp". Its descriptor, or -1 with errno
// set.
int CreateTemporary(const std::string& path, mode_t mode, std::string& temporary) {
    for (int tries = 0; tries < NAME_TRIES; ++tries) {
        temporary = path + "." + std::to_string(::getpid()) + "-" +
                    std::to_string(g_temporaryCounter.fetch_add(1)) + ".tmp";
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view content, mode_t mode,
                         std::string& error) {
    // A name no other writer uses at the same time: two writers of one file each rename a
    // whole file of their own, and the last rename wins.
    std::string temporary;
    const int fd = CreateTemporary(path, mode, temporary);
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

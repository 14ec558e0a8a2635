#include "platform/WriteAll.h"

#include <unistd.h>

#include <cerrno>

namespace platform {

bool WriteAll(int fd, std::string_view bytes, std::optional<off_t> offset) {
    while (!bytes.empty()) {
        const ssize_t count = offset ? ::pwrite(fd, bytes.data(), bytes.size(), *offset)
                                     : ::write(fd, bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            if (count == 0) {
                errno = EIO;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(count));
        if (offset) {
            *offset += count;
        }
    }
    return true;
}

}  // namespace platform

#pragma once

// Writing a whole buffer to a file descriptor: short writes and interrupted ones go on until
// every byte is written or the system refuses. It opens and closes nothing.

#include <sys/types.h>

#include <optional>
#include <string_view>

namespace platform {

// Writes every byte, at the file's position or, with `offset`, from that offset (pwrite).
// False when a write failed (errno tells; EIO for one that wrote nothing).
bool WriteAll(int fd, std::string_view bytes, std::optional<off_t> offset = std::nullopt);

}  // namespace platform

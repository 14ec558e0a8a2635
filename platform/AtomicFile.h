#pragma once

// Replaces a small file in one step: the content goes to a temporary file of its own beside it
// (created with the given permissions, so it is never more readable than the file is to be),
// reaches the disk, and is renamed over the file. A crash leaves the old file or the new one,
// never half of either; two writers at once leave one's whole file, never a mix.

#include <sys/types.h>

#include <string>
#include <string_view>

namespace platform {

// False, with `error` set to the system's reason, when the file could not be replaced; the old
// file then stays as it was, and no temporary file is left.
bool WriteFileAtomically(const std::string& path, std::string_view content, mode_t mode,
                         std::string& error);

}  // namespace platform

#include "platform/RenameNoReplace.h"

#include <fcntl.h>  // AT_FDCWD
#include <unistd.h>

#include <cerrno>
#include <cstdio>  // renameat2, RENAME_NOREPLACE

namespace platform {

RenameResult RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return RenameResult::Renamed;
    }
    switch (errno) {
        case EEXIST:
            return RenameResult::NameTaken;
        // The file system (some network ones) or the kernel does not know the flag.
        case EINVAL:
        case ENOSYS:
        case EOPNOTSUPP:
            return LinkThenUnlink(from, to);
        default:
            return RenameResult::Failed;
    }
}

RenameResult LinkThenUnlink(const std::string& from, const std::string& to) {
    if (::link(from.c_str(), to.c_str()) != 0) {
        return errno == EEXIST ? RenameResult::NameTaken : RenameResult::Failed;
    }
    // The file is in place under its new name; an old name that cannot be removed is left over,
    // which costs space but takes nothing away.
    ::unlink(from.c_str());
    return RenameResult::Renamed;
}

}  // namespace platform

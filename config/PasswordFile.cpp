#include "config/PasswordFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/AtomicFile.h"

bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error) {
    password.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ENOENT) {
            return true;
        }
        error = path + " could not be read (" + std::strerror(errno) + ").";
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        error = path + " is not a plain file.";
        return false;
    }
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0 || status.st_uid != ::geteuid()) {
        ::close(fd);
        error = path +
                " can be read or changed by other users, so Zarvo does not use it. Make it "
                "private (chmod 600 " +
                path + ") or enter the password again in Configure.";
        return false;
    }
    // Room for all of it at once, so that no copy of the password is left in memory given back.
    password.reserve(static_cast<std::size_t>(status.st_size) + 1);
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            const bool failed = count < 0;
            ::close(fd);
            if (failed) {
                error = path + " could not be read.";
                password.clear();
                return false;
            }
            break;
        }
        password.append(buffer, static_cast<std::size_t>(count));
    }
    ::explicit_bzero(buffer, sizeof buffer);
    // A file written by hand usually ends in a line feed that is no part of the password.
    if (password.ends_with('\n')) {
        password.pop_back();
    }
    if (password.ends_with('\r')) {
        password.pop_back();
    }
    return true;
}

bool WritePasswordFile(const std::string& path, const std::string& password, std::string& error) {
    if (password.empty()) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            error = path + " could not be removed (" + std::strerror(errno) + ").";
            return false;
        }
        return true;
    }
    std::string reason;
    if (!platform::WriteFileAtomically(path, password, 0600, reason)) {
        error = path + " could not be written (" + reason + ").";
        return false;
    }
    return true;
}

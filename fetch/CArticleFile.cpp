#include "fetch/CArticleFile.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <system_error>

namespace {

constexpr std::string_view PREFIX = "article-";

// "article-<process id>-<article number>".
std::string FileName(pid_t process, std::uint64_t number) {
    return std::string(PREFIX) + std::to_string(process) + "-" + std::to_string(number);
}

// The process id in an article file's name, or 0 when the name is not one of ours.
pid_t ProcessOf(std::string_view name) {
    if (!name.starts_with(PREFIX)) {
        return 0;
    }
    name.remove_prefix(PREFIX.size());
    pid_t process = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), process);
    if (error != std::errc() || end == name.data() + name.size() || *end != '-' || process <= 0) {
        return 0;
    }
    std::uint64_t number = 0;
    const auto [last, numberError] = std::from_chars(end + 1, name.data() + name.size(), number);
    return numberError == std::errc() && last == name.data() + name.size() ? process : 0;
}

bool IsRunning(pid_t process) {
    return ::kill(process, 0) == 0 || errno == EPERM;
}

}  // namespace

CArticleFile::~CArticleFile() {
    Remove();
}

bool CArticleFile::Create(std::uint64_t number) {
    Remove();
    std::string path = std::string(FOLDER) + "/" + FileName(::getpid(), number);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
        // Only a process with this id can have made it, and this one did not: an earlier
        // process's leftover.
        ::unlink(path.c_str());
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    }
    if (fd < 0) {
        return false;
    }
    m_fd = fd;
    m_path = std::move(path);
    return true;
}

bool CArticleFile::Write(std::string_view body) {
    while (!body.empty() && m_fd >= 0) {
        const ssize_t written = ::write(m_fd, body.data(), body.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            Remove();
            return false;
        }
        body.remove_prefix(static_cast<std::size_t>(written));
    }
    if (m_fd < 0) {
        return false;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        Remove();
        return false;
    }
    return true;
}

void CArticleFile::Remove() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_path.empty()) {
        ::unlink(m_path.c_str());
        m_path.clear();
    }
}

void CArticleFile::RemoveLeftovers() {
    std::error_code error;
    std::filesystem::directory_iterator entries(FOLDER, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        const pid_t process = ProcessOf(name);
        // This process has written none yet, so one under its id is an earlier process's.
        if (process != 0 && (process == ::getpid() || !IsRunning(process))) {
            ::unlink(entries->path().c_str());
        }
    }
}

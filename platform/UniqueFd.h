#pragma once

// Owns one file descriptor and closes it when it goes, unless it was handed on. A descriptor
// that must be closed with its error looked at (a file just written, whose delayed write errors
// show only at close) is closed with Close(). It opens nothing itself.

#include <unistd.h>

#include <utility>

namespace platform {

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    ~UniqueFd() { Close(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Close();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    // Closes the descriptor it held (if any) and holds this one.
    void Reset(int fd = -1) {
        Close();
        m_fd = fd;
    }
    // Closes the descriptor; false when closing reported a failure (errno tells).
    bool Close() {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

}  // namespace platform

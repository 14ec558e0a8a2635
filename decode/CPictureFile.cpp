#include "decode/CPictureFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <optional>

#include "decode/PicturePublisher.h"

namespace {

constexpr std::size_t PAGE_SIZE = 4096;

// Temporary names are unique within the process by the counter and across processes by the
// process id; a name that is taken anyway (a crashed run's leftover) is skipped.
std::atomic<unsigned> g_temporaryCounter{0};
constexpr int TEMPORARY_ATTEMPTS = 100;

}  // namespace

CPictureFile::CPictureFile(std::size_t bufferSize)
    : m_capacity((std::max(bufferSize, PAGE_SIZE) + PAGE_SIZE - 1) / PAGE_SIZE * PAGE_SIZE) {}

CPictureFile::~CPictureFile() {
    Discard();
}

bool CPictureFile::Create(const std::string& target) {
    Discard();
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    for (int attempt = 0; attempt < TEMPORARY_ATTEMPTS; ++attempt) {
        // A hidden name, so a leftover of a crash does not pass for a picture. The permissions
        // are those of a plain new file (0666 less the umask), as the picture should have.
        std::string temporary = folder + ".zarvo-" + std::to_string(::getpid()) + "-" +
                                std::to_string(g_temporaryCounter.fetch_add(1)) + ".part";
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            m_fd = fd;
            m_temporary = std::move(temporary);
            m_target = target;
            break;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    if (m_fd < 0) {
        return false;
    }
    if (!m_buffer) {
        m_buffer.reset(static_cast<unsigned char*>(std::aligned_alloc(PAGE_SIZE, m_capacity)));
        if (!m_buffer) {
            Discard();
            return false;
        }
    }
    m_used = 0;
    return true;
}

std::span<unsigned char> CPictureFile::SpaceAfterFlush(std::size_t count) {
    if (m_fd < 0 || count > m_capacity || !Flush()) {
        Discard();
        return {};
    }
    return {m_buffer.get(), m_capacity};
}

bool CPictureFile::Flush() {
    std::size_t written = 0;
    while (written < m_used) {
        const ssize_t count = ::write(m_fd, m_buffer.get() + written, m_used - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(count);
    }
    m_used = 0;
    return true;
}

CPictureFile::CommitResult CPictureFile::Commit() {
    if (m_fd < 0 || !Flush()) {
        Discard();
        return CommitResult::WriteFailed;
    }
    // A delayed write error (a full disk on some file systems) shows only at close.
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        Discard();
        return CommitResult::WriteFailed;
    }
    // PublishPicture removes the temporary file whatever becomes of it.
    std::optional<std::string> published = PublishPicture(m_temporary, m_target);
    m_temporary.clear();
    if (!published) {
        return CommitResult::PublishFailed;
    }
    m_published = std::move(*published);
    return CommitResult::Done;
}

void CPictureFile::Discard() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
    m_used = 0;
}

#include "decode/CArticleReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr std::size_t PAGE_SIZE = 4096;

}  // namespace

CArticleReader::CArticleReader(std::size_t chunkSize)
    : m_chunkSize(std::clamp<std::size_t>(chunkSize, 1, CHUNK_SIZE)) {}

CArticleReader::~CArticleReader() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool CArticleReader::Open(const std::string& path) {
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        return false;
    }
    // The whole file is read once from start to end; let the kernel read ahead generously.
    ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

void CArticleReader::OpenMemory(std::string_view bytes) {
    m_data = bytes.data();
    m_position = 0;
    m_end = bytes.size();
    m_knownSize = bytes.size();
    m_sizeKnown = true;
    m_atEnd = true;  // nothing more comes after these bytes
}

bool CArticleReader::ReadSize(std::uint64_t& size) {
    if (m_fd < 0 && m_sizeKnown) {
        size = m_knownSize;  // bytes in memory
        return true;
    }
    struct stat status {};
    if (::fstat(m_fd, &status) != 0) {
        return false;
    }
    size = static_cast<std::uint64_t>(status.st_size);
    m_knownSize = size;
    m_sizeKnown = true;
    return true;
}

bool CArticleReader::Close() {
    const int fd = m_fd;
    m_fd = -1;
    return fd < 0 || ::close(fd) == 0;
}

bool CArticleReader::Refill() {
    if (m_atEnd || m_fd < 0) {
        m_atEnd = true;
        return false;
    }
    if (!m_buffer) {
        // A small article gets a small buffer: fresh memory costs time on first touch, and most
        // articles are far below the chunk size.
        std::size_t wanted = m_chunkSize;
        if (m_sizeKnown && m_knownSize < wanted) {
            wanted = std::max<std::size_t>(static_cast<std::size_t>(m_knownSize), 1);
        }
        m_chunkSize = wanted;
        const std::size_t allocation = (wanted + PAGE_SIZE - 1) / PAGE_SIZE * PAGE_SIZE;
        m_buffer.reset(static_cast<char*>(std::aligned_alloc(PAGE_SIZE, allocation)));
        if (!m_buffer) {
            m_atEnd = true;
            return false;
        }
        m_data = m_buffer.get();
    }
    m_position = 0;
    m_end = 0;
    for (;;) {
        const ssize_t count = ::read(m_fd, m_buffer.get(), m_chunkSize);
        if (count > 0) {
            m_end = static_cast<std::size_t>(count);
            return true;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        m_atEnd = true;
        return false;
    }
}

bool CArticleReader::NextLineAcrossReads(std::string_view& line) {
    // The buffer holds less than a whole line: collect it in m_carry, chunk by chunk, under the
    // same rule as the inline path. Reads always land at the buffer's start, which stays
    // page-aligned.
    m_carry.clear();
    for (;;) {
        const std::size_t wanted = LINE_LIMIT - m_carry.size();
        const std::size_t available = m_end - m_position;
        const char* start = m_data != nullptr ? m_data + m_position : nullptr;
        const std::size_t span = std::min(available, wanted);
        const void* feed = span > 0 ? std::memchr(start, '\n', span) : nullptr;
        if (feed != nullptr || span == wanted) {
            const std::size_t length =
                feed != nullptr ? static_cast<std::size_t>(static_cast<const char*>(feed) - start)
                                : span;
            m_position += feed != nullptr ? length + 1 : length;
            m_carry.append(start, length);
            line = m_carry;
            if (feed != nullptr && !line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            line = EndAtNul(line);
            return true;
        }
        if (span > 0) {
            m_carry.append(start, span);
        }
        m_position = m_end;
        if (!Refill()) {
            if (m_carry.empty()) {
                return false;
            }
            line = EndAtNul(m_carry);
            return true;
        }
    }
}

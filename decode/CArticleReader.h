#pragma once

// Reads a saved article file line by line, cutting lines exactly where a 300-byte fgets buffer
// would: at most 299 characters per line, a longer physical line arriving as several lines, a
// trailing LF removed together with a CR right before it, and a line read as a C text (it ends
// at a NUL byte). It streams the file through one page-aligned buffer, so its memory does not
// grow with the article; it reads bytes already in memory the same way. It knows nothing of
// uuencode.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

class CArticleReader {
public:
    // The longest line one read yields: what fits a 300-byte buffer beside its NUL.
    static constexpr std::size_t LINE_LIMIT = 299;
    // Large reads keep the system calls rare; whole pages keep them cheap.
    static constexpr std::size_t CHUNK_SIZE = 1 << 20;

    // `chunkSize` is the most one read asks for (tests use small ones to cut lines across reads).
    explicit CArticleReader(std::size_t chunkSize = CHUNK_SIZE);
    ~CArticleReader();
    CArticleReader(const CArticleReader&) = delete;
    CArticleReader& operator=(const CArticleReader&) = delete;

    // Opens the file for reading; false (with errno set) when it cannot be opened.
    bool Open(const std::string& path);
    // Reads the bytes in memory instead of a file, cutting lines by the same rule; they must
    // outlive the reader.
    void OpenMemory(std::string_view bytes);
    // The open file's size in bytes; false (with errno set) when its status cannot be read.
    bool ReadSize(std::uint64_t& size);

    // The next line, valid until the next call; false at the end of the file. A read error
    // counts as the end of the file, as it does for fgets.
    bool NextLine(std::string_view& line) {
        // The common case, a whole line inside the buffer, stays inline: it runs once per line.
        if (m_end - m_position > LINE_LIMIT) {
            const char* start = m_data + m_position;
            const std::size_t span = LINE_LIMIT;
            const void* feed = std::memchr(start, '\n', span);
            std::size_t length = span;
            if (feed != nullptr) {
                length = static_cast<std::size_t>(static_cast<const char*>(feed) - start);
                m_position += length + 1;
            } else {
                m_position += span;
            }
            line = std::string_view(start, length);
            if (feed != nullptr && length > 0 && start[length - 1] == '\r') {
                line.remove_suffix(1);
            }
            line = EndAtNul(line);
            return true;
        }
        return NextLineAcrossReads(line);
    }

    // What is buffered after the last line handed out, for a caller that recognises a whole line
    // there faster than NextLine would; it must cut lines by the same rule and then Skip() the
    // line with its terminator. May be empty or hold only part of a line.
    std::string_view Buffered() const {
        return m_data != nullptr ? std::string_view(m_data + m_position, m_end - m_position)
                                 : std::string_view();
    }
    void Skip(std::size_t count) { m_position += count; }

    // Closes the file; false (with errno set) when closing failed.
    bool Close();

private:
    struct FreeBuffer {
        void operator()(char* buffer) const { std::free(buffer); }
    };

    static std::string_view EndAtNul(std::string_view line) {
        const void* nul = std::memchr(line.data(), '\0', line.size());
        return nul == nullptr
                   ? line
                   : line.substr(
                         0, static_cast<std::size_t>(static_cast<const char*>(nul) - line.data()));
    }

    bool NextLineAcrossReads(std::string_view& line);
    // Reads the next chunk into the buffer's start; false at the end of the file.
    bool Refill();

    std::size_t m_chunkSize;
    int m_fd = -1;
    std::uint64_t m_knownSize = 0;
    bool m_sizeKnown = false;
    std::unique_ptr<char, FreeBuffer> m_buffer;
    const char* m_data = nullptr;  // the bytes being cut: the buffer's, or those in memory
    std::size_t m_position = 0;    // next unread byte in the buffer
    std::size_t m_end = 0;         // bytes held in the buffer
    bool m_atEnd = false;          // the file gave its last byte
    std::string m_carry;           // a line begun in the previous chunk
};

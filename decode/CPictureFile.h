#pragma once

// One picture being decoded. The bytes go into a hidden temporary file beside the picture's name
// and are published under that name (PublishPicture) only when the block is complete (Commit),
// so a broken or partial block never leaves a torn file behind; every other way out removes the
// temporary file. It buffers the bytes and writes them in large pieces; it knows nothing of
// uuencode.

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>

class CPictureFile {
public:
    // Large writes keep the system calls rare.
    static constexpr std::size_t BUFFER_SIZE = 1 << 20;

    enum class CommitResult { Done, WriteFailed, PublishFailed };

    // `bufferSize` is the most one write hands to the system (at least one page is used).
    explicit CPictureFile(std::size_t bufferSize = BUFFER_SIZE);
    // Removes the temporary file unless Commit succeeded.
    ~CPictureFile();
    CPictureFile(const CPictureFile&) = delete;
    CPictureFile& operator=(const CPictureFile&) = delete;

    // Creates the temporary file in the folder of `target` (a path relative to the current
    // directory or absolute). False when it cannot be created.
    bool Create(const std::string& target);

    // Room for at least `count` more bytes (count at most one page), writing the buffer out
    // first when it is too full. Empty when that write failed (the file is then abandoned) and
    // whenever no file is open.
    std::span<unsigned char> Space(std::size_t count) {
        if (m_fd >= 0 && m_capacity - m_used >= count) {
            return {m_buffer.get() + m_used, m_capacity - m_used};
        }
        return SpaceAfterFlush(count);
    }
    // Accounts `count` bytes that the caller put at the start of the last Space().
    void Added(std::size_t count) { m_used += count; }

    // Writes out the rest, closes the file and publishes it under the target's name, or under a
    // numbered name beside it when that one holds another picture (PublishPicture). On failure
    // the temporary file is removed and nothing in the folder changes.
    CommitResult Commit();
    // The path the last successful Commit gave the picture: the target, or a numbered name.
    const std::string& PublishedPath() const { return m_published; }
    // Removes the temporary file; the target is left as it was.
    void Discard();

private:
    struct FreeBuffer {
        void operator()(unsigned char* buffer) const { std::free(buffer); }
    };

    std::span<unsigned char> SpaceAfterFlush(std::size_t count);
    bool Flush();

    std::size_t m_capacity;
    std::unique_ptr<unsigned char, FreeBuffer> m_buffer;
    std::size_t m_used = 0;
    int m_fd = -1;
    std::string m_target;
    std::string m_temporary;
    std::string m_published;
};

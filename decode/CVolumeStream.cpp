#include "decode/CVolumeStream.h"

#include <archive.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

struct CVolumeStreamCallbacks {
    static la_ssize_t Read(archive*, void* self, const void** block) {
        CVolumeStream& stream = *static_cast<CVolumeStream*>(self);
        const std::int64_t count = stream.ReadAt(stream.m_start + stream.m_position,
                                                 stream.m_block.get(), CVolumeStream::BLOCK_SIZE);
        *block = stream.m_block.get();
        if (count > 0) {
            stream.m_position += static_cast<std::uint64_t>(count);
        }
        return static_cast<la_ssize_t>(count);
    }

    static la_int64_t Skip(archive*, void* self, la_int64_t request) {
        CVolumeStream& stream = *static_cast<CVolumeStream*>(self);
        const std::uint64_t left = stream.m_size - stream.m_start - stream.m_position;
        const std::uint64_t skipped =
            request <= 0 ? 0 : std::min(left, static_cast<std::uint64_t>(request));
        stream.m_position += skipped;
        return static_cast<la_int64_t>(skipped);
    }

    static la_int64_t Seek(archive*, void* self, la_int64_t offset, int whence) {
        CVolumeStream& stream = *static_cast<CVolumeStream*>(self);
        const auto length = static_cast<la_int64_t>(stream.m_size - stream.m_start);
        la_int64_t base = 0;
        if (whence == SEEK_CUR) {
            base = static_cast<la_int64_t>(stream.m_position);
        } else if (whence == SEEK_END) {
            base = length;
        } else if (whence != SEEK_SET) {
            return ARCHIVE_FATAL;
        }
        // No seek before the start nor past the end: the stream has nothing there.
        if ((offset < 0 && -offset > base) || (offset > 0 && offset > length - base)) {
            return ARCHIVE_FATAL;
        }
        stream.m_position = static_cast<std::uint64_t>(base + offset);
        return static_cast<la_int64_t>(stream.m_position);
    }
};

CVolumeStream::CVolumeStream() = default;

CVolumeStream::~CVolumeStream() {
    for (const int fd : m_files) {
        ::close(fd);
    }
}

bool CVolumeStream::Open(const std::vector<std::string>& volumes) {
    std::vector<int> files;
    std::vector<std::uint64_t> starts;
    std::uint64_t size = 0;
    const auto fail = [&files](int error) {
        for (const int fd : files) {
            ::close(fd);
        }
        errno = error;
        return false;
    };
    for (const std::string& volume : volumes) {
        const int fd = ::open(volume.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return fail(errno);
        }
        files.push_back(fd);
        struct stat status {};
        if (::fstat(fd, &status) != 0) {
            return fail(errno);
        }
        if (!S_ISREG(status.st_mode)) {
            return fail(EINVAL);
        }
        starts.push_back(size);
        size += static_cast<std::uint64_t>(status.st_size);
    }
    if (!m_block) {
        m_block = std::make_unique<unsigned char[]>(BLOCK_SIZE);
    }
    for (const int fd : m_files) {
        ::close(fd);
    }
    m_files = std::move(files);
    m_starts = std::move(starts);
    m_size = size;
    m_start = 0;
    m_position = 0;
    return true;
}

std::int64_t CVolumeStream::ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const {
    std::size_t done = 0;
    while (done < count && offset + done < m_size) {
        const std::uint64_t at = offset + done;
        // The last volume that starts at or before `at`; empty volumes are stepped over.
        const std::size_t volume =
            static_cast<std::size_t>(std::upper_bound(m_starts.begin(), m_starts.end(), at) -
                                     m_starts.begin()) -
            1;
        const std::uint64_t end = volume + 1 < m_starts.size() ? m_starts[volume + 1] : m_size;
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(count - done, end - at));
        const ssize_t got = ::pread(m_files[volume], static_cast<char*>(buffer) + done, wanted,
                                    static_cast<off_t>(at - m_starts[volume]));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;  // the volume shrank since it was opened
        }
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

int CVolumeStream::OpenReader(archive* reader, std::uint64_t start) {
    m_start = std::min(start, m_size);
    m_position = 0;
    archive_read_set_callback_data(reader, this);
    archive_read_set_read_callback(reader, CVolumeStreamCallbacks::Read);
    archive_read_set_skip_callback(reader, CVolumeStreamCallbacks::Skip);
    archive_read_set_seek_callback(reader, CVolumeStreamCallbacks::Seek);
    return archive_read_open1(reader);
}

std::uint64_t CVolumeStream::ConsumedBy(archive* reader) const {
    const la_int64_t consumed = archive_filter_bytes(reader, -1);
    return m_start + static_cast<std::uint64_t>(std::max<la_int64_t>(consumed, 0));
}

#pragma once

// The volumes of one archive as one stream of bytes, the volumes one after the other, handed to
// libarchive as the source of a reader: reads, skips and seeks cross from one volume to the next
// as if the volumes had been joined into one file, without copying them. The reader may be given
// the stream from any offset on (a RAR 4 set goes on after a volume whose end block libarchive
// takes for the end of everything). It only reads, and knows no archive format.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct archive;

class CVolumeStream {
public:
    // The most one read hands to libarchive.
    static constexpr std::size_t BLOCK_SIZE = std::size_t{64} << 10;

    CVolumeStream();
    ~CVolumeStream();
    CVolumeStream(const CVolumeStream&) = delete;
    CVolumeStream& operator=(const CVolumeStream&) = delete;

    // Opens every volume. False (errno telling why) when one cannot be opened or is not a plain
    // file; nothing stays open then.
    bool Open(const std::vector<std::string>& volumes);
    // The size of all volumes together.
    std::uint64_t Size() const { return m_size; }

    // Up to `count` bytes from `offset` of the whole, fewer only at its end; -1 on a read error.
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const;

    // Makes the stream from `start` on the source of `reader` and opens the reader
    // (archive_read_open1's result). The stream must outlive the reader's use.
    int OpenReader(archive* reader, std::uint64_t start);
    // The offset of the whole stream that `reader`, opened by OpenReader, has consumed up to.
    std::uint64_t ConsumedBy(archive* reader) const;

private:
    // libarchive's read, skip and seek callbacks.
    friend struct CVolumeStreamCallbacks;

    std::vector<int> m_files;
    std::vector<std::uint64_t> m_starts;  // each volume's first offset in the whole
    std::uint64_t m_size = 0;
    std::uint64_t m_start = 0;     // where the reader's stream begins in the whole
    std::uint64_t m_position = 0;  // the reader's next read, from m_start
    std::unique_ptr<unsigned char[]> m_block;
};

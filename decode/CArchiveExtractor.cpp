#include "decode/CArchiveExtractor.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "decode/CVolumeStream.h"
#include "decode/FileKind.h"
#include "decode/PictureName.h"

namespace {

using namespace std::string_view_literals;

constexpr std::string_view RAR4_SIGNATURE = "Rar!\x1A\x07\0"sv;
constexpr std::string_view RAR5_SIGNATURE = "Rar!\x1A\x07\x01\0"sv;
// RAR 5 allows no larger block header.
constexpr std::uint64_t RAR5_HEADER_LIMIT = std::uint64_t{2} << 20;

// Temporary names are unique within the process by the counter and across processes by the
// process id; a name that is taken anyway (a crashed run's leftover) is skipped.
std::atomic<unsigned> g_temporaryCounter{0};
constexpr int TEMPORARY_ATTEMPTS = 100;

struct FreeReader {
    void operator()(archive* reader) const { archive_read_free(reader); }
};
using Reader = std::unique_ptr<archive, FreeReader>;

// A reader for the four formats, without any decompression filter: a gzip stream or the like
// is not an archive of pictures.
Reader NewReader() {
    Reader reader(archive_read_new());
    if (reader) {
        archive_read_support_format_zip(reader.get());
        archive_read_support_format_rar(reader.get());
        archive_read_support_format_rar5(reader.get());
        archive_read_support_format_7zip(reader.get());
    }
    return reader;
}

// A picture being written in the work folder: removed when it goes, unless handed over.
class CTemporaryPicture {
public:
    CTemporaryPicture() = default;
    ~CTemporaryPicture() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        if (!m_path.empty()) {
            ::unlink(m_path.c_str());
        }
    }
    CTemporaryPicture(const CTemporaryPicture&) = delete;
    CTemporaryPicture& operator=(const CTemporaryPicture&) = delete;

    bool Create(const std::string& folder) {
        const std::string prefix = folder.empty() || folder.ends_with('/') ? folder : folder + "/";
        for (int attempt = 0; attempt < TEMPORARY_ATTEMPTS; ++attempt) {
            // Hidden, so that a leftover of a crash does not pass for a picture; readable by
            // the user alone until the caller publishes it.
            std::string path = prefix + ".zarvo-archive-" + std::to_string(::getpid()) + "-" +
                               std::to_string(g_temporaryCounter.fetch_add(1)) + ".part";
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd >= 0) {
                m_fd = fd;
                m_path = std::move(path);
                return true;
            }
            if (errno != EEXIST) {
                return false;
            }
        }
        return false;
    }

    bool Write(const char* bytes, std::size_t count) {
        while (count > 0) {
            const ssize_t written = ::write(m_fd, bytes, count);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return false;
            }
            bytes += written;
            count -= static_cast<std::size_t>(written);
        }
        return true;
    }

    // Closes the file; false when a delayed write error shows.
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

    // The file's path; it is no longer removed.
    std::string Release() { return std::exchange(m_path, std::string()); }

private:
    int m_fd = -1;
    std::string m_path;
};

// A RAR 5 variable-length number: seven bits a byte, the lowest first.
bool TakeVint(std::string_view& in, std::uint64_t& value) {
    value = 0;
    for (unsigned shift = 0; shift < 64 && !in.empty(); shift += 7) {
        const auto byte = static_cast<unsigned char>(in.front());
        in.remove_prefix(1);
        value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) {
            return true;
        }
    }
    return false;
}

bool HasBytesAt(const CVolumeStream& stream, std::uint64_t offset, std::string_view bytes) {
    std::string read(bytes.size(), '\0');
    return stream.ReadAt(offset, read.data(), read.size()) ==
               static_cast<std::int64_t>(bytes.size()) &&
           read == bytes;
}

// Whether a RAR 5 archive declares encryption anywhere in its block headers: an archive
// encryption block, or a file or service block with an encryption record. libarchive 3.6
// reports neither (it reads an encrypted file's bytes as if they were plain), so the block
// headers are walked here, across the volumes, skipping the data.
bool Rar5DeclaresEncryption(const CVolumeStream& stream) {
    if (!HasBytesAt(stream, 0, RAR5_SIGNATURE)) {
        return false;
    }
    std::uint64_t offset = RAR5_SIGNATURE.size();
    while (offset < stream.Size()) {
        char start[4 + 10];
        const std::int64_t got = stream.ReadAt(offset, start, sizeof start);
        std::string_view sized(start, got < 4 ? 0 : static_cast<std::size_t>(got));
        sized.remove_prefix(std::min<std::size_t>(sized.size(), 4));  // the header's CRC
        const std::size_t before = sized.size();
        std::uint64_t size = 0;
        if (!TakeVint(sized, size) || size == 0 || size > RAR5_HEADER_LIMIT) {
            return false;
        }
        const std::uint64_t headerStart = offset + 4 + (before - sized.size());
        std::string header(static_cast<std::size_t>(size), '\0');
        if (stream.ReadAt(headerStart, header.data(), header.size()) !=
            static_cast<std::int64_t>(header.size())) {
            return false;
        }
        std::string_view fields(header);
        std::uint64_t type = 0, flags = 0, extraSize = 0, dataSize = 0;
        if (!TakeVint(fields, type) || !TakeVint(fields, flags) ||
            ((flags & 0x0001) != 0 && !TakeVint(fields, extraSize)) ||
            ((flags & 0x0002) != 0 && !TakeVint(fields, dataSize))) {
            return false;
        }
        if (type == 4) {
            return true;  // the archive's headers are encrypted
        }
        if ((type == 2 || type == 3) && extraSize > 0 && extraSize <= header.size()) {
            std::string_view extra(header);
            extra.remove_prefix(header.size() - static_cast<std::size_t>(extraSize));
            std::uint64_t recordSize = 0, recordType = 0;
            while (TakeVint(extra, recordSize) && recordSize > 0 && recordSize <= extra.size()) {
                std::string_view record = extra.substr(0, static_cast<std::size_t>(recordSize));
                if (TakeVint(record, recordType) && recordType == 1) {
                    return true;  // this file's bytes are encrypted
                }
                extra.remove_prefix(static_cast<std::size_t>(recordSize));
            }
        }
        if (dataSize > stream.Size()) {
            return false;
        }
        offset = headerStart + size + dataSize;
        if (type == 5) {
            // The end of a volume: the next one, if any, starts with its own signature.
            if (!HasBytesAt(stream, offset, RAR5_SIGNATURE)) {
                return false;
            }
            offset += RAR5_SIGNATURE.size();
        }
    }
    return false;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtensionOf(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    std::string extension(dot == std::string_view::npos ? "" : name.substr(dot + 1));
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 32);
        }
    }
    return extension;
}

bool Stopped(const std::atomic<bool>* stop) {
    return stop != nullptr && stop->load(std::memory_order_relaxed);
}

// One extraction's state: the stream, the counts and the result being built.
class CExtraction {
public:
    using Outcome = CArchiveExtractor::Outcome;

    CExtraction(const std::vector<std::string>& volumes, const std::string& workFolder,
                const CArchiveLimits& limits,
                const std::function<bool(const CArchiveExtractor::Picture&)>& take,
                const std::atomic<bool>* stop)
        : m_volumes(volumes),
          m_workFolder(workFolder),
          m_limits(limits),
          m_take(take),
          m_stop(stop),
          m_block(std::make_unique<char[]>(CVolumeStream::BLOCK_SIZE)) {}

    CArchiveExtractor::Result Run();

private:
    enum class Step { Next, End };

    CArchiveExtractor::Result Finish(Outcome outcome, const std::string& why = {});
    CArchiveExtractor::Result Failed(archive* reader, archive_entry* entry);
    // Handles one regular file entry; End with the result set when the extraction ends.
    Step Entry(archive* reader, archive_entry* entry);
    // The name a picture entry is handed over under, or nothing when it is no picture.
    std::optional<std::string> PictureName(archive_entry* entry, std::string_view head) const;

    const std::vector<std::string>& m_volumes;
    const std::string& m_workFolder;
    const CArchiveLimits& m_limits;
    const std::function<bool(const CArchiveExtractor::Picture&)>& m_take;
    const std::atomic<bool>* m_stop;
    std::unique_ptr<char[]> m_block;
    CVolumeStream m_stream;
    std::uint64_t m_written = 0;
    std::uint64_t m_entries = 0;
    CArchiveExtractor::Result m_result;
};

CArchiveExtractor::Result CExtraction::Finish(Outcome outcome, const std::string& why) {
    m_result.outcome = outcome;
    if (!why.empty()) {
        const std::string name = m_volumes.empty() ? "archive" : BaseName(m_volumes.front());
        m_result.log = name + ": " + why;
    }
    return m_result;
}

CArchiveExtractor::Result CExtraction::Failed(archive* reader, archive_entry* entry) {
    if (archive_read_has_encrypted_entries(reader) > 0 ||
        (entry != nullptr && archive_entry_is_encrypted(entry))) {
        return Finish(Outcome::Encrypted, "encrypted, its pictures are left out");
    }
    const char* error = archive_error_string(reader);
    return Finish(Outcome::Damaged, "damaged after " + std::to_string(m_result.pictures) +
                                        " pictures (" + (error ? error : "unreadable") + ")");
}

CArchiveExtractor::Result CExtraction::Run() {
    if (m_volumes.empty() || !m_stream.Open(m_volumes)) {
        return Finish(Outcome::NotReadable,
                      std::string("cannot be opened (") + std::strerror(errno) + ")");
    }
    if (Rar5DeclaresEncryption(m_stream)) {
        return Finish(Outcome::Encrypted, "encrypted, its pictures are left out");
    }
    std::uint64_t start = 0;
    for (;;) {
        const Reader reader = NewReader();
        if (!reader) {
            return Finish(Outcome::NotReadable, "no memory to read it");
        }
        if (m_stream.OpenReader(reader.get(), start) != ARCHIVE_OK) {
            if (start > 0) {
                return Failed(reader.get(), nullptr);
            }
            const char* error = archive_error_string(reader.get());
            return Finish(Outcome::NotReadable,
                          std::string("not a readable archive (") + (error ? error : "") + ")");
        }
        for (;;) {
            if (Stopped(m_stop)) {
                return Finish(Outcome::Stopped);
            }
            archive_entry* entry = nullptr;
            const int status = archive_read_next_header(reader.get(), &entry);
            if (status == ARCHIVE_EOF) {
                break;
            }
            if (++m_entries > m_limits.maxFiles) {
                return Finish(Outcome::LimitReached, "more than " +
                                                         std::to_string(m_limits.maxFiles) +
                                                         " entries, the rest left out");
            }
            if (status == ARCHIVE_RETRY) {
                continue;
            }
            if (status < ARCHIVE_WARN) {
                return Failed(reader.get(), entry);
            }
            if (Entry(reader.get(), entry) == Step::End) {
                return m_result;
            }
        }
        // A RAR 4 volume whose last file ends at its edge closes with an end block that
        // libarchive takes for the end of the archive; the next volume goes on after it.
        const std::uint64_t consumed = m_stream.ConsumedBy(reader.get());
        if (archive_format(reader.get()) != ARCHIVE_FORMAT_RAR || consumed <= start ||
            !HasBytesAt(m_stream, consumed, RAR4_SIGNATURE)) {
            break;
        }
        start = consumed;
    }
    return Finish(Outcome::Done);
}

std::optional<std::string> CExtraction::PictureName(archive_entry* entry,
                                                    std::string_view head) const {
    if (head.empty()) {
        return std::nullopt;
    }
    const char* path = archive_entry_pathname_utf8(entry);
    if (path == nullptr) {
        path = archive_entry_pathname(entry);
    }
    const std::optional<std::string> base = SafePictureName(path != nullptr ? path : "");
    const CSniffed sniffed = SniffBytes(head);
    if (sniffed.kind == FileKind::Archive) {
        return std::nullopt;  // an archive inside, whatever its name: never opened
    }
    if (base && KindOfName(*base) == FileKind::Picture) {
        // Named as a picture: the bytes must say so too, where the format has a signature.
        const bool picture =
            sniffed.kind == FileKind::Picture || !PictureHasSignature(ExtensionOf(*base));
        return picture ? base : std::nullopt;
    }
    if (sniffed.kind != FileKind::Picture) {
        return std::nullopt;
    }
    // A picture under another name keeps that name, with the extension that opens it.
    const std::string extension(sniffed.extension);
    return SafePictureName(base.value_or("picture") + extension).value_or("picture" + extension);
}

CExtraction::Step CExtraction::Entry(archive* reader, archive_entry* entry) {
    if (archive_entry_is_encrypted(entry)) {
        m_result = Failed(reader, entry);
        return Step::End;
    }
    const auto type = archive_entry_filetype(entry);
    if (type == AE_IFDIR) {
        return Step::Next;
    }
    // Links of every kind are passed over, and so is anything but a plain file.
    if (type != AE_IFREG || archive_entry_hardlink(entry) != nullptr ||
        archive_entry_symlink(entry) != nullptr) {
        ++m_result.passedOver;
        return Step::Next;
    }

    // The first bytes decide, with the name, whether this is a picture.
    std::string head;
    char* const block = m_block.get();
    while (head.size() < SNIFF_BYTES) {
        const la_ssize_t count = archive_read_data(reader, block, CVolumeStream::BLOCK_SIZE);
        if (count < 0) {
            m_result = Failed(reader, entry);
            return Step::End;
        }
        if (count == 0) {
            break;
        }
        head.append(block, static_cast<std::size_t>(count));
    }
    const std::optional<std::string> name = PictureName(entry, head);
    if (!name) {
        ++m_result.passedOver;
        if (archive_read_data_skip(reader) < ARCHIVE_WARN) {
            m_result = Failed(reader, entry);
            return Step::End;
        }
        return Step::Next;
    }

    CTemporaryPicture file;
    if (!file.Create(m_workFolder)) {
        m_result = Finish(Outcome::WriteFailed, "no file can be made in " + m_workFolder + " (" +
                                                    std::strerror(errno) + ")");
        return Step::End;
    }
    std::string_view pending = head;
    for (;;) {
        // The limit counts what is written, whatever the archive says an entry holds.
        if (pending.size() > m_limits.maxBytes - m_written) {
            m_result = Finish(Outcome::LimitReached, "its pictures exceed " +
                                                         std::to_string(m_limits.maxBytes) +
                                                         " bytes, the rest left out");
            return Step::End;
        }
        if (!file.Write(pending.data(), pending.size())) {
            m_result =
                Finish(Outcome::WriteFailed, "a picture cannot be written to " + m_workFolder +
                                                 " (" + std::strerror(errno) + ")");
            return Step::End;
        }
        m_written += pending.size();
        if (Stopped(m_stop)) {
            m_result = Finish(Outcome::Stopped);
            return Step::End;
        }
        const la_ssize_t count = archive_read_data(reader, block, CVolumeStream::BLOCK_SIZE);
        if (count < 0) {
            m_result = Failed(reader, entry);
            return Step::End;
        }
        if (count == 0) {
            break;
        }
        pending = std::string_view(block, static_cast<std::size_t>(count));
    }
    if (!file.Close()) {
        m_result = Finish(Outcome::WriteFailed, "a picture cannot be written to " + m_workFolder +
                                                    " (" + std::strerror(errno) + ")");
        return Step::End;
    }
    ++m_result.pictures;
    if (!m_take(CArchiveExtractor::Picture{*name, file.Release()})) {
        m_result = Finish(Outcome::WriteFailed, "stopped after a picture could not be kept");
        return Step::End;
    }
    return Step::Next;
}

}  // namespace

CArchiveExtractor::Result CArchiveExtractor::Extract(
    const std::vector<std::string>& volumes, const std::string& workFolder,
    const CArchiveLimits& limits, const std::function<bool(const Picture&)>& take,
    const std::atomic<bool>* stop) {
    CExtraction extraction(volumes, workFolder, limits, take, stop);
    return extraction.Run();
}

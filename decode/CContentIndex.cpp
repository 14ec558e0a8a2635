#include "decode/CContentIndex.h"
#include "platform/UniqueFd.h"
#include "platform/WriteAll.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <stdlib.h>  // mkstemp
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view HEADER = "# zarvo content index 1";
constexpr std::size_t HEX_DIGITS = 64;
// The index is read and written a block at a time, pictures hashed a smaller one at a time.
constexpr std::size_t READ_BLOCK = std::size_t{1} << 20;
constexpr std::size_t SMALL_READ = 4096;
constexpr std::size_t HASH_BLOCK = std::size_t{256} << 10;
// Bytes a line takes on average, to size the digest set from the file's size before reading.
constexpr std::size_t TYPICAL_LINE = 100;

// The index file, opened and held under a flock (LOCK_SH or LOCK_EX) for as long as the object
// lives. When the file was replaced by a rename while the lock was awaited, the new file is
// opened and locked instead, so the lock is always on the file the name stands for.
class CLockedFile {
public:
    CLockedFile(const std::string& path, int flags, int operation) {
        for (;;) {
            m_file.Reset(::open(path.c_str(), flags | O_CLOEXEC, 0644));
            if (m_file.Get() < 0) {
                m_error = errno;
                return;
            }
            while (::flock(m_file.Get(), operation) != 0) {
                if (errno != EINTR) {
                    m_error = errno;
                    m_file.Close();
                    return;
                }
            }
            struct stat held {};
            struct stat named {};
            if (::fstat(m_file.Get(), &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
                held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
                return;
            }
        }
    }
    int Get() const { return m_file.Get(); }
    // Why the file could not be had (an errno value).
    int Error() const { return m_error; }

private:
    platform::UniqueFd m_file;
    int m_error = 0;
};

// A unique temporary file beside `path` that takes the place of the file under that name on
// Commit, and is removed when it never does.
class CReplacement {
public:
    CReplacement(const std::string& path, mode_t mode)
        : m_path(path), m_temporary(path + ".XXXXXX") {
        m_file.Reset(::mkstemp(m_temporary.data()));
        if (m_file.Get() < 0) {
            m_error = errno;
            m_temporary.clear();
        } else if (::fchmod(m_file.Get(), mode) != 0) {
            m_error = errno;
        }
    }
    ~CReplacement() {
        m_file.Close();
        if (!m_temporary.empty()) {
            ::unlink(m_temporary.c_str());
        }
    }
    CReplacement(const CReplacement&) = delete;
    CReplacement& operator=(const CReplacement&) = delete;
    // Why the file cannot take the place (an errno value), 0 so far.
    int Error() const { return m_error; }

    void Write(std::string_view text) {
        m_buffer += text;
        if (m_buffer.size() >= READ_BLOCK) {
            WriteBuffer();
        }
    }
    // The new content on the disk, then under the name. False with `reason` set otherwise.
    bool Commit(std::string& reason) {
        WriteBuffer();
        // A file system that cannot sync (EINVAL) has nothing more to offer.
        if (m_error == 0 && ::fsync(m_file.Get()) != 0 && errno != EINVAL) {
            m_error = errno;
        }
        if (!m_file.Close() && m_error == 0) {
            m_error = errno;
        }
        if (m_error == 0 && std::rename(m_temporary.c_str(), m_path.c_str()) != 0) {
            m_error = errno;
        }
        if (m_error != 0) {
            reason = std::strerror(m_error);
            return false;
        }
        m_temporary.clear();
        return true;
    }

private:
    void WriteBuffer() {
        std::string_view rest = m_buffer;
        while (m_error == 0 && !rest.empty()) {
            const ssize_t count = ::write(m_file.Get(), rest.data(), rest.size());
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                m_error = count < 0 ? errno : EIO;
                break;
            }
            rest.remove_prefix(static_cast<std::size_t>(count));
        }
        m_buffer.clear();
    }

    std::string m_path;
    std::string m_temporary;  // empty once renamed, or when it could not be made
    platform::UniqueFd m_file;
    std::string m_buffer;
    int m_error = 0;
};

struct Entry {
    CContentIndex::Digest digest{};
    std::uint64_t size = 0;
    std::string_view path;
};

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool Writable(std::string_view path) {
    return !path.empty() && path.find_first_of(std::string_view("\n\0", 2)) == path.npos;
}

// One picture's line: 64 lowercase hex digits, a blank, the size in decimal, a blank, the path
// (which may hold blanks). Nothing when the line is not exactly that.
std::optional<Entry> ParseLine(std::string_view line) {
    Entry entry;
    if (line.size() < HEX_DIGITS + 4 || line[HEX_DIGITS] != ' ') {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < entry.digest.size(); ++i) {
        const int high = HexValue(line[2 * i]);
        const int low = HexValue(line[2 * i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        entry.digest[i] = static_cast<unsigned char>(high << 4 | low);
    }
    std::size_t at = HEX_DIGITS + 1;
    const std::size_t sizeStart = at;
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at) {
        const auto digit = static_cast<std::uint64_t>(line[at] - '0');
        if (entry.size > (UINT64_MAX - digit) / 10) {
            return std::nullopt;
        }
        entry.size = entry.size * 10 + digit;
    }
    if (at == sizeStart || at >= line.size() || line[at] != ' ') {
        return std::nullopt;
    }
    entry.path = line.substr(at + 1);
    if (!Writable(entry.path)) {
        return std::nullopt;
    }
    return entry;
}

void AppendLine(std::string& text, const CContentIndex::Digest& digest, std::uint64_t size,
                std::string_view path) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    for (const unsigned char byte : digest) {
        text += DIGITS[byte >> 4];
        text += DIGITS[byte & 0x0F];
    }
    text += ' ';
    text += std::to_string(size);
    text += ' ';
    text += path;
    text += '\n';
}

// Hands every line of the file that ends in a line break to `onLine`, without the break, until
// it returns false; a last line without one (an append cut short) is left out. False on a read
// error, with errno set.
template <typename OnLine>
bool ForEachLine(int fd, OnLine&& onLine) {
    // A small file gets a buffer of its own size rather than a whole block.
    struct stat status {};
    const auto fileSize = ::fstat(fd, &status) == 0 ? static_cast<std::size_t>(status.st_size) : 0;
    std::vector<char> buffer(std::clamp(fileSize + 1, SMALL_READ, READ_BLOCK));
    std::size_t kept = 0;  // the start of an unfinished line, at the buffer's start
    off_t offset = 0;
    for (;;) {
        if (kept == buffer.size()) {
            buffer.resize(buffer.size() * 2);
        }
        const ssize_t count = ::pread(fd, buffer.data() + kept, buffer.size() - kept, offset);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return count == 0;
        }
        offset += count;
        const std::size_t end = kept + static_cast<std::size_t>(count);
        std::size_t start = 0;
        while (const void* found = std::memchr(buffer.data() + start, '\n', end - start)) {
            const auto lineEnd =
                static_cast<std::size_t>(static_cast<const char*>(found) - buffer.data());
            if (!onLine(std::string_view(buffer.data() + start, lineEnd - start))) {
                return true;
            }
            start = lineEnd + 1;
        }
        std::memmove(buffer.data(), buffer.data() + start, end - start);
        kept = end - start;
    }
}

enum class Reading { Whole, Damaged, Failed };

// Checks the first line, then hands every picture's line to `onEntry` (with the line itself),
// stopping at the first that is not well formed.
template <typename OnEntry>
Reading ReadEntries(int fd, OnEntry&& onEntry) {
    bool header = false;
    bool damaged = false;
    const bool read = ForEachLine(fd, [&](std::string_view line) {
        if (!header) {
            header = true;
            damaged = line != HEADER;
        } else if (const std::optional<Entry> entry = ParseLine(line)) {
            onEntry(*entry, line);
        } else {
            damaged = true;
        }
        return !damaged;
    });
    if (!read) {
        return Reading::Failed;
    }
    return header && !damaged ? Reading::Whole : Reading::Damaged;
}

// The pending lines, which Add wrote well formed.
template <typename OnEntry>
void ForEachPending(std::string_view pending, OnEntry&& onEntry) {
    while (!pending.empty()) {
        const std::size_t end = pending.find('\n');
        const std::string_view line = pending.substr(0, end);
        if (const std::optional<Entry> entry = ParseLine(line)) {
            onEntry(*entry, line);
        }
        if (end == std::string_view::npos) {
            return;
        }
        pending.remove_prefix(end + 1);
    }
}

// Whether the file is certainly gone; one that cannot be looked at is not.
bool Gone(std::string_view path) {
    struct stat status {};
    return ::lstat(std::string(path).c_str(), &status) != 0 &&
           (errno == ENOENT || errno == ENOTDIR);
}

struct EvpContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// The digest and size of the file's bytes, read a block at a time through `buffer`.
std::optional<std::pair<CContentIndex::Digest, std::uint64_t>> HashFile(const std::string& path,
                                                                        std::vector<char>& buffer) {
    const platform::UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const std::unique_ptr<EVP_MD_CTX, EvpContextFree> context(EVP_MD_CTX_new());
    if (file.Get() < 0 || !context ||
        EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        return std::nullopt;
    }
    std::uint64_t size = 0;
    for (;;) {
        const ssize_t count = ::read(file.Get(), buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0) {
            break;
        }
        size += static_cast<std::uint64_t>(count);
        if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(count)) != 1) {
            return std::nullopt;
        }
    }
    CContentIndex::Digest digest{};
    unsigned length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size()) {
        return std::nullopt;
    }
    return std::pair{digest, size};
}

// Where the file's last whole line ends: a last line without its line break is cut off there.
std::optional<off_t> EndOfLastLine(int fd, off_t size) {
    char block[4096];
    for (off_t end = size; end > 0;) {
        const auto count = static_cast<std::size_t>(std::min<off_t>(end, sizeof block));
        if (::pread(fd, block, count, end - static_cast<off_t>(count)) !=
            static_cast<ssize_t>(count)) {
            return std::nullopt;
        }
        end -= static_cast<off_t>(count);
        if (const void* found = ::memrchr(block, '\n', count)) {
            return end + (static_cast<const char*>(found) - block) + 1;
        }
    }
    return 0;
}

std::string Failure(const std::string& path, const char* what, int error) {
    return path + " could not be " + what + " (" + std::strerror(error) + ").";
}

}  // namespace

CContentIndex::Digest CContentIndex::DigestOf(std::string_view bytes) {
    Digest digest{};
    unsigned length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr);
    return digest;
}

std::optional<CContentIndex::Digest> CContentIndex::DigestOfFile(const std::string& path) {
    std::vector<char> buffer(HASH_BLOCK);
    if (const auto hashed = HashFile(path, buffer)) {
        return hashed->first;
    }
    return std::nullopt;
}

bool CContentIndex::Open(const std::string& path, const std::string& collectionRoot,
                         std::string& error, const Progress& progress,
                         const std::atomic<bool>* stop) {
    m_path = path;
    m_root = collectionRoot;
    m_digests.Clear();
    LoadResult result = Load(error);
    if (result == LoadResult::Missing || result == LoadResult::Damaged) {
        m_digests.Clear();
        result = Rebuild(error, progress, stop) ? LoadResult::Loaded : LoadResult::Failed;
    }
    if (result != LoadResult::Loaded) {
        m_digests.Clear();
    }
    RememberPending();
    return result == LoadResult::Loaded;
}

CContentIndex::LoadResult CContentIndex::Load(std::string& error) {
    const CLockedFile file(m_path, O_RDONLY, LOCK_SH);
    if (file.Get() < 0) {
        if (file.Error() == ENOENT) {
            return LoadResult::Missing;
        }
        error = Failure(m_path, "read", file.Error());
        return LoadResult::Failed;
    }
    struct stat status {};
    if (::fstat(file.Get(), &status) == 0) {
        m_digests.Reserve(static_cast<std::size_t>(status.st_size) / TYPICAL_LINE);
    }
    switch (ReadEntries(file.Get(), [this](const Entry& entry, std::string_view) {
        m_digests.Insert(entry.digest);
    })) {
        case Reading::Whole:
            return LoadResult::Loaded;
        case Reading::Damaged:
            return LoadResult::Damaged;
        case Reading::Failed:
            break;
    }
    error = Failure(m_path, "read", errno);
    return LoadResult::Failed;
}

bool CContentIndex::Rebuild(std::string& error, const Progress& progress,
                            const std::atomic<bool>* stop) {
    const auto stopped = [&] {
        if (stop != nullptr && stop->load()) {
            error = m_path + " was not made anew: stopped before the end.";
            return true;
        }
        return false;
    };
    // Every picture under the root; folders and files whose names start with a dot are no part of
    // the collection.
    std::vector<std::string> pictures;
    std::error_code walkError;
    fs::recursive_directory_iterator walk(m_root, fs::directory_options::skip_permission_denied,
                                          walkError);
    if (walkError == std::errc::no_such_file_or_directory) {
        walkError.clear();  // no picture stored yet
    }
    for (; !walkError && walk != fs::recursive_directory_iterator(); walk.increment(walkError)) {
        if (stopped()) {
            return false;
        }
        if (walk->path().filename().string().starts_with('.')) {
            walk.disable_recursion_pending();
            continue;
        }
        std::error_code typeError;
        if (walk->is_regular_file(typeError) && Writable(walk->path().native())) {
            pictures.push_back(walk->path().string());
        }
    }
    if (walkError) {
        error = Failure(m_root, "read", walkError.value());
        return false;
    }
    std::sort(pictures.begin(), pictures.end());

    CReplacement replacement(m_path, 0644);
    if (replacement.Error() != 0) {
        error = Failure(m_path, "written", replacement.Error());
        return false;
    }
    replacement.Write(std::string(HEADER) + "\n");
    std::vector<char> buffer(HASH_BLOCK);
    std::string line;
    std::uint64_t done = 0;
    if (progress) {
        progress(done, pictures.size());
    }
    for (const std::string& picture : pictures) {
        if (stopped()) {
            return false;
        }
        // A file that vanished or cannot be read since it was listed is left out.
        if (const auto hashed = HashFile(picture, buffer)) {
            line.clear();
            AppendLine(line, hashed->first, hashed->second, picture);
            replacement.Write(line);
            m_digests.Insert(hashed->first);
        }
        if (progress) {
            progress(++done, pictures.size());
        }
    }

    if (stopped()) {
        return false;
    }
    const CLockedFile file(m_path, O_RDONLY | O_CREAT, LOCK_EX);
    if (file.Get() < 0) {
        error = Failure(m_path, "written", file.Error());
        return false;
    }
    // Another Zarvo may have made the file meanwhile; then it stands, with what it appended.
    CDigestSet theirs;
    if (ReadEntries(file.Get(), [&theirs](const Entry& entry, std::string_view) {
            theirs.Insert(entry.digest);
        }) == Reading::Whole) {
        m_digests = std::move(theirs);
        return true;
    }
    std::string reason;
    if (!replacement.Commit(reason)) {
        error = m_path + " could not be written (" + reason + ").";
        return false;
    }
    return true;
}

void CContentIndex::RememberPending() {
    ForEachPending(m_pending, [this](const Entry& entry, std::string_view) {
        m_digests.Insert(entry.digest);
    });
}

void CContentIndex::Add(const Digest& digest, std::uint64_t size, const std::string& path) {
    if (!Writable(path)) {
        return;
    }
    AppendLine(m_pending, digest, size, path);
    m_digests.Insert(digest);
}

bool CContentIndex::Flush(std::string& error) {
    if (m_pending.empty()) {
        return true;
    }
    const CLockedFile file(m_path, O_RDWR, LOCK_EX);
    if (file.Get() < 0) {
        error = Failure(m_path, "written", file.Error());
        return false;
    }
    struct stat status {};
    std::optional<off_t> end;
    if (::fstat(file.Get(), &status) == 0) {
        end = EndOfLastLine(file.Get(), status.st_size);
    }
    // A line cut short by a crash goes, so that the new lines do not run on from it.
    if (!end || (*end != status.st_size && ::ftruncate(file.Get(), *end) != 0)) {
        error = Failure(m_path, "written", errno);
        return false;
    }
    const std::string text = *end == 0 ? std::string(HEADER) + "\n" + m_pending : m_pending;
    if (!platform::WriteAll(file.Get(), text, *end)) {
        const int reason = errno;
        [[maybe_unused]] const int ignored = ::ftruncate(file.Get(), *end);
        error = Failure(m_path, "written", reason);
        return false;
    }
    m_pending.clear();
    return true;
}

std::optional<std::size_t> CContentIndex::ForgetMissing(std::string& error) {
    const CLockedFile file(m_path, O_RDONLY, LOCK_EX);
    struct stat status {};
    if (file.Get() < 0 || ::fstat(file.Get(), &status) != 0) {
        error = Failure(m_path, "read", file.Get() < 0 ? file.Error() : errno);
        return std::nullopt;
    }
    CReplacement replacement(m_path, status.st_mode & 07777);
    replacement.Write(std::string(HEADER) + "\n");
    CDigestSet kept;
    std::size_t forgotten = 0;
    const auto sift = [&](const Entry& entry, std::string_view line) {
        if (Gone(entry.path)) {
            ++forgotten;
            return;
        }
        replacement.Write(line);
        replacement.Write("\n");
        kept.Insert(entry.digest);
    };
    switch (ReadEntries(file.Get(), sift)) {
        case Reading::Whole:
            break;
        case Reading::Damaged:
            error = m_path + " is damaged; it is made anew when Zarvo opens it again.";
            return std::nullopt;
        case Reading::Failed:
            error = Failure(m_path, "read", errno);
            return std::nullopt;
    }
    ForEachPending(m_pending, sift);
    std::string reason;
    if (!replacement.Commit(reason)) {
        error = m_path + " could not be written (" + reason + ").";
        return std::nullopt;
    }
    m_digests = std::move(kept);
    m_pending.clear();
    return forgotten;
}

std::size_t CContentIndex::CountMissing() const {
    std::size_t missing = 0;
    const auto count = [&missing](const Entry& entry, std::string_view) {
        missing += Gone(entry.path) ? 1 : 0;
    };
    const CLockedFile file(m_path, O_RDONLY, LOCK_SH);
    if (file.Get() >= 0) {
        ReadEntries(file.Get(), count);
    }
    ForEachPending(m_pending, count);
    return missing;
}

std::optional<std::size_t> ForgetDeletedPictures(std::string& error) {
    CContentIndex index;
    if (!index.Open(CONTENT_INDEX_FILE_NAME, "images", error)) {
        return std::nullopt;
    }
    return index.ForgetMissing(error);
}

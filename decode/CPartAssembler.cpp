#include "decode/CPartAssembler.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>
#include <vector>

#include "decode/PicturePublisher.h"
#include "platform/AtomicFile.h"
#include "platform/Console.h"
#include "platform/ProgramFolder.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t COPY_BLOCK = std::size_t{1} << 20;

// A name for the pending picture that stays the same from run to run: a 64-bit FNV-1a hash of
// its kind and key. The record keeps the key itself, so a collision is noticed.
std::string PendingId(const CPartAssembler::Part& part) {
    std::uint64_t hash = 14695981039346656037ULL;
    const auto mix = [&hash](unsigned char byte) {
        hash ^= byte;
        hash *= 1099511628211ULL;
    };
    mix(part.kind == CPendingRecord::Kind::Ranges ? 'r' : 'o');
    for (const char c : part.key) {
        mix(static_cast<unsigned char>(c));
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

class CFile {
public:
    explicit CFile(int fd) : m_fd(fd) {}
    ~CFile() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    int Get() const { return m_fd; }
    // Closes the file; false when closing reported a failure.
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

// Holds the group's lock file for as long as it lives: two Zarvos in one folder add their parts
// one after the other.
class CGroupLock {
public:
    explicit CGroupLock(const std::string& folder)
        : m_file(::open((folder + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        m_locked = m_file.Get() >= 0 && ::flock(m_file.Get(), LOCK_EX) == 0;
    }
    bool Locked() const { return m_locked; }

private:
    CFile m_file;
    bool m_locked = false;
};

bool ReadWhole(const std::string& path, std::string& text) {
    const CFile file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        return false;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(file.Get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return false;
        }
        if (count == 0) {
            return true;
        }
        text.append(buffer, static_cast<std::size_t>(count));
    }
}

bool WriteAll(int fd, std::string_view data, std::uint64_t offset) {
    while (!data.empty()) {
        const ssize_t count = ::pwrite(fd, data.data(), data.size(), static_cast<off_t>(offset));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(count));
        offset += static_cast<std::uint64_t>(count);
    }
    return true;
}

// Puts the bytes at their place in the pending file and on the disk, before the record says
// they are there.
bool WriteAt(const std::string& path, std::string_view data, std::uint64_t offset) {
    CFile file(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    return file.Get() >= 0 && WriteAll(file.Get(), data, offset) && ::fsync(file.Get()) == 0 &&
           file.Close();
}

// Copies the file's bytes to the end of `output`; false on a read or write failure.
bool Append(int output, std::uint64_t& offset, const std::string& path, std::vector<char>& block) {
    const CFile input(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (input.Get() < 0) {
        return false;
    }
    for (;;) {
        const ssize_t count = ::read(input.Get(), block.data(), block.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return count == 0;
        }
        if (!WriteAll(output, std::string_view(block.data(), static_cast<std::size_t>(count)),
                      offset)) {
            return false;
        }
        offset += static_cast<std::uint64_t>(count);
    }
}

std::optional<std::uint32_t> FileCrc(const std::string& path, std::vector<char>& block) {
    const CFile file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        return std::nullopt;
    }
    uLong crc = crc32(0L, Z_NULL, 0);
    for (;;) {
        const ssize_t count = ::read(file.Get(), block.data(), block.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0) {
            return static_cast<std::uint32_t>(crc);
        }
        crc = crc32(crc, reinterpret_cast<const Bytef*>(block.data()), static_cast<uInt>(count));
    }
}

// Every file of a pending picture: its record, its data and its parts.
void RemovePending(const std::string& folder, const std::string& id) {
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        if (entry->path().filename().string().starts_with(id + ".")) {
            fs::remove(entry->path(), error);
        }
    }
}

void Say(const std::string& text) {
    platform::WriteConsole(text + "\n");
}

}  // namespace

CPartAssembler::CPartAssembler(std::string pendingRoot, std::string pictureRoot)
    : m_pendingRoot(std::move(pendingRoot)), m_pictureRoot(std::move(pictureRoot)) {
    m_finisher = [this](const std::string& data, const std::string& name,
                        const std::string& group) {
        CCollected collected;
        std::error_code error;
        fs::create_directories(fs::path(m_pictureRoot) / group, error);
        // The data is the pending picture's own: a copy is published, so that a failure keeps it.
        const std::string copy = data + ".publish";
        const std::optional<std::string> published =
            fs::copy_file(data, copy, fs::copy_options::overwrite_existing, error)
                ? PublishPicture(copy, m_pictureRoot + "/" + group + "/" + name)
                : std::nullopt;
        if (!published) {
            Say("couldn't publish '" + name + "'");
            collected.failed = true;
        } else {
            collected.pictures.push_back(platform::GetProgramFolder().value_or("") + *published);
        }
        return collected;
    };
}

std::string CPartAssembler::AddPart(const std::string& group, const Part& part) {
    const Result result = Add(group, part);
    return result.collected.pictures.empty() ? std::string() : result.collected.pictures.front();
}

CPartAssembler::Result CPartAssembler::Add(const std::string& group, const Part& part) {
    Result result;
    result.name = part.name;
    const bool ranges = part.kind == CPendingRecord::Kind::Ranges;
    if (part.key.empty() || part.number == 0 || (part.total != 0 && part.number > part.total) ||
        (ranges && (part.fileSize == 0 || part.offset > part.fileSize ||
                    part.data.size() > part.fileSize - part.offset))) {
        Say("part " + std::to_string(part.number) + " of '" + part.name +
            "' does not fit its file");
        result.state = Result::State::Unfit;
        return result;
    }
    const std::string folder = m_pendingRoot + "/" + group;
    std::error_code error;
    fs::create_directories(folder, error);
    const CGroupLock lock(folder);
    if (!lock.Locked()) {
        Say("couldn't open the pending pictures of " + group);
        result.state = Result::State::Failed;
        return result;
    }
    const std::string id = PendingId(part);
    const std::string recordPath = folder + "/" + id + ".parts";
    std::string text;
    std::optional<CPendingRecord> record;
    if (ReadWhole(recordPath, text)) {
        record = CPendingRecord::Parse(text);
    }
    if (!record || record->key != part.key || record->kind != part.kind ||
        (ranges && record->fileSize != part.fileSize)) {
        // None yet, or one that cannot be trusted: begin afresh.
        RemovePending(folder, id);
        record.emplace();
        record->kind = part.kind;
        record->key = part.key;
        record->fileSize = ranges ? part.fileSize : 0;
    }
    if (record->Find(part.number) != nullptr) {
        Say("part " + std::to_string(part.number) + " is there already");
        result.state = Result::State::Duplicate;
        return result;
    }
    std::string reason;
    const bool written = ranges ? WriteAt(folder + "/" + id + ".data", part.data, part.offset)
                                : platform::WriteFileAtomically(
                                      folder + "/" + id + "." + std::to_string(part.number),
                                      part.data, 0600, reason);
    if (!written) {
        Say("couldn't keep part " + std::to_string(part.number) + " of a picture of " + group);
        result.state = Result::State::Failed;
        return result;
    }
    record->Add({part.number, ranges ? part.offset : 0, part.data.size()});
    if (!part.name.empty()) {
        record->name = part.name;
    }
    if (record->total == 0) {
        record->total = part.total;
    }
    if (part.fileCrc) {
        record->fileCrc = part.fileCrc;
    }
    record->lastSeen = record->lastSeen || part.last;
    result.name = record->name;
    if (!record->Complete() || record->name.empty()) {
        if (!platform::WriteFileAtomically(recordPath, record->Serialize(), 0600, reason)) {
            Say("couldn't keep the record of a picture of " + group + " (" + reason + ")");
            result.state = Result::State::Failed;
        }
        return result;
    }
    return Finish(folder, id, group, *record);
}

CPartAssembler::Result CPartAssembler::Finish(const std::string& folder, const std::string& id,
                                              const std::string& group,
                                              const CPendingRecord& record) {
    Result result;
    result.name = record.name;
    const std::string dataPath = folder + "/" + id + ".data";
    std::vector<char> block(COPY_BLOCK);
    if (record.kind == CPendingRecord::Kind::Ordered) {
        CFile output(::open(dataPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        std::uint64_t offset = 0;
        bool joined = output.Get() >= 0;
        for (const CPendingRecord::Piece& piece : record.pieces) {
            joined =
                joined && Append(output.Get(), offset,
                                 folder + "/" + id + "." + std::to_string(piece.number), block);
        }
        if (!output.Close() || !joined) {
            Say("couldn't join the parts of '" + record.name + "'");
            result.state = Result::State::Failed;
            return result;
        }
    }
    if (record.fileCrc) {
        const std::optional<std::uint32_t> crc = FileCrc(dataPath, block);
        if (!crc) {
            // Unchecked, it is not a picture yet: the parts stay for another try.
            Say("couldn't read '" + record.name + "' back to check its CRC");
            result.state = Result::State::Failed;
            return result;
        }
        if (*crc != *record.fileCrc) {
            // Every part passed its own check, yet the whole is wrong: it can never be right.
            Say("'" + record.name + "' does not match its CRC; it is not published");
            RemovePending(folder, id);
            result.state = Result::State::Refused;
            return result;
        }
    }
    result.collected = m_finisher(dataPath, record.name, group);
    if (result.collected.failed) {
        // Nothing is lost: the parts stay pending, and the next part or run tries again.
        result.state = Result::State::Failed;
        return result;
    }
    RemovePending(folder, id);
    result.state = Result::State::Finished;
    return result;
}

void CPartAssembler::RemoveStale(const std::string& pendingRoot, std::chrono::hours age) {
    const auto oldest = fs::file_time_type::clock::now() - age;
    std::error_code error;
    for (fs::directory_iterator group(pendingRoot, error), end; !error && group != end;
         group.increment(error)) {
        if (!group->is_directory(error)) {
            continue;
        }
        const std::string folder = group->path().string();
        const CGroupLock lock(folder);
        // The newest change to any file of each pending picture.
        std::map<std::string, fs::file_time_type> newest;
        std::error_code inner;
        for (fs::directory_iterator file(folder, inner); !inner && file != end;
             file.increment(inner)) {
            const std::string name = file->path().filename().string();
            const std::size_t dot = name.find('.');
            if (dot == 0 || dot == std::string::npos) {
                continue;  // the lock file, or no file of ours
            }
            const auto changed = file->last_write_time(inner);
            // Not newest[...]: a default time stands for a moment far in the future here.
            auto& time =
                newest.try_emplace(name.substr(0, dot), fs::file_time_type::min()).first->second;
            time = std::max(time, changed);
        }
        for (const auto& [id, changed] : newest) {
            if (changed < oldest) {
                RemovePending(folder, id);
            }
        }
    }
}

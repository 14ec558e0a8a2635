#include "decode/CPartAssembler.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
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
#include "platform/UniqueFd.h"
#include "platform/WriteAll.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t COPY_BLOCK = std::size_t{1} << 20;

// A name for the pending picture that stays the same from run to run: a 64-bit FNV-1a hash of
// its kind and key. The record keeps the key itself, so a collision is noticed.
std::string PendingId(CPendingRecord::Kind kind, const std::string& key) {
    std::uint64_t hash = 14695981039346656037ULL;
    const auto mix = [&hash](unsigned char byte) {
        hash ^= byte;
        hash *= 1099511628211ULL;
    };
    mix(kind == CPendingRecord::Kind::Ranges ? 'r' : 'o');
    for (const char c : key) {
        mix(static_cast<unsigned char>(c));
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// A whole that failed its CRC keeps its files as <id>.failed.*, apart from the live ones.
constexpr std::string_view SET_ASIDE = ".failed";

// Whose file the name is: the pending picture's id, or its id and ".failed" for a whole set
// aside; empty for the lock and for files not of ours.
std::string PendingStem(const std::string& name) {
    const std::size_t dot = name.find('.');
    if (dot == 0 || dot == std::string::npos) {
        return {};
    }
    const std::string_view rest = std::string_view(name).substr(dot);
    return name.substr(
        0, rest.starts_with(std::string(SET_ASIDE) + ".") ? dot + SET_ASIDE.size() : dot);
}

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
    platform::UniqueFd m_file;
    bool m_locked = false;
};

bool ReadWhole(const std::string& path, std::string& text) {
    const platform::UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
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

// Puts the bytes at their place in the pending file and on the disk, before the record says
// they are there.
bool WriteAt(const std::string& path, std::string_view data, std::uint64_t offset) {
    platform::UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    return file.Get() >= 0 && platform::WriteAll(file.Get(), data, static_cast<off_t>(offset)) &&
           ::fsync(file.Get()) == 0 && file.Close();
}

// The pending file a part is written into, as it was before: a failure puts it back, so that
// nothing the record does not claim stays behind. A file the part made is removed; a data file
// that holds other parts is cut back to its length (the record claims nothing past it).
class CWriteUndo {
public:
    CWriteUndo(std::string path, bool shared) : m_path(std::move(path)), m_shared(shared) {
        struct stat before {};
        m_existed = ::stat(m_path.c_str(), &before) == 0;
        m_size = m_existed ? before.st_size : 0;
    }
    // The bytes the file grows by when the part's bytes end at `end`.
    std::uint64_t Growth(std::uint64_t end) const {
        const auto size = static_cast<std::uint64_t>(m_size);
        return end > size ? end - size : 0;
    }
    void Undo() const {
        if (m_existed && m_shared) {
            ::truncate(m_path.c_str(), m_size);
        } else {
            ::unlink(m_path.c_str());
        }
    }

private:
    std::string m_path;
    bool m_shared;
    bool m_existed = false;
    off_t m_size = 0;
};

// Copies the file's bytes to the end of `output`; false on a read or write failure.
bool Append(int output, std::uint64_t& offset, const std::string& path, std::vector<char>& block) {
    const platform::UniqueFd input(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
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
        if (!platform::WriteAll(output,
                                std::string_view(block.data(), static_cast<std::size_t>(count)),
                                static_cast<off_t>(offset))) {
            return false;
        }
        offset += static_cast<std::uint64_t>(count);
    }
}

std::optional<std::uint32_t> FileCrc(const std::string& path, std::vector<char>& block) {
    const platform::UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
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

// Every file of a pending picture (its record, its data and its parts), or of a whole set
// aside: `stem` as PendingStem gives it.
void RemovePending(const std::string& folder, const std::string& stem) {
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        if (PendingStem(entry->path().filename().string()) == stem) {
            fs::remove(entry->path(), error);
        }
    }
}

// Moves the files of a whole that failed its CRC aside as <id>.failed.*, its record as it was
// put together, in place of an earlier whole set aside under the id. They are never read again;
// RemoveStale ends them.
void SetAside(const std::string& folder, const std::string& id, const CPendingRecord& record) {
    const std::string aside = id + std::string(SET_ASIDE);
    RemovePending(folder, aside);
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        if (std::string name = entry->path().filename().string(); PendingStem(name) == id) {
            names.push_back(std::move(name));
        }
    }
    for (const std::string& name : names) {
        fs::rename(folder + "/" + name, folder + "/" + aside + name.substr(id.size()), error);
    }
    std::string reason;
    platform::WriteFileAtomically(folder + "/" + aside + ".parts", record.Serialize(), 0600,
                                  reason);
}

// The bytes of every file in the group's folder: the pending pictures and the wholes set aside.
std::uint64_t PendingBytes(const std::string& folder) {
    std::uint64_t bytes = 0;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code inner;
        if (entry->is_regular_file(inner)) {
            const std::uintmax_t size = entry->file_size(inner);
            bytes += inner ? 0 : size;
        }
    }
    return bytes;
}

std::optional<CPendingRecord> LoadRecord(const std::string& path) {
    std::string text;
    return ReadWhole(path, text) ? CPendingRecord::Parse(text) : std::nullopt;
}

// The record is the picture the part belongs to under `key`.
bool Holds(const std::optional<CPendingRecord>& record, const CPartAssembler::Part& part,
           const std::string& key) {
    return record && record->key == key && record->kind == part.kind &&
           (part.kind != CPendingRecord::Kind::Ranges || record->fileSize == part.fileSize);
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

void CPartAssembler::SetMaxPictureBytes(std::uint64_t bytes) {
    m_maxPictureBytes = std::clamp<std::uint64_t>(bytes, 1, UINT64_MAX / GROUP_PICTURES);
}

CPartAssembler::Result CPartAssembler::Add(const std::string& group, const Part& part) {
    Result result;
    result.name = part.name;
    const bool ranges = part.kind == CPendingRecord::Kind::Ranges;
    const std::string which = "part " + std::to_string(part.number) + " of '" + part.name + "'";
    if (part.key.empty() || part.number == 0 || (part.total != 0 && part.number > part.total) ||
        (ranges && (part.fileSize == 0 || part.offset > part.fileSize ||
                    part.data.size() > part.fileSize - part.offset))) {
        Say(which + " does not fit its file");
        result.state = Result::State::Unfit;
        return result;
    }
    if (ranges && part.fileSize > m_maxPictureBytes) {
        Say(which + " is passed over: its file of " + std::to_string(part.fileSize) +
            " bytes is larger than a picture may be");
        result.state = Result::State::TooLarge;
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
    std::string key = part.key;
    std::string id = PendingId(part.kind, key);
    std::optional<CPendingRecord> record = LoadRecord(folder + "/" + id + ".parts");
    if (!Holds(record, part, key) && !part.formerKey.empty()) {
        // Begun by an earlier version under the key it gave: finished there.
        const std::string formerId = PendingId(part.kind, part.formerKey);
        std::optional<CPendingRecord> former = LoadRecord(folder + "/" + formerId + ".parts");
        if (Holds(former, part, part.formerKey)) {
            key = part.formerKey;
            id = formerId;
            record = std::move(former);
        }
    }
    if (!Holds(record, part, key)) {
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
    // Ordered: the picture's size is known as its parts come.
    std::uint64_t held = part.data.size();
    for (const CPendingRecord::Piece& piece : record->pieces) {
        held += piece.length;
    }
    if (!ranges && held > m_maxPictureBytes) {
        Say(which + " is passed over: its picture would be larger than a picture may be");
        result.state = Result::State::TooLarge;
        return result;
    }
    const std::string dataPath =
        folder + "/" + id + (ranges ? ".data" : "." + std::to_string(part.number));
    const CWriteUndo undo(dataPath, ranges);
    const std::uint64_t growth = undo.Growth((ranges ? part.offset : 0) + part.data.size());
    if (PendingBytes(folder) + growth > m_maxPictureBytes * GROUP_PICTURES) {
        Say(which + " is passed over: the pending pictures of " + group + " would pass " +
            std::to_string(m_maxPictureBytes * GROUP_PICTURES) + " bytes");
        result.state = Result::State::TooLarge;
        return result;
    }
    std::string reason;
    const bool written = ranges ? WriteAt(dataPath, part.data, part.offset)
                                : platform::WriteFileAtomically(dataPath, part.data, 0600, reason);
    if (!written) {
        undo.Undo();
        Say("couldn't keep part " + std::to_string(part.number) + " of a picture of " + group);
        result.state = Result::State::Failed;
        return result;
    }
    record->Add({part.number, ranges ? part.offset : 0, part.data.size(), part.source});
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
        if (!platform::WriteFileAtomically(folder + "/" + id + ".parts", record->Serialize(), 0600,
                                           reason)) {
            // The record does not claim the part: neither do its bytes stay.
            undo.Undo();
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
        platform::UniqueFd output(
            ::open(dataPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        std::uint64_t offset = 0;
        bool joined = output.Get() >= 0;
        for (const CPendingRecord::Piece& piece : record.pieces) {
            joined =
                joined && Append(output.Get(), offset,
                                 folder + "/" + id + "." + std::to_string(piece.number), block);
        }
        if (!output.Close() || !joined) {
            ::unlink(dataPath.c_str());
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
            // Every part passed its own check, yet the whole is wrong: parts of two posts under
            // one key, say. It can never be right: a repost begins afresh.
            std::string sources;
            for (const CPendingRecord::Piece& piece : record.pieces) {
                if (!piece.source.empty()) {
                    sources += (sources.empty() ? " (from " : ", ") + piece.source;
                }
            }
            Say("'" + record.name + "' does not match its CRC; it is set aside, not published" +
                (sources.empty() ? "" : sources + ")"));
            SetAside(folder, id, record);
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
            const std::string stem = PendingStem(file->path().filename().string());
            if (stem.empty()) {
                continue;  // the lock file, or no file of ours
            }
            const auto changed = file->last_write_time(inner);
            // Not newest[...]: a default time stands for a moment far in the future here.
            auto& time = newest.try_emplace(stem, fs::file_time_type::min()).first->second;
            time = std::max(time, changed);
        }
        for (const auto& [stem, changed] : newest) {
            if (changed < oldest) {
                RemovePending(folder, stem);
            }
        }
    }
}

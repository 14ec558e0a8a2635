#include "decode/CPictureCollector.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "decode/FileKind.h"
#include "decode/PictureName.h"
#include "decode/PicturePublisher.h"
#include "platform/Console.h"
#include "platform/ProgramFolder.h"
#include "platform/UniqueFd.h"
#include "platform/WriteAll.h"

namespace fs = std::filesystem;

namespace {

constexpr int TEMPORARY_ATTEMPTS = 100;
std::atomic<unsigned> g_temporaryCounter{0};

// A picture named for a format without a signature of its own: its name is all there is to go
// by.
bool IsUnsignedPictureName(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || KindOfName(name) != FileKind::Picture) {
        return false;
    }
    std::string extension(name.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return !PictureHasSignature(extension);
}

bool IsFull(int error) {
    return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

void Say(const std::string& text) {
    platform::WriteConsole(text + "\n");
}

CCollected Failed(const std::string& what) {
    const int error = errno;
    Say(what + " (" + std::generic_category().message(error) + ")");
    CCollected result;
    result.failed = true;
    result.diskFull = IsFull(error);
    return result;
}

// A new hidden file in the folder, for a picture being written: a leftover of a crash never
// passes for a picture. Returns its path and an open descriptor.
std::optional<std::string> CreateTemporary(const std::string& folder, int& fd) {
    for (int attempt = 0; attempt < TEMPORARY_ATTEMPTS; ++attempt) {
        std::string path = folder + "/.zarvo-" + std::to_string(::getpid()) + "-c" +
                           std::to_string(g_temporaryCounter.fetch_add(1)) + ".part";
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return path;
        }
        if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// The bytes in a new hidden file of the folder; nothing (errno set) when they cannot be written.
std::optional<std::string> WriteTemporary(const std::string& folder, std::string_view bytes) {
    int raw = -1;
    const std::optional<std::string> path = CreateTemporary(folder, raw);
    if (!path) {
        return std::nullopt;
    }
    platform::UniqueFd fd(raw);
    if (!platform::WriteAll(fd.Get(), bytes) || !fd.Close()) {
        const int error = errno;
        ::unlink(path->c_str());
        errno = error;
        return std::nullopt;
    }
    return path;
}

// The file under a new hidden name in the folder: a second link where the folder is on the same
// file system, a copy where it is not.
std::optional<std::string> LinkOrCopyTemporary(const std::string& source,
                                               const std::string& folder) {
    for (int attempt = 0; attempt < TEMPORARY_ATTEMPTS; ++attempt) {
        std::string path = folder + "/.zarvo-" + std::to_string(::getpid()) + "-c" +
                           std::to_string(g_temporaryCounter.fetch_add(1)) + ".part";
        if (::link(source.c_str(), path.c_str()) == 0) {
            return path;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    // Another file system, or one without hard links.
    return CopyIntoFolder(source, folder + "/");
}

// The first bytes of a file, for telling what it is.
std::string FirstBytes(const std::string& path) {
    const platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    std::string bytes(SNIFF_BYTES, '\0');
    const ssize_t count = fd.Get() >= 0 ? ::read(fd.Get(), bytes.data(), bytes.size()) : -1;
    bytes.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    return bytes;
}

std::uint64_t FileSize(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    return error ? 0 : static_cast<std::uint64_t>(size);
}

// A folder name for an archive's pictures, from the archive's name without its extension.
std::string ArchiveFolderName(const std::string& stem) {
    return SafePictureName(stem).value_or("archive");
}

}  // namespace

CPictureCollector::CPictureCollector(std::string pictureRoot, std::string pendingRoot,
                                     CContentIndex& index, CCollectOptions options)
    : m_pictureRoot(std::move(pictureRoot)),
      m_pendingRoot(std::move(pendingRoot)),
      m_index(index),
      m_options(options) {}

CPictureCollector::Kind CPictureCollector::Classify(std::string_view firstBytes,
                                                    std::string& name) const {
    if (firstBytes.empty()) {
        return Kind::Neither;  // an empty file is no picture, whatever its name
    }
    const CSniffed sniffed = SniffBytes(firstBytes);
    if (sniffed.kind == FileKind::Picture) {
        if (KindOfName(name) != FileKind::Picture) {
            // An obfuscated post: the name says nothing, the bytes say what it is.
            name = (name.empty() ? std::string("picture") : name) + std::string(sniffed.extension);
            name = SafePictureName(name).value_or("picture" + std::string(sniffed.extension));
        }
        return Kind::Picture;
    }
    if (sniffed.kind == FileKind::Archive) {
        return Kind::Archive;
    }
    return IsUnsignedPictureName(name) ? Kind::Picture : Kind::Neither;
}

CCollected CPictureCollector::CollectBytes(std::string_view bytes, const std::string& posted,
                                           const std::string& group,
                                           const std::optional<CVolumeHint>& volume) {
    std::string name = posted;
    switch (Classify(bytes.substr(0, SNIFF_BYTES), name)) {
        case Kind::Picture:
            if (!m_options.pictures) {
                break;
            }
            return CollectPicture({}, bytes, CContentIndex::DigestOf(bytes), name,
                                  m_pictureRoot + "/" + group);
        case Kind::Archive:
            return CollectArchive({}, bytes, posted, group, volume);
        case Kind::Neither:
            Say("'" + posted + "' in " + group + " is not a picture; it is not kept");
            break;
    }
    CCollected result;
    result.dropped = 1;
    return result;
}

CCollected CPictureCollector::CollectFile(const std::string& path, const std::string& posted,
                                          const std::string& group,
                                          const std::optional<CVolumeHint>& volume) {
    std::string name = posted;
    switch (Classify(FirstBytes(path), name)) {
        case Kind::Picture: {
            if (!m_options.pictures) {
                break;
            }
            const std::optional<CContentIndex::Digest> digest = CContentIndex::DigestOfFile(path);
            if (!digest) {
                return Failed("couldn't read '" + posted + "' back");
            }
            return CollectPicture(path, {}, *digest, name, m_pictureRoot + "/" + group);
        }
        case Kind::Archive:
            return CollectArchive(path, {}, posted, group, volume);
        case Kind::Neither:
            Say("'" + posted + "' in " + group + " is not a picture; it is not kept");
            break;
    }
    CCollected result;
    result.dropped = 1;
    return result;
}

CCollected CPictureCollector::CollectPicture(const std::string& source, std::string_view bytes,
                                             const CContentIndex::Digest& digest,
                                             const std::string& name, const std::string& folder) {
    CCollected result;
    if (m_index.Contains(digest)) {
        result.recognised = 1;
        return result;
    }
    std::error_code ignored;  // a folder that exists already is fine
    fs::create_directories(folder, ignored);
    const std::optional<std::string> temporary =
        source.empty() ? WriteTemporary(folder, bytes) : LinkOrCopyTemporary(source, folder);
    if (!temporary) {
        return Failed("couldn't write '" + name + "' into " + folder);
    }
    const std::uint64_t size = source.empty() ? bytes.size() : FileSize(*temporary);
    const std::optional<std::string> published = PublishPicture(*temporary, folder + "/" + name);
    if (!published) {
        return Failed("couldn't publish '" + name + "' in " + folder);
    }
    m_index.Add(digest, size, *published);
    result.pictures.push_back(platform::GetProgramFolder().value_or("") + *published);
    return result;
}

CCollected CPictureCollector::CollectArchive(const std::string& source, std::string_view bytes,
                                             const std::string& name, const std::string& group,
                                             const std::optional<CVolumeHint>& volume) {
    CCollected result;
    if (!m_options.archives) {
        Say("'" + name + "' in " + group + " is an archive; archives are not opened");
        result.dropped = 1;
        return result;
    }
    const std::optional<CArchiveVolume> named = ArchiveVolumeOf(name);
    std::string stem = volume ? volume->stem : named ? named->stem : name;
    if (!volume && !named) {
        const std::size_t dot = stem.rfind('.');
        if (dot != std::string::npos && dot > 0) {
            stem.resize(dot);
        }
    }
    const std::string pending = m_pendingRoot + "/" + group + "/archives";
    std::error_code ignored;
    fs::create_directories(pending, ignored);
    if (volume && volume->count > 1) {
        // One volume of a set: it waits beside the others until every one is there.
        const std::string set = pending + "/" + ArchiveFolderName(stem);
        fs::create_directories(set, ignored);
        char number[32];
        std::snprintf(number, sizeof number, "%05u.volume", volume->index);
        const std::optional<std::string> temporary =
            source.empty() ? WriteTemporary(set, bytes) : LinkOrCopyTemporary(source, set);
        if (!temporary || ::rename(temporary->c_str(), (set + "/" + number).c_str()) != 0) {
            if (temporary) {
                ::unlink(temporary->c_str());
            }
            return Failed("couldn't keep volume " + std::to_string(volume->index + 1) + " of '" +
                          stem + "'");
        }
        std::vector<std::string> volumes;
        for (unsigned index = 0; index < volume->count; ++index) {
            std::snprintf(number, sizeof number, "%05u.volume", index);
            if (!fs::exists(set + "/" + number, ignored)) {
                return result;  // more to come
            }
            volumes.push_back(set + "/" + number);
        }
        result = ExtractArchive(volumes, stem, group);
        if (!result.failed) {
            fs::remove_all(set, ignored);
        }
        return result;
    }
    if (!source.empty()) {
        return ExtractArchive({source}, stem, group);
    }
    const std::optional<std::string> temporary = WriteTemporary(pending, bytes);
    if (!temporary) {
        return Failed("couldn't keep the archive '" + name + "'");
    }
    result = ExtractArchive({*temporary}, stem, group);
    ::unlink(temporary->c_str());
    return result;
}

CCollected CPictureCollector::ExtractArchive(const std::vector<std::string>& volumes,
                                             const std::string& stem, const std::string& group) {
    CCollected result;
    const std::string groupFolder = m_pictureRoot + "/" + group;
    const std::string folder = groupFolder + "/" + ArchiveFolderName(stem);
    std::error_code ignored;
    fs::create_directories(groupFolder, ignored);
    const auto take = [&](const CArchiveExtractor::Picture& picture) {
        const std::optional<CContentIndex::Digest> digest =
            CContentIndex::DigestOfFile(picture.temporary);
        if (digest && m_index.Contains(*digest)) {
            ::unlink(picture.temporary.c_str());
            ++result.recognised;
            return true;
        }
        if (!digest) {
            ::unlink(picture.temporary.c_str());
            result.Add(Failed("couldn't read '" + picture.name + "' of '" + stem + "' back"));
            return false;
        }
        fs::create_directories(folder, ignored);
        const std::uint64_t size = FileSize(picture.temporary);
        const std::optional<std::string> published =
            PublishPicture(picture.temporary, folder + "/" + picture.name);
        if (!published) {
            result.Add(Failed("couldn't publish '" + picture.name + "' of '" + stem + "'"));
            return false;
        }
        m_index.Add(*digest, size, *published);
        result.pictures.push_back(platform::GetProgramFolder().value_or("") + *published);
        return true;
    };
    const CArchiveExtractor::Result extracted =
        CArchiveExtractor::Extract(volumes, groupFolder, m_options.archiveLimits, take);
    if (!extracted.log.empty()) {
        Say(extracted.log);
    }
    if (extracted.outcome == CArchiveExtractor::Outcome::WriteFailed) {
        result.failed = true;
    }
    return result;
}

bool CPictureCollector::FlushIndex() {
    std::string error;
    if (!m_index.Flush(error)) {
        Say(error);
        return false;
    }
    return true;
}

void CPictureCollector::RemoveStale(const std::string& pendingRoot, std::chrono::hours age) {
    const auto oldest = fs::file_time_type::clock::now() - age;
    std::error_code error;
    for (fs::directory_iterator group(pendingRoot, error), end; !error && group != end;
         group.increment(error)) {
        std::error_code inner;
        for (fs::directory_iterator set(group->path() / "archives", inner); !inner && set != end;
             set.increment(inner)) {
            auto newest = fs::file_time_type::min();
            std::error_code look;
            for (fs::directory_iterator volume(set->path(), look); !look && volume != end;
                 volume.increment(look)) {
                newest = std::max(newest, volume->last_write_time(look));
            }
            if (newest < oldest) {
                fs::remove_all(set->path(), look);
            }
        }
    }
}

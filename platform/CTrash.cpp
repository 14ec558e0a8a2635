#include "platform/CTrash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/ErrorBox.h"
#include "platform/RenameNoReplace.h"
#include "platform/UniqueFd.h"
#include "platform/WriteAll.h"

namespace platform {
namespace {

constexpr std::string_view INFO_ENDING = ".trashinfo";
// The longest name of a file in a trash: the name of its .trashinfo must still be a file name.
constexpr std::size_t NAME_LIMIT = NAME_MAX - INFO_ENDING.size();
// How many numbered names are tried before a trash counts as full: a bound on a trash that
// someone else filled with one name.
constexpr unsigned NUMBER_LIMIT = 10000;
// How many taken names of temporary files are passed over (leftovers of a process with the
// same id) before giving up.
constexpr int TEMPORARY_TRIES = 100;
constexpr std::size_t COPY_BLOCK = std::size_t{64} << 10;

// Tells apart the temporary files of one process; the process id tells apart those of others.
std::atomic<unsigned> g_temporaryCounter{0};

std::string Join(const std::string& folder, std::string_view name) {
    std::string path = folder;
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path += name;
    return path;
}

std::string ParentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The path with its folder resolved (links, "." and ".."), the name itself left as it is so
// that a link is trashed rather than what it points to.
std::optional<std::string> AbsolutePath(const std::string& path) {
    const std::string name = NameOf(path);
    if (name.empty() || name == "." || name == "..") {
        errno = EINVAL;
        return std::nullopt;
    }
    const std::unique_ptr<char, decltype(&std::free)> folder(
        ::realpath(ParentOf(path).c_str(), nullptr), &std::free);
    if (!folder) {
        return std::nullopt;
    }
    return Join(folder.get(), name);
}

// A folder that is there, or is made with the mode; false when something else stands there.
bool EnsureFolder(const std::string& path, mode_t mode) {
    if (::mkdir(path.c_str(), mode) == 0) {
        return true;
    }
    struct stat info {};
    if (errno != EEXIST || ::stat(path.c_str(), &info) != 0) {
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

// Makes the missing folders of an absolute path, each private to the user.
bool EnsureFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        if (!EnsureFolder(path.substr(0, slash), 0700)) {
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

// The device of the path, or of the nearest folder above it that is there.
std::optional<dev_t> DeviceOf(std::string path) {
    for (;;) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0) {
            return info.st_dev;
        }
        if (errno != ENOENT || path == "/") {
            return std::nullopt;
        }
        path = ParentOf(path);
    }
}

// A user's own trash folder under a top directory: made private when missing; one that is
// there must be a real folder (no link) that belongs to the user. It gets its files/ and info/.
bool UsableTopTrash(const std::string& trash) {
    if (::mkdir(trash.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat info {};
    return ::lstat(trash.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::getuid() && EnsureFolder(trash + "/files", 0700) &&
           EnsureFolder(trash + "/info", 0700);
}

// The trash under a file system's top directory: $topdir/.Trash/$uid where the administrator
// made $topdir/.Trash a real folder with the sticky bit, otherwise $topdir/.Trash-$uid.
std::optional<std::string> TopTrash(const std::string& top) {
    const std::string uid = std::to_string(::getuid());
    const std::string shared = Join(top, ".Trash");
    struct stat info {};
    if (::lstat(shared.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
        (info.st_mode & S_ISVTX) != 0 && UsableTopTrash(Join(shared, uid))) {
        return Join(shared, uid);
    }
    const std::string own = Join(top, ".Trash-" + uid);
    if (UsableTopTrash(own)) {
        return own;
    }
    return std::nullopt;
}

// The path as a trash under the top directory records it: relative to that directory.
std::string RelativeTo(const std::string& top, const std::string& path) {
    const std::string prefix = Join(top, "");
    return path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path;
}

// Creates "<folder>.zarvo-<process>-<count><ending>" for writing alone; its name goes to
// `path`. An invalid descriptor, errno set, when none could be made.
UniqueFd CreateTemporary(const std::string& folder, std::string_view ending, mode_t mode,
                         std::string& path) {
    for (int tries = 0; tries < TEMPORARY_TRIES; ++tries) {
        path = folder + ".zarvo-" + std::to_string(::getpid()) + "-" +
               std::to_string(g_temporaryCounter.fetch_add(1));
        path += ending;
        UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (fd.Valid() || errno != EEXIST) {
            return fd;
        }
    }
    return UniqueFd();
}

// Closes a file just written, once its bytes are on the disk; a file system that cannot sync
// (EINVAL) has nothing more to offer.
bool Finish(UniqueFd& fd) {
    const bool synced = ::fsync(fd.Get()) == 0 || errno == EINVAL;
    const int error = errno;
    if (!fd.Close()) {
        return false;
    }
    errno = error;
    return synced;
}

// Copies a plain file into a hidden file of its own in the folder, with the file's permissions
// and times. The copy's path, or none (errno set, nothing left behind).
std::optional<std::string> CopyIntoFolder(const std::string& file, const std::string& folder) {
    const UniqueFd input(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat info {};
    if (!input.Valid() || ::fstat(input.Get(), &info) != 0) {
        return std::nullopt;
    }
    std::string copy;
    UniqueFd output = CreateTemporary(folder, ".part", 0600, copy);
    if (!output.Valid()) {
        return std::nullopt;
    }
    std::array<char, COPY_BLOCK> block;
    ssize_t count = 0;
    while ((count = ::read(input.Get(), block.data(), block.size())) != 0) {
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 ||
            !WriteAll(output.Get(),
                      std::string_view(block.data(), static_cast<std::size_t>(count)))) {
            break;
        }
    }
    const std::array<timespec, 2> times = {info.st_atim, info.st_mtim};
    if (count != 0 || ::fchmod(output.Get(), info.st_mode & 07777) != 0 ||
        ::futimens(output.Get(), times.data()) != 0 || !Finish(output)) {
        const int error = errno;
        ::unlink(copy.c_str());
        errno = error;
        return std::nullopt;
    }
    return copy;
}

std::string DataHomeOfEnvironment() {
    // Relative paths in these variables are not to be used.
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string home;
    if (data != nullptr && data[0] == '/') {
        home = data;
    } else {
        // A home that is not there is not made here: that is no trash's business.
        const char* user = std::getenv("HOME");
        struct stat info {};
        if (user == nullptr || user[0] != '/' || ::stat(user, &info) != 0 ||
            !S_ISDIR(info.st_mode)) {
            return {};
        }
        home = Join(user, ".local/share");
    }
    while (home.size() > 1 && home.back() == '/') {
        home.pop_back();
    }
    return home;
}

}  // namespace

CTrash::CTrash(TopDirectoryFinder topDirectoryOf)
    : m_dataHome(DataHomeOfEnvironment()), m_topDirectoryOf(std::move(topDirectoryOf)) {}

std::string CTrash::HomeTrash() const {
    return m_dataHome.empty() ? std::string() : Join(m_dataHome, "Trash");
}

std::string CTrash::MountPointOf(const std::string& path) {
    const std::optional<std::string> absolute = AbsolutePath(path);
    struct stat file {};
    if (!absolute || ::lstat(absolute->c_str(), &file) != 0) {
        return {};
    }
    std::string folder = ParentOf(*absolute);
    while (folder != "/") {
        const std::string parent = ParentOf(folder);
        struct stat above {};
        if (::stat(parent.c_str(), &above) != 0 || above.st_dev != file.st_dev) {
            break;
        }
        folder = parent;
    }
    return folder;
}

std::string CTrash::InfoText(const std::string& path, std::time_t deleted) {
    static constexpr char HEX[] = "0123456789ABCDEF";
    std::string text = "[Trash Info]\nPath=";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
            (byte >= '0' && byte <= '9') ||
            std::string_view("-._~/").find(c) != std::string::npos) {
            text += c;
        } else {
            text += '%';
            text += HEX[byte >> 4];
            text += HEX[byte & 0x0F];
        }
    }
    std::tm local{};
    std::array<char, 32> date{};
    if (::localtime_r(&deleted, &local) == nullptr ||
        std::strftime(date.data(), date.size(), "%Y-%m-%dT%H:%M:%S", &local) == 0) {
        date[0] = '\0';
    }
    text += "\nDeletionDate=";
    text += date.data();
    text += '\n';
    return text;
}

std::string CTrash::TrashName(const std::string& name, unsigned number) {
    const std::string suffix = number > 1 ? " (" + std::to_string(number) + ")" : std::string();
    std::string_view stem = name;
    std::string_view extension;
    const std::size_t dot = name.rfind('.');
    // An extension so long that it leaves little room for the stem is kept as part of it.
    if (dot != std::string::npos && dot > 0 && name.size() - dot <= NAME_LIMIT / 4) {
        stem = std::string_view(name).substr(0, dot);
        extension = std::string_view(name).substr(dot);
    }
    std::size_t keep = std::min(stem.size(), NAME_LIMIT - suffix.size() - extension.size());
    // No lead byte of a UTF-8 character is left without the bytes that continue it.
    while (keep > 0 && keep < stem.size() &&
           (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80) {
        --keep;
    }
    std::string trashed(stem.substr(0, keep));
    trashed += suffix;
    trashed += extension;
    return trashed;
}

bool CTrash::MakeHomeTrash() const {
    const std::string trash = HomeTrash();
    return !trash.empty() && EnsureFolders(m_dataHome) && EnsureFolder(trash, 0700) &&
           EnsureFolder(trash + "/files", 0700) && EnsureFolder(trash + "/info", 0700);
}

CTrash::Placing CTrash::PlaceInTrash(const std::string& trash, const std::string& path,
                                     const std::string& infoPath, bool copy) const {
    const std::string info = trash + "/info/";
    const std::string files = trash + "/files/";
    // The record is written whole before it takes its name, so that no one reads half of it.
    std::string record;
    {
        UniqueFd fd = CreateTemporary(info, ".tmp", 0600, record);
        if (!fd.Valid()) {
            return Placing::TrashUnusable;
        }
        if (!WriteAll(fd.Get(), InfoText(infoPath, std::time(nullptr))) || !Finish(fd)) {
            ::unlink(record.c_str());
            return Placing::TrashUnusable;
        }
    }
    std::string source = path;
    if (copy) {
        std::optional<std::string> copied = CopyIntoFolder(path, files);
        if (!copied) {
            ::unlink(record.c_str());
            return Placing::TrashUnusable;
        }
        source = std::move(*copied);
    }
    const auto cleanUp = [&](const std::string& recordName) {
        const int error = errno;
        ::unlink(recordName.c_str());
        if (copy) {
            ::unlink(source.c_str());
        }
        errno = error;
    };
    const std::string name = NameOf(path);
    for (unsigned number = 1; number <= NUMBER_LIMIT; ++number) {
        const std::string trashed = TrashName(name, number);
        const std::string infoFile = info + trashed + std::string(INFO_ENDING);
        // The name is taken in info/, never replaced: a record there is another file's.
        const RenameResult recorded = RenameNoReplace(record, infoFile);
        if (recorded == RenameResult::NameTaken) {
            continue;
        }
        if (recorded == RenameResult::Failed) {
            cleanUp(record);
            return Placing::TrashUnusable;
        }
        // Nor is a file that lies in files/ without a record replaced.
        const RenameResult moved = RenameNoReplace(source, files + trashed);
        if (moved == RenameResult::Renamed) {
            if (!copy || ::unlink(path.c_str()) == 0) {
                return Placing::Trashed;
            }
            // The file itself cannot go: its copy and record go instead.
            const int error = errno;
            ::unlink((files + trashed).c_str());
            ::unlink(infoFile.c_str());
            errno = error;
            return Placing::FileFailed;
        }
        if (moved == RenameResult::NameTaken && ::rename(infoFile.c_str(), record.c_str()) == 0) {
            continue;
        }
        cleanUp(infoFile);
        // A move to another file system (a folder mounted twice) is for a copy to do, and a
        // trash that cannot be written is no trash; any other failure is the file's.
        return errno == EXDEV || ::access(files.c_str(), W_OK) != 0 ? Placing::TrashUnusable
                                                                    : Placing::FileFailed;
    }
    cleanUp(record);
    return Placing::TrashUnusable;
}

CTrash::Result CTrash::MoveToTrash(const std::string& given) {
    const std::optional<std::string> path = AbsolutePath(given);
    struct stat file {};
    if (!path || ::lstat(path->c_str(), &file) != 0) {
        return Result::Failed;
    }
    const auto result = [](Placing placed) {
        return placed == Placing::Trashed      ? Result::Trashed
               : placed == Placing::FileFailed ? Result::Failed
                                               : Result::NoTrash;
    };
    const std::string home = HomeTrash();
    const std::optional<dev_t> homeDevice = home.empty() ? std::nullopt : DeviceOf(home);
    if (!homeDevice) {
        return Result::NoTrash;
    }
    if (file.st_dev == *homeDevice) {
        if (!MakeHomeTrash()) {
            return Result::NoTrash;
        }
        Placing placed = PlaceInTrash(home, *path, *path, false);
        if (placed == Placing::TrashUnusable && S_ISREG(file.st_mode)) {
            placed = PlaceInTrash(home, *path, *path, true);
        }
        return result(placed);
    }
    // Another file system: the trash under its top directory, which it can be moved to.
    const std::string top = m_topDirectoryOf ? m_topDirectoryOf(*path) : std::string();
    if (!top.empty()) {
        if (const std::optional<std::string> trash = TopTrash(top)) {
            const Placing placed = PlaceInTrash(*trash, *path, RelativeTo(top, *path), false);
            if (placed != Placing::TrashUnusable) {
                return result(placed);
            }
        }
    }
    // None there: a copy in the home trash, and the file then deleted.
    if (S_ISREG(file.st_mode) && MakeHomeTrash()) {
        return result(PlaceInTrash(home, *path, *path, true));
    }
    return Result::NoTrash;
}

CTrash::Deletion CTrash::Delete(const std::string& path) {
    switch (MoveToTrash(path)) {
        case Result::Trashed:
            return Deletion::Trashed;
        case Result::Failed:
            return Deletion::Failed;
        case Result::NoTrash:
            break;
    }
    if (!AskQuestion(NO_TRASH_QUESTION)) {
        return Deletion::Kept;
    }
    // unlink, not remove: a folder that somehow stands at the path is not deleted.
    return ::unlink(path.c_str()) == 0 ? Deletion::Deleted : Deletion::Failed;
}

}  // namespace platform

#include "decode/PicturePublisher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "platform/RenameNoReplace.h"
#include "platform/UniqueFd.h"
#include "platform/WriteAll.h"

namespace {

// How many numbered names are tried before publishing gives up: far more than one group ever
// holds pictures of one name, yet a bound on a folder filled by someone else.
constexpr unsigned NUMBER_LIMIT = 10000;
// How often one name is tried again when its file vanishes while being compared.
constexpr int VANISHED_RETRIES = 3;

constexpr std::size_t COMPARE_BLOCK = std::size_t{64} << 10;

enum class Comparison { Same, Different, Vanished };

// Reads up to `size` bytes, fewer only at the end of the file; -1 on a read error.
ssize_t ReadFully(int fd, char* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t count = ::read(fd, buffer + done, size - done);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return -1;
        }
        if (count == 0) {
            break;
        }
        done += static_cast<std::size_t>(count);
    }
    return static_cast<ssize_t>(done);
}

// Whether the file standing under `existing` holds exactly the bytes of `picture`: sizes first,
// then the contents. Anything that is not a readable plain file is different.
Comparison CompareWithExisting(const std::string& picture, const std::string& existing) {
    const platform::UniqueFd theirs(::open(existing.c_str(), O_RDONLY | O_CLOEXEC));
    if (theirs.Get() < 0) {
        return errno == ENOENT ? Comparison::Vanished : Comparison::Different;
    }
    const platform::UniqueFd ours(::open(picture.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat theirStatus {};
    struct stat ourStatus {};
    if (ours.Get() < 0 || ::fstat(theirs.Get(), &theirStatus) != 0 ||
        ::fstat(ours.Get(), &ourStatus) != 0 || !S_ISREG(theirStatus.st_mode) ||
        theirStatus.st_size != ourStatus.st_size) {
        return Comparison::Different;
    }
    std::array<char, COMPARE_BLOCK> ourBlock;
    std::array<char, COMPARE_BLOCK> theirBlock;
    for (;;) {
        const ssize_t ourCount = ReadFully(ours.Get(), ourBlock.data(), ourBlock.size());
        const ssize_t theirCount = ReadFully(theirs.Get(), theirBlock.data(), theirBlock.size());
        if (ourCount < 0 || ourCount != theirCount ||
            std::memcmp(ourBlock.data(), theirBlock.data(), static_cast<std::size_t>(ourCount)) !=
                0) {
            return Comparison::Different;
        }
        if (ourCount == 0) {
            return Comparison::Same;
        }
    }
}

// Cuts a stem down to `keep` bytes without leaving the lead bytes of a UTF-8 character behind
// its continuation bytes.
std::string_view CutStem(std::string_view stem, std::size_t keep) {
    if (stem.size() <= keep) {
        return stem;
    }
    for (int step = 0;
         step < 3 && keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0u) == 0x80u;
         ++step) {
        --keep;
    }
    return stem.substr(0, keep);
}

}  // namespace

std::optional<std::string> CopyIntoFolder(const std::string& file, const std::string& folder) {
    const platform::UniqueFd input(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (input.Get() < 0) {
        return std::nullopt;
    }
    for (unsigned attempt = 0; attempt < NUMBER_LIMIT; ++attempt) {
        std::string copy = folder + ".zarvo-" + std::to_string(::getpid()) + "-x" +
                           std::to_string(attempt) + ".part";
        platform::UniqueFd output(
            ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (output.Get() < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return std::nullopt;
        }
        std::array<char, COMPARE_BLOCK> block;
        ssize_t count = 0;
        while ((count = ReadFully(input.Get(), block.data(), block.size())) > 0 &&
               platform::WriteAll(
                   output.Get(), std::string_view(block.data(), static_cast<std::size_t>(count)))) {
        }
        if (count != 0 || ::fsync(output.Get()) != 0 || !output.Close()) {
            const int error = errno;
            ::unlink(copy.c_str());
            errno = error;
            return std::nullopt;
        }
        return copy;
    }
    errno = EEXIST;
    return std::nullopt;
}

std::string NumberedPictureName(std::string_view name, unsigned number) {
    const std::string suffix = number > 1 ? " (" + std::to_string(number) + ")" : std::string();
    std::string_view stem = name;
    std::string_view extension;
    const std::size_t dot = name.rfind('.');
    // An extension so long that it leaves no room for the stem is no extension worth keeping.
    if (dot != std::string_view::npos && dot > 0 &&
        name.size() - dot + suffix.size() < PICTURE_NAME_LIMIT) {
        stem = name.substr(0, dot);
        extension = name.substr(dot);
    }
    std::string numbered(CutStem(stem, PICTURE_NAME_LIMIT - suffix.size() - extension.size()));
    numbered += suffix;
    numbered += extension;
    return numbered;
}

std::optional<std::string> PublishPicture(const std::string& given, const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = target.substr(folder.size());
    std::string temporary = given;
    int retries = 0;
    for (unsigned number = 1; number <= NUMBER_LIMIT; ++number) {
        const std::string candidate = folder + NumberedPictureName(name, number);
        switch (platform::RenameNoReplace(temporary, candidate)) {
            case platform::RenameResult::Renamed:
                return candidate;
            case platform::RenameResult::Failed: {
                int error = errno;
                if (error == EXDEV && temporary == given) {
                    // The folder is on another file system: a copy beside the picture's name
                    // is published instead, as the file itself would have been.
                    if (const std::optional<std::string> copy = CopyIntoFolder(given, folder)) {
                        ::unlink(given.c_str());
                        temporary = *copy;
                        --number;
                        continue;
                    }
                    error = errno;
                }
                ::unlink(temporary.c_str());
                errno = error;
                return std::nullopt;
            }
            case platform::RenameResult::NameTaken:
                break;
        }
        switch (CompareWithExisting(temporary, candidate)) {
            case Comparison::Same:
                ::unlink(temporary.c_str());
                return candidate;
            case Comparison::Vanished:
                // Deleted between the two looks: the name is free again.
                if (retries++ < VANISHED_RETRIES) {
                    --number;
                }
                break;
            case Comparison::Different:
                break;
        }
    }
    ::unlink(temporary.c_str());
    errno = EEXIST;
    return std::nullopt;
}

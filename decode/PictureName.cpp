#include "decode/PictureName.h"

#include "decode/PicturePublisher.h"

std::optional<std::string> SafePictureName(std::string_view posted) {
    // Only the last part of a name that carries a folder, a drive or a parent reference is kept,
    // so no post can write outside the picture folder. A leading "/" is dropped all the same,
    // since on Linux it would make the name absolute.
    const std::size_t separator = posted.find_last_of("\\/:");
    std::string_view base = separator != std::string_view::npos && separator > 0
                                ? posted.substr(separator + 1)
                                : posted;
    if (base.starts_with('/')) {
        base.remove_prefix(1);
    }
    // A name the file system would refuse is cut down, keeping its extension so that the
    // picture still opens as what it is.
    std::string safe = NumberedPictureName(base, 1);
    if (safe.empty() || safe == "." || safe == "..") {
        return std::nullopt;
    }
    return safe;
}

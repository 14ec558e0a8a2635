// The picture's name made from whatever name a post gives. Beyond memory errors it checks that
// the name is one file name the file system takes (no "/", at most 255 bytes, not "." or "..")
// and that making it safe once more changes nothing: it is valid UTF-8 already, so no byte of
// it is read as Windows-1252 again, and its last character is whole.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "decode/PictureName.h"
#include "decode/PicturePublisher.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view posted(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string> name = SafePictureName(posted);
    if (!name) {
        return 0;
    }
    if (name->empty() || name->size() > PICTURE_NAME_LIMIT || *name == "." || *name == ".." ||
        name->find('/') != std::string::npos || SafePictureName(*name) != name) {
        __builtin_trap();
    }
    return 0;
}

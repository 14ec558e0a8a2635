#include "decode/YEncPicture.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>

#include "decode/CPictureFile.h"
#include "decode/PictureName.h"
#include "platform/ProgramFolder.h"

std::string SaveYEncPicture(const CYEncPart& part, const std::string& group) {
    if (!part.Verified() || !part.WholeFile()) {
        return {};
    }
    const std::optional<std::string> name = SafePictureName(part.name);
    const std::optional<std::string> programFolder = platform::GetProgramFolder();
    if (!name || !programFolder) {
        return {};
    }
    CPictureFile picture(std::min(part.data.size(), CPictureFile::BUFFER_SIZE));
    if (!picture.Create("images/" + (group.empty() ? std::string() : group + "/") + *name)) {
        return {};
    }
    std::string_view rest = part.data;
    while (!rest.empty()) {
        const std::span<unsigned char> room = picture.Space(1);
        if (room.empty()) {
            return {};
        }
        const std::size_t now = std::min(room.size(), rest.size());
        std::memcpy(room.data(), rest.data(), now);
        picture.Added(now);
        rest.remove_prefix(now);
    }
    if (picture.Commit() != CPictureFile::CommitResult::Done) {
        return {};
    }
    return *programFolder + picture.PublishedPath();
}

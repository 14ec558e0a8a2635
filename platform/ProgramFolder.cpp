#include "platform/ProgramFolder.h"

#include <filesystem>
#include <mutex>
#include <system_error>

namespace platform {
namespace {

std::mutex& FolderMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& CachedFolder() {
    static std::string folder;
    return folder;
}

}  // namespace

std::optional<std::string> GetProgramFolder() {
    std::lock_guard lock(FolderMutex());
    std::string& cached = CachedFolder();
    if (cached.empty()) {
        std::error_code error;
        const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
        if (error || !exe.has_parent_path()) {
            return std::nullopt;
        }
        cached = exe.parent_path().string();
        if (cached.empty() || cached.back() != '/') {
            cached += '/';
        }
    }
    return cached;
}

void SetProgramFolder(const std::string& folder) {
    std::lock_guard lock(FolderMutex());
    CachedFolder() = folder;
    if (CachedFolder().empty() || CachedFolder().back() != '/') {
        CachedFolder() += '/';
    }
}

}  // namespace platform

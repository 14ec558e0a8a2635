#include "tests/fuzz/CFuzzScratch.h"

#include <stdlib.h>  // mkdtemp
#include <unistd.h>  // access

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <system_error>

#include "platform/Console.h"
#include "platform/ErrorBox.h"

namespace fuzz {
namespace {

std::filesystem::path ParentFolder() {
    if (const char* chosen = std::getenv("ZARVO_FUZZ_SCRATCH"); chosen != nullptr && *chosen) {
        return chosen;
    }
    if (::access("/dev/shm", W_OK) == 0) {
        return "/dev/shm";
    }
    return std::filesystem::temp_directory_path();
}

}  // namespace

CFuzzScratch::CFuzzScratch() {
    std::string pattern = (ParentFolder() / "zarvo-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    m_path = pattern;
    std::filesystem::current_path(m_path);
    platform::SetConsoleSink([](std::string_view) {});
    platform::SetErrorBoxHandler([](const std::string&) {});
}

CFuzzScratch::~CFuzzScratch() {
    std::error_code error;
    std::filesystem::current_path("/", error);
    std::filesystem::remove_all(m_path, error);
}

void CFuzzScratch::Clear() const {
    for (const std::filesystem::directory_entry& entry :
         std::filesystem::directory_iterator(m_path)) {
        std::filesystem::remove_all(entry.path());
    }
}

void Broken(const char* invariant) {
    std::fprintf(stderr, "broken invariant: %s\n", invariant);
    std::fflush(stderr);
    __builtin_trap();
}

}  // namespace fuzz

#pragma once

// The working folder of one harness process: a fresh folder, made the current directory (Zarvo
// works in its current directory) and removed when the process ends normally. It lies under
// $ZARVO_FUZZ_SCRATCH when that is set (scripts/fuzz points it at a folder it removes even after
// a crash), else in /dev/shm, else in the temporary folder. It also sends the core's console
// lines and error boxes nowhere, so that the fuzzer's own output stays readable.

#include <filesystem>
#include <string>

namespace fuzz {

class CFuzzScratch {
public:
    CFuzzScratch();
    ~CFuzzScratch();
    CFuzzScratch(const CFuzzScratch&) = delete;
    CFuzzScratch& operator=(const CFuzzScratch&) = delete;

    // The folder as a text ending in "/".
    std::string Folder() const { return m_path.string() + "/"; }
    // Removes everything inside the folder, for the next input.
    void Clear() const;

private:
    std::filesystem::path m_path;
};

// Stops the process at once with a trap, so that the fuzzer keeps the input as a finding.
[[noreturn]] void Broken(const char* invariant);

}  // namespace fuzz

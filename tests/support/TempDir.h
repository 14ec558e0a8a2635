#pragma once

// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes. With makeCurrent it is also the current directory until then, since Zarvo works
// in its current directory.

#include <filesystem>
#include <string>

namespace test {

class TempDir {
public:
    explicit TempDir(bool makeCurrent = false);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // The folder as a text ending in "/".
    std::string Folder() const { return m_path.string() + "/"; }

private:
    std::filesystem::path m_path;
    std::filesystem::path m_previous;
};

// Whole-file helpers for tests.
std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);

}  // namespace test

#pragma once

// One article's body on disk, for the decoder to read: a file of its own under tmp_dir/, named
// by the process and the article number and created exclusively, so that it can never be a file
// of the user's nor another Zarvo's. It is removed when the object goes, whatever happened in
// between. It knows nothing of what the body holds.

#include <cstdint>
#include <string>
#include <string_view>

class CArticleFile {
public:
    // The folder that holds the article files, in the program folder.
    static constexpr const char* FOLDER = "tmp_dir";

    CArticleFile() = default;
    // Removes the file, if one was made.
    ~CArticleFile();
    CArticleFile(const CArticleFile&) = delete;
    CArticleFile& operator=(const CArticleFile&) = delete;

    // Makes the empty file for the article; false when it cannot be made.
    bool Create(std::uint64_t number);
    // Writes the whole body and closes the file; false (the file then gone) when that failed.
    bool Write(std::string_view body);
    const std::string& Path() const { return m_path; }

    // Removes the article files that processes no longer running left behind (a crash, a power
    // cut). Files of a Zarvo that still runs in the same folder are left alone.
    static void RemoveLeftovers();

private:
    void Remove();

    int m_fd = -1;
    std::string m_path;
};

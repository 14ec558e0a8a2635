// The uudecoder on an article of fuzzed bytes. Beyond memory errors it holds the article to
// parse exactly the same read in one piece or cut into small reads: the same lines from
// CArticleReader (the lines a 300-byte fgets gives), the same result and the same pictures from
// UUDecodeFile, and no temporary file left behind (its name would differ between the two
// folders). A second run over the same article must give the same result and add no file, and
// the article decoded from memory (UUDecodeArticle) must give the same lines and pictures.
//
// Input: two bytes that choose the small read size (1 to 1024), then the article.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "decode/CArticleReader.h"
#include "decode/UUDecoder.h"
#include "platform/ProgramFolder.h"
#include "tests/fuzz/CFuzzScratch.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using FolderContent = std::map<std::string, std::string>;

constexpr const char* ARTICLE = "article";

Lines ReadWithReader(std::size_t chunkSize) {
    Lines lines;
    CArticleReader reader(chunkSize);
    std::uint64_t size = 0;
    if (!reader.Open(ARTICLE) || !reader.ReadSize(size)) {
        fuzz::Broken("the article cannot be read");
    }
    std::string_view line;
    while (reader.NextLine(line)) {
        lines.emplace_back(line);
    }
    return lines;
}

Lines ReadFromMemory(std::string_view bytes) {
    Lines lines;
    CArticleReader reader;
    reader.OpenMemory(bytes);
    std::string_view line;
    while (reader.NextLine(line)) {
        lines.emplace_back(line);
    }
    return lines;
}

Lines ReadWithFgets() {
    Lines lines;
    std::FILE* file = std::fopen(ARTICLE, "rb");
    if (file == nullptr) {
        fuzz::Broken("the article cannot be opened");
    }
    char buffer[300];
    while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
        std::string line(buffer);
        if (line.ends_with('\n')) {
            line.pop_back();
            if (line.ends_with('\r')) {
                line.pop_back();
            }
        }
        lines.push_back(std::move(line));
    }
    std::fclose(file);
    return lines;
}

FolderContent Content(const fs::path& folder) {
    FolderContent content;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        content[entry.path().filename().string()] =
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return content;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::CFuzzScratch scratch;
    if (size < 2) {
        return 0;
    }
    platform::SetProgramFolder(scratch.Folder());
    const std::size_t chunkSize = 1 + (static_cast<std::size_t>(data[0] | data[1] << 8) % 1024);
    {
        std::ofstream article(ARTICLE, std::ios::binary);
        article.write(reinterpret_cast<const char*>(data + 2),
                      static_cast<std::streamsize>(size - 2));
    }

    const Lines whole = ReadWithReader(CArticleReader::CHUNK_SIZE);
    if (ReadWithReader(chunkSize) != whole) {
        fuzz::Broken("the lines read in small pieces differ from those read in one");
    }
    const std::string_view bytes(reinterpret_cast<const char*>(data + 2), size - 2);
    if (ReadFromMemory(bytes) != whole) {
        fuzz::Broken("the lines read from memory differ from those read from the file");
    }
    if (ReadWithFgets() != whole) {
        fuzz::Broken("the lines differ from those of a 300-byte fgets");
    }

    fs::create_directories("images/cut");
    fs::create_directories("images/whole");
    const std::string cut = UUDecodeFile(ARTICLE, std::string("cut"), chunkSize);
    const std::string inOne = UUDecodeFile(ARTICLE, std::string("whole"));
    const std::string images = scratch.Folder() + "images/";
    if (cut.empty() != inOne.empty() ||
        (!cut.empty() && (!cut.starts_with(images + "cut/") ||
                          inOne != images + "whole/" + cut.substr(images.size() + 4)))) {
        fuzz::Broken("the result differs between small reads and one");
    }
    const FolderContent pictures = Content("images/whole");
    if (Content("images/cut") != pictures) {
        fuzz::Broken("the pictures differ between small reads and one");
    }
    if (UUDecodeFile(ARTICLE, std::string("whole")) != inOne ||
        Content("images/whole") != pictures) {
        fuzz::Broken("a second run over the article differs from the first");
    }
    std::set<std::string> fromMemory;
    std::string firstName;
    UUDecodeArticle(bytes, [&](const std::string& name, std::string_view picture) {
        if (firstName.empty()) {
            firstName = name;
        }
        fromMemory.emplace(picture);
    });
    std::set<std::string> fromFile;
    for (const auto& [name, picture] : pictures) {
        fromFile.insert(picture);
    }
    if (fromMemory != fromFile ||
        (!inOne.empty() && inOne.substr(inOne.rfind('/') + 1) != firstName)) {
        fuzz::Broken("the pictures decoded from memory differ from those of the file");
    }
    scratch.Clear();
    return 0;
}

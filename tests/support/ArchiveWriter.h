#pragma once

// Archives made in tests: ZIP and 7z through libarchive's writer, and RAR 4 and RAR 5 (which
// libarchive cannot write) by a small writer of our own that stores entries uncompressed, in one
// volume or cut into several. Each returns the archive's bytes; nothing is written to disk. The
// RAR writer knows enough of the format for libarchive to read it, not for every program.

#include <cstddef>
#include <string>
#include <vector>

namespace test {

enum class EntryKind { File, Symlink, Directory, Hardlink };

struct ArchiveEntry {
    std::string name;
    std::string bytes{};  // a file's content; the target for a link
    EntryKind kind = EntryKind::File;
};

// A ZIP archive, deflated; with `encrypted`, every file under traditional ZIP encryption.
// Hard links are not written (ZIP has none).
std::string ZipArchive(const std::vector<ArchiveEntry>& entries, bool encrypted = false);

// A 7z archive, LZMA-compressed. Hard links are not written.
std::string SevenZipArchive(const std::vector<ArchiveEntry>& entries);

struct RarOptions {
    // The most file bytes one volume holds (0: one volume). A file that does not fit goes on in
    // the next volume; one that ends exactly at the edge is not cut.
    std::size_t volumeData = 0;
    bool encrypted = false;  // files marked as encrypted (their bytes stay as given)
};

// A stored RAR 4 archive as its volumes. Hard links are not written (RAR 4 has none).
std::vector<std::string> Rar4Volumes(const std::vector<ArchiveEntry>& entries,
                                     const RarOptions& options = {});

// A stored RAR 5 archive as its volumes.
std::vector<std::string> Rar5Volumes(const std::vector<ArchiveEntry>& entries,
                                     const RarOptions& options = {});

// `archive` cut at `cuts` (ascending offsets) into pieces, as split volumes ".001", ".002"...
std::vector<std::string> SplitVolumes(const std::string& archive,
                                      const std::vector<std::size_t>& cuts);

}  // namespace test

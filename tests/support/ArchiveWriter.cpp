#include "tests/support/ArchiveWriter.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "decode/Crc32.h"

namespace test {
namespace {

// --- libarchive's writer ------------------------------------------------------------------

struct FreeWriter {
    void operator()(archive* writer) const { archive_write_free(writer); }
};
struct FreeEntry {
    void operator()(archive_entry* entry) const { archive_entry_free(entry); }
};

la_ssize_t Append(archive*, void* out, const void* bytes, size_t count) {
    static_cast<std::string*>(out)->append(static_cast<const char*>(bytes), count);
    return static_cast<la_ssize_t>(count);
}

void Check(archive* writer, int status) {
    if (status < ARCHIVE_WARN) {
        throw std::runtime_error(std::string("libarchive: ") + archive_error_string(writer));
    }
}

std::string WriteWithLibarchive(const std::vector<ArchiveEntry>& entries,
                                int (*setFormat)(archive*), bool encrypted) {
    std::unique_ptr<archive, FreeWriter> writer(archive_write_new());
    Check(writer.get(), setFormat(writer.get()));
    Check(writer.get(), archive_write_set_bytes_in_last_block(writer.get(), 1));
    if (encrypted) {
        Check(writer.get(), archive_write_set_options(writer.get(), "zip:encryption=zipcrypt"));
        Check(writer.get(), archive_write_set_passphrase(writer.get(), "secret"));
    }
    std::string out;
    Check(writer.get(), archive_write_open(writer.get(), &out, nullptr, Append, nullptr));
    for (const ArchiveEntry& entry : entries) {
        if (entry.kind == EntryKind::Hardlink) {
            continue;
        }
        std::unique_ptr<archive_entry, FreeEntry> header(archive_entry_new());
        archive_entry_set_pathname(header.get(), entry.name.c_str());
        archive_entry_set_mtime(header.get(), 1700000000, 0);
        switch (entry.kind) {
            case EntryKind::File:
                archive_entry_set_filetype(header.get(), AE_IFREG);
                archive_entry_set_perm(header.get(), 0644);
                archive_entry_set_size(header.get(), static_cast<la_int64_t>(entry.bytes.size()));
                break;
            case EntryKind::Symlink:
                archive_entry_set_filetype(header.get(), AE_IFLNK);
                archive_entry_set_perm(header.get(), 0777);
                archive_entry_set_symlink(header.get(), entry.bytes.c_str());
                break;
            case EntryKind::Directory:
            case EntryKind::Hardlink:
                archive_entry_set_filetype(header.get(), AE_IFDIR);
                archive_entry_set_perm(header.get(), 0755);
                break;
        }
        Check(writer.get(), archive_write_header(writer.get(), header.get()));
        if (entry.kind == EntryKind::File && !entry.bytes.empty() &&
            archive_write_data(writer.get(), entry.bytes.data(), entry.bytes.size()) < 0) {
            Check(writer.get(), ARCHIVE_FATAL);
        }
    }
    Check(writer.get(), archive_write_close(writer.get()));
    return out;
}

// --- RAR: the entries' bytes laid out over volumes ----------------------------------------

// One volume's share of one entry.
struct Piece {
    std::size_t entry;
    std::size_t begin;
    std::size_t length;
    bool splitBefore;
    bool splitAfter;
};

std::vector<std::vector<Piece>> Layout(const std::vector<std::string_view>& data,
                                       std::size_t volumeData) {
    std::vector<std::vector<Piece>> volumes(1);
    std::size_t room = volumeData;
    for (std::size_t entry = 0; entry < data.size(); ++entry) {
        const std::size_t size = data[entry].size();
        std::size_t done = 0;
        do {
            if (volumeData != 0 && room == 0 && size > done) {
                volumes.emplace_back();
                room = volumeData;
            }
            const std::size_t length = volumeData == 0 ? size - done : std::min(room, size - done);
            volumes.back().push_back({entry, done, length, done > 0, done + length < size});
            done += length;
            if (volumeData != 0) {
                room -= length;
            }
        } while (done < size);
    }
    return volumes;
}

std::string_view StoredBytes(const ArchiveEntry& entry, bool linkTargetsAsData) {
    if (entry.kind == EntryKind::File || (linkTargetsAsData && entry.kind == EntryKind::Symlink)) {
        return entry.bytes;
    }
    return {};
}

void Le(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

std::uint32_t Mode(EntryKind kind) {
    switch (kind) {
        case EntryKind::Symlink:
            return 0120777;
        case EntryKind::Directory:
            return 040755;
        case EntryKind::File:
        case EntryKind::Hardlink:
            break;
    }
    return 0100644;
}

// --- RAR 4 --------------------------------------------------------------------------------

// A RAR 4 block: its CRC (the low half of the CRC-32 of what follows it) before `body`, which
// starts at the block's type.
std::string Rar4Block(const std::string& body) {
    std::string block;
    Le(block, Crc32(body) & 0xFFFF, 2);
    return block + body;
}

std::string Rar4FileBlock(const ArchiveEntry& entry, const Piece& piece, std::string_view data,
                          bool encrypted) {
    const bool ascii =
        std::all_of(entry.name.begin(), entry.name.end(), [](char c) { return c >= 0; });
    unsigned flags = 0x8000;  // a block followed by data
    flags |= piece.splitBefore ? 0x0001 : 0;
    flags |= piece.splitAfter ? 0x0002 : 0;
    flags |= encrypted && entry.kind == EntryKind::File ? 0x0004 : 0;
    flags |= entry.kind == EntryKind::Directory ? 0x00E0 : 0;
    flags |= ascii ? 0 : 0x0200;  // a name in UTF-8
    const std::string_view stored = data.substr(piece.begin, piece.length);
    // The last piece carries the CRC of the whole file, the others that of their own bytes.
    const std::uint32_t crc = piece.splitAfter ? Crc32(stored) : Crc32(data);
    std::string body;
    body += '\x74';
    Le(body, flags, 2);
    Le(body, 32 + entry.name.size(), 2);
    Le(body, piece.length, 4);
    Le(body, data.size(), 4);
    body += '\x03';  // Unix
    Le(body, crc, 4);
    Le(body, 0x5A210000, 4);  // a DOS date and time in 2025
    body += '\x1D';           // version 2.9 to unpack
    body += '\x30';           // stored
    Le(body, entry.name.size(), 2);
    Le(body, Mode(entry.kind), 4);
    body += entry.name;
    return Rar4Block(body) + std::string(stored);
}

// --- RAR 5 --------------------------------------------------------------------------------

void Vint(std::string& out, std::uint64_t value) {
    do {
        const unsigned char low = value & 0x7F;
        value >>= 7;
        out += static_cast<char>(value != 0 ? low | 0x80 : low);
    } while (value != 0);
}

// A RAR 5 block: the CRC-32 of the header size and the header, the size, then `header`, which
// starts at the block's type.
std::string Rar5Block(const std::string& header) {
    std::string sized;
    Vint(sized, header.size());
    sized += header;
    std::string block;
    Le(block, Crc32(sized), 4);
    return block + sized;
}

std::string Rar5FileBlock(const ArchiveEntry& entry, const Piece& piece, std::string_view data,
                          bool encrypted) {
    std::string extra;
    const auto record = [&extra](unsigned type, const std::string& content) {
        std::string typed;
        Vint(typed, type);
        typed += content;
        Vint(extra, typed.size());
        extra += typed;
    };
    if (entry.kind == EntryKind::Symlink || entry.kind == EntryKind::Hardlink) {
        std::string redirection;
        Vint(redirection, entry.kind == EntryKind::Symlink ? 1 : 4);  // Unix symlink, hard link
        Vint(redirection, 0);
        Vint(redirection, entry.bytes.size());
        redirection += entry.bytes;
        record(5, redirection);
    }
    if (encrypted && entry.kind == EntryKind::File) {
        // Version 0, no flags, 2^15 key rounds, then the salt and the initialisation vector.
        record(1, std::string("\x00\x00\x0F", 3) + std::string(32, '\x5A'));
    }
    const bool file = entry.kind == EntryKind::File;
    const std::string_view stored = data.substr(piece.begin, piece.length);
    std::string header;
    Vint(header, 2);  // a file
    Vint(header, 0x0002 | (extra.empty() ? 0 : 0x0001) | (piece.splitBefore ? 0x0008 : 0) |
                     (piece.splitAfter ? 0x0010 : 0));
    if (!extra.empty()) {
        Vint(header, extra.size());
    }
    Vint(header, piece.length);
    Vint(header, (entry.kind == EntryKind::Directory ? 0x0001 : 0) | (file ? 0x0004 : 0));
    Vint(header, data.size());
    Vint(header, Mode(entry.kind));
    if (file) {
        Le(header, piece.splitAfter ? Crc32(stored) : Crc32(data), 4);
    }
    Vint(header, 0);  // stored, the smallest dictionary
    Vint(header, 1);  // Unix
    Vint(header, entry.name.size());
    header += entry.name;
    header += extra;
    return Rar5Block(header) + std::string(stored);
}

}  // namespace

std::string ZipArchive(const std::vector<ArchiveEntry>& entries, bool encrypted) {
    return WriteWithLibarchive(entries, archive_write_set_format_zip, encrypted);
}

std::string SevenZipArchive(const std::vector<ArchiveEntry>& entries) {
    return WriteWithLibarchive(entries, archive_write_set_format_7zip, false);
}

std::vector<std::string> Rar4Volumes(const std::vector<ArchiveEntry>& given,
                                     const RarOptions& options) {
    std::vector<ArchiveEntry> entries;
    std::copy_if(given.begin(), given.end(), std::back_inserter(entries),
                 [](const ArchiveEntry& entry) { return entry.kind != EntryKind::Hardlink; });
    std::vector<std::string_view> data;
    for (const ArchiveEntry& entry : entries) {
        data.push_back(StoredBytes(entry, true));
    }
    const std::vector<std::vector<Piece>> layout = Layout(data, options.volumeData);
    std::vector<std::string> volumes;
    for (std::size_t v = 0; v < layout.size(); ++v) {
        const bool set = layout.size() > 1;
        // A volume of a set, numbered the new way, the first marked as such.
        const unsigned mainFlags = set ? 0x0001 | 0x0010 | (v == 0 ? 0x0100 : 0) : 0;
        std::string volume("Rar!\x1A\x07\x00", 7);
        std::string main("\x73", 1);
        Le(main, mainFlags, 2);
        Le(main, 13, 2);
        Le(main, 0, 6);
        volume += Rar4Block(main);
        for (const Piece& piece : layout[v]) {
            volume +=
                Rar4FileBlock(entries[piece.entry], piece, data[piece.entry], options.encrypted);
        }
        std::string end("\x7B", 1);
        Le(end, v + 1 < layout.size() ? 0x0001 : 0, 2);  // another volume follows
        Le(end, 7, 2);
        volume += Rar4Block(end);
        volumes.push_back(std::move(volume));
    }
    return volumes;
}

std::vector<std::string> Rar5Volumes(const std::vector<ArchiveEntry>& entries,
                                     const RarOptions& options) {
    std::vector<std::string_view> data;
    for (const ArchiveEntry& entry : entries) {
        data.push_back(StoredBytes(entry, false));
    }
    const std::vector<std::vector<Piece>> layout = Layout(data, options.volumeData);
    std::vector<std::string> volumes;
    for (std::size_t v = 0; v < layout.size(); ++v) {
        const bool set = layout.size() > 1;
        std::string volume("Rar!\x1A\x07\x01\x00", 8);
        std::string main;
        Vint(main, 1);  // the main block
        Vint(main, 0);
        Vint(main, set ? 0x0001 | (v > 0 ? 0x0002 : 0) : 0);  // a volume, with its number
        if (set && v > 0) {
            Vint(main, v);
        }
        volume += Rar5Block(main);
        for (const Piece& piece : layout[v]) {
            volume +=
                Rar5FileBlock(entries[piece.entry], piece, data[piece.entry], options.encrypted);
        }
        std::string end;
        Vint(end, 5);  // the end of the archive
        Vint(end, 0);
        Vint(end, v + 1 < layout.size() ? 1 : 0);  // another volume follows
        volume += Rar5Block(end);
        volumes.push_back(std::move(volume));
    }
    return volumes;
}

std::vector<std::string> SplitVolumes(const std::string& archive,
                                      const std::vector<std::size_t>& cuts) {
    std::vector<std::string> pieces;
    std::size_t begin = 0;
    for (const std::size_t cut : cuts) {
        pieces.push_back(archive.substr(begin, cut - begin));
        begin = cut;
    }
    pieces.push_back(archive.substr(begin));
    return pieces;
}

}  // namespace test

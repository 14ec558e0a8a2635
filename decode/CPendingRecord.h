#pragma once

// The bookkeeping of one picture that is being put together from parts posted in separate
// articles: which picture it is, and which of its parts are on disk already. It is a short text,
// one item a line, behind a versioned first line; Parse takes only what Serialize writes (and
// what the version before it wrote), so a damaged record is never half believed. It does no I/O.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct CPendingRecord {
    enum class Kind {
        Ranges,   // each part knows its place in the file (yEnc =ypart begin/end)
        Ordered,  // the parts follow each other in number order (uuencode "(n/N)")
    };
    struct Piece {
        std::uint32_t number = 0;  // 1-based
        std::uint64_t offset = 0;  // Ranges: where its bytes go
        std::uint64_t length = 0;  // its decoded bytes
        std::string source;        // the article it came from; empty when unknown

        bool operator==(const Piece&) const = default;
    };

    Kind kind = Kind::Ranges;
    std::string key;                       // what the parts of this picture share
    std::string name;                      // the picture's safe name; empty until a part gave it
    std::uint64_t fileSize = 0;            // Ranges: the whole file's size
    std::uint32_t total = 0;               // how many parts; 0 while unknown
    std::optional<std::uint32_t> fileCrc;  // the whole file's CRC32, once a part gave it
    bool lastSeen = false;                 // Ordered: the part that ends the picture has come
    std::vector<Piece> pieces;             // in number order, each number once

    bool operator==(const CPendingRecord&) const = default;

    std::string Serialize() const;
    // The record in the text, or nothing when the text is not a whole, well-formed record.
    static std::optional<CPendingRecord> Parse(std::string_view text);

    const Piece* Find(std::uint32_t number) const;
    // Adds the piece in number order; false when that number is there already, or when its
    // bytes would end past the largest file there can be.
    bool Add(const Piece& piece);
    // Every byte of the file is there (Ranges), or every part from 1 to the last (Ordered), and
    // as many parts as the posting said, when it said.
    bool Complete() const;
};

#pragma once

// What the subject of a posted file's article tells about that file, as posters and their tools
// write it: the file name, which part of how many this article is, the file's place in a set,
// the size and whether it is yEnc. It reads text only; whether the article holds what the
// subject says is for the decoders to find out.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct CPostSubject {
    // The file name the subject gives (quotes removed); empty when none can be told.
    std::string name;
    // p and N of the part marker "(p/N)" or "[p/N]", the last marker after the name, with
    // 0 <= p <= N <= 1,000,000 (part 0 is the text some uuencoded posts send ahead); 0 and 0
    // without one.
    std::uint32_t part = 0;
    std::uint32_t parts = 0;
    // i and M of a set marker "[i/M]" or "(i/M)" standing before the name; 0 and 0 without one.
    std::uint32_t file = 0;
    std::uint32_t files = 0;
    // A size written after the part marker ("123456", "850 KB", "1,2 MB"), in bytes.
    std::optional<std::uint64_t> size;
    // The subject says yEnc, in any case.
    bool yenc = false;
    // The subject with the part marker's p replaced by a fixed placeholder: the same text for
    // every part of one post. The subject itself when it has no part marker.
    std::string rest;
};

// Reads a subject. A quoted text is the name (the last one before the part marker); otherwise
// the last word before "yEnc" or the part marker that looks like a file name (a dot followed by
// one to five letters or digits), or, in a yEnc subject, the word right before "yEnc".
CPostSubject ParseSubject(std::string_view subject);

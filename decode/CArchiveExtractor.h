#pragma once

// Takes the pictures out of one archive (ZIP, RAR 4 or 5, 7z; in one file or in volumes) with
// libarchive and hands each over as a complete file in a work folder, and nothing else: no other
// file, no link, no folder, no archive inside it. A name from the archive is never used as a
// path, only its base name made safe; what the caller does with the pictures (publishing them
// into its own folder) is its business. It never asks for a password, and stops at the limits
// counting what is actually written, so that a small archive that expands without end does not
// fill the disk.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct CArchiveLimits {
    std::uint64_t maxBytes = 1ull << 30;  // all pictures of one archive together
    std::uint32_t maxFiles = 10000;       // entries of one archive looked at, of every kind
};

class CArchiveExtractor {
public:
    struct Picture {
        std::string name;       // safe base name (SafePictureName)
        std::string temporary;  // a complete file in the work folder, 0600
    };
    enum class Outcome {
        Done,
        Encrypted,
        Damaged,
        LimitReached,
        NotReadable,
        WriteFailed,
        Stopped
    };
    struct Result {
        Outcome outcome = Outcome::Done;
        unsigned pictures = 0;    // handed over
        unsigned passedOver = 0;  // entries not pictures, links, nested archives (not folders)
        std::string log;  // one line for the log when something went wrong, naming the archive
    };

    // Reads `volumes` (the archive's files in their order; one for an archive in one piece) as
    // one stream. `take` is given each picture; it owns the temporary file from then on
    // (publishes or removes it). Returning false ends the extraction (Outcome WriteFailed).
    // `stop` is polled between blocks. Pictures complete before the archive turns out damaged,
    // encrypted or over a limit are handed over; the one being written then is removed, so the
    // work folder holds nothing afterwards but the files handed over.
    static Result Extract(const std::vector<std::string>& volumes, const std::string& workFolder,
                          const CArchiveLimits& limits,
                          const std::function<bool(const Picture&)>& take,
                          const std::atomic<bool>* stop = nullptr);
};

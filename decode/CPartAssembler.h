#pragma once

// Puts pictures together from parts posted in separate articles. Each part is written at its
// place in a pending file under tmp_dir/<group>/ as soon as it arrives, in any order, in any run;
// its bookkeeping (CPendingRecord) is replaced whole after every part, so a crash or a restart
// never loses or corrupts what came before. When every byte is there and the checks pass, the
// picture is published into images/<group>/ under the same rules as any picture. A part that
// is missing never shifts later data: a picture with a gap is never published. Pending pictures
// that got no new part for a week are removed at start. A picture larger than its limit, and
// parts that would take a group's pending files past theirs, are passed over, so that no part
// makes a file larger than the limit says. A whole that fails its CRC is set aside, never read
// again, and a repost under the same key begins afresh.
//
// It decodes nothing itself: it is handed decoded, checked parts. What becomes of a finished
// picture is its finisher's to say (by default it is published as it is).

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "decode/CCollected.h"
#include "decode/CPendingRecord.h"

class CPartAssembler {
public:
    // How long a pending picture waits for a new part before it is given up, and a whole that
    // failed its CRC is kept aside.
    static constexpr std::chrono::hours STALE_AFTER{24 * 7};
    // The largest picture until SetMaxPictureBytes says otherwise.
    static constexpr std::uint64_t DEFAULT_MAX_PICTURE_BYTES = std::uint64_t{1024} << 20;
    // The pending files of one group hold at most this many largest pictures.
    static constexpr std::uint64_t GROUP_PICTURES = 4;

    // One part, decoded and checked on its own.
    struct Part {
        CPendingRecord::Kind kind = CPendingRecord::Kind::Ranges;
        // What the parts of one picture share and no other picture's do: for yEnc the name, the
        // size and the number of parts; for uuencode the poster, the subject and the number.
        std::string key;
        std::string name;  // the picture's safe name, when this part gives it; empty otherwise
        std::uint32_t number = 1;
        std::uint32_t total = 0;               // 0 while unknown
        std::uint64_t fileSize = 0;            // Ranges: the whole file's size
        std::uint64_t offset = 0;              // Ranges: where the part's bytes go
        std::string_view data;                 // the part's decoded bytes
        std::optional<std::uint32_t> fileCrc;  // the whole file's CRC32, when the part gives it
        bool last = false;                     // Ordered: this part ends the picture
        // The article the part came from (its number or its message-id), kept in the record and
        // named when the whole fails; empty when unknown.
        std::string source;
        // The key an earlier version gave the same part, when it differs from `key`: a picture
        // pending under it, and under no record of `key`, is continued rather than lost.
        std::string formerKey;
    };

    // Takes a whole, checked picture: its data file (which stays where it is), its name and its
    // group. A result that failed keeps the parts pending, for another try.
    using Finisher = std::function<CCollected(const std::string& data, const std::string& name,
                                              const std::string& group)>;

    struct Result {
        enum class State {
            Waiting,    // kept until the other parts come
            Duplicate,  // that part is there already
            Unfit,      // the part does not fit its picture
            TooLarge,   // its picture, or the group's pending pictures, would pass their limit
            Failed,     // it could not be kept, or the whole could not be finished: try again
            Refused,    // the whole fails its CRC and is set aside: it can never be right
            Finished,   // the finisher took the whole
        };
        State state = State::Waiting;
        CCollected collected;  // Finished: what the finisher made of it
        // The picture's name, as the parts give it so far.
        std::string name;
    };

    // `pendingRoot` holds the pending pictures (tmp_dir), `pictureRoot` the pictures (images),
    // both relative to the current directory, which is the program folder.
    CPartAssembler(std::string pendingRoot, std::string pictureRoot);

    // Replaces the finisher; by default a finished picture is published into
    // images/<group>/<name> (PublishPicture).
    void SetFinisher(Finisher finisher) { m_finisher = std::move(finisher); }
    // The largest picture, in bytes (at least 1): a part of a larger one is passed over, and so
    // is one that would take its group's pending files past GROUP_PICTURES times as much.
    void SetMaxPictureBytes(std::uint64_t bytes);

    // Adds a part of a picture of the group.
    Result Add(const std::string& group, const Part& part);
    // As Add: the path of the first picture it finished, or "" (the part is kept for later, or
    // was a duplicate, unfit or too large, which the log says).
    std::string AddPart(const std::string& group, const Part& part);

    // Removes the pending pictures, leftovers of pictures and wholes set aside that got no new
    // part for `age`.
    static void RemoveStale(const std::string& pendingRoot, std::chrono::hours age = STALE_AFTER);

private:
    Result Finish(const std::string& folder, const std::string& id, const std::string& group,
                  const CPendingRecord& record);

    std::string m_pendingRoot;
    std::string m_pictureRoot;
    Finisher m_finisher;
    std::uint64_t m_maxPictureBytes = DEFAULT_MAX_PICTURE_BYTES;
};

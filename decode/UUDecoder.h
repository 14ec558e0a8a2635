#pragma once

// The uudecoder: turns one saved news article into a picture file under images/ in the current
// directory. It reads the article as text lines, finds the uuencoded block (begin line, data
// lines, end line) and decodes it. It creates no folder and shows nothing to the user but the
// one error box for a program folder that cannot be found; its progress lines go to standard
// output.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "decode/CArticleReader.h"

// Decodes the uuencoded picture in `articleFile` into images/<subFolder>/<base name> (into
// images/<base name> without a sub-folder), relative to the current directory, which the caller
// makes the program folder; images/<subFolder> must exist. A picture never replaces a file:
// when the name holds other bytes already, it goes to "name (2).ext" and so on (PublishPicture).
// Returns the picture's full path as published (the program folder, then images/, subFolder/
// and the name used), or "" when the article holds no complete picture. An empty `articleFile`
// stands for a missing article file. `readChunkSize` is the most one read of the article asks
// for; only tests and fuzzing change it, to cut lines across reads.
std::string UUDecodeFile(const std::string& articleFile,
                         const std::optional<std::string>& subFolder,
                         std::size_t readChunkSize = CArticleReader::CHUNK_SIZE);

// What UUDecodeArticle hands on for every complete block: the picture's safe base name and its
// bytes, valid during the call.
using UUBlockHandler = std::function<void(const std::string& name, std::string_view bytes)>;

// Decodes the uuencoded pictures of an article that is in memory, exactly as UUDecodeFile
// decodes the same bytes from a file (the same lines, the same blocks, the same bytes), and
// hands each complete block to `take` instead of writing it anywhere. Returns how many blocks
// were complete.
std::size_t UUDecodeArticle(std::string_view body, const UUBlockHandler& take);

// One part of a uuencoded picture posted in several articles ("name (2/3)"), decoded from the
// article's body in memory.
struct CUUPart {
    std::string name;    // the safe base name from the part's begin line; empty without one
    bool begun = false;  // the part holds the begin line: it is the first
    bool ended = false;  // the part holds the end line: it is the last
    std::string data;    // the bytes of its data lines
};

// The data lines of the part: after its begin line when it has one, otherwise every line that
// has the shape of a data line (a length character and as many characters as that length
// needs), up to its end line. Lines of other text around them are passed over.
CUUPart UUDecodePart(std::string_view body);

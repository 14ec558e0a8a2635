#include "decode/YEncArticle.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "platform/LargePages.h"

namespace {

// Unused room beyond this (and an eighth of the data) is given back.
constexpr std::size_t SPARE_ROOM = std::size_t{64} << 10;
// From this size on the decoded data's buffer is asked for large pages.
constexpr std::size_t LARGE_BODY = std::size_t{16} << 20;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// The line of `body` that starts at `start`, without its CR LF or LF; `next` is where the line
// after it starts (the body's size after the last line).
std::string_view LineAt(std::string_view body, std::size_t start, std::size_t& next) {
    const std::size_t feed = body.find('\n', start);
    next = feed == std::string_view::npos ? body.size() : feed + 1;
    std::string_view line = body.substr(start, next - start);
    if (line.ends_with('\n')) {
        line.remove_suffix(1);
    }
    if (line.ends_with('\r')) {
        line.remove_suffix(1);
    }
    return line;
}

// Whether `line` is the keyword line `keyword` ("=yend", ...): the keyword, then a blank or
// nothing.
bool IsKeywordLine(std::string_view line, std::string_view keyword) {
    return line.starts_with(keyword) &&
           (line.size() == keyword.size() || IsBlank(line[keyword.size()]));
}

// Reads the "key=value" fields of one keyword line, separated by blanks. A value ends at the
// next blank, so blanks after a value are of no account. The first field of a key counts.
class CKeywordFields {
public:
    explicit CKeywordFields(std::string_view fields) : m_fields(fields) {}

    bool Malformed() const { return m_malformed; }

    // A decimal value; an unreadable one (empty, not digits, too large for T) leaves `target`
    // as it was and marks the line malformed.
    template <typename T>
    void Read(std::string_view key, T& target) {
        std::optional<T> value;
        ReadOptional(key, value, 10);
        if (value) {
            target = *value;
        }
    }
    // The same for a value that may be missing, in `base`.
    template <typename T>
    void ReadOptional(std::string_view key, std::optional<T>& target, int base) {
        const std::optional<std::string_view> text = Find(key);
        if (!text) {
            return;
        }
        T value{};
        const char* last = text->data() + text->size();
        const auto [stop, error] = std::from_chars(text->data(), last, value, base);
        if (text->empty() || error != std::errc() || stop != last) {
            m_malformed = true;
            return;
        }
        target = value;
    }

private:
    std::optional<std::string_view> Find(std::string_view key) const {
        std::size_t position = 0;
        while (position < m_fields.size()) {
            while (position < m_fields.size() && IsBlank(m_fields[position])) {
                ++position;
            }
            std::size_t stop = position;
            while (stop < m_fields.size() && !IsBlank(m_fields[stop])) {
                ++stop;
            }
            const std::string_view field = m_fields.substr(position, stop - position);
            if (field.size() > key.size() && field.starts_with(key) && field[key.size()] == '=') {
                return field.substr(key.size() + 1);
            }
            position = stop;
        }
        return std::nullopt;
    }

    std::string_view m_fields;
    bool m_malformed = false;
};

// Reads the =ybegin line. The name comes last and runs to the end of the line: it may hold
// blanks and "=", so only what stands before it is read as fields.
void ReadBeginLine(std::string_view line, CYEncPart& part) {
    std::size_t nameAt = std::string_view::npos;
    for (std::size_t found = line.find("name="); found != std::string_view::npos;
         found = line.find("name=", found + 1)) {
        if (found > 0 && IsBlank(line[found - 1])) {
            nameAt = found;
            break;
        }
    }
    if (nameAt != std::string_view::npos) {
        part.name = TrimBlanks(line.substr(nameAt + 5));
    }
    CKeywordFields fields(line.substr(0, nameAt));
    fields.Read("size", part.fileSize);
    fields.Read("part", part.part);
    fields.Read("total", part.total);
    part.end = part.fileSize;
    part.malformed = part.malformed || fields.Malformed();
}

void ReadPartLine(std::string_view line, CYEncPart& part) {
    CKeywordFields fields(line);
    fields.Read("begin", part.begin);
    fields.Read("end", part.end);
    part.malformed = part.malformed || fields.Malformed();
}

void ReadEndLine(std::string_view line, CYEncPart& part) {
    CKeywordFields fields(line);
    fields.ReadOptional("size", part.endSize, 10);
    fields.ReadOptional("part", part.endPart, 10);
    fields.ReadOptional("pcrc32", part.partCrc, 16);
    fields.ReadOptional("crc32", part.fileCrc, 16);
    part.malformed = part.malformed || fields.Malformed();
}

// Where the first line that starts with "=ybegin " begins, or npos.
std::size_t FindBeginLine(std::string_view body) {
    if (body.starts_with("=ybegin ")) {
        return 0;
    }
    const std::size_t found = body.find("\n=ybegin ");
    return found == std::string_view::npos ? found : found + 1;
}

}  // namespace

bool CYEncPart::WholeFile() const {
    return begin == 1 && end == fileSize && part <= 1 && total <= 1;
}

bool CYEncPart::Verified() const {
    if (!ended || malformed || begin < 1 || end < begin || end > fileSize ||
        data.size() != end - begin + 1 || (total != 0 && part > total)) {
        return false;
    }
    if ((endSize && *endSize != data.size()) || (endPart && part != 0 && *endPart != part)) {
        return false;
    }
    if (partCrc && *partCrc != dataCrc) {
        return false;
    }
    return !(WholeFile() && fileCrc && *fileCrc != dataCrc);
}

std::optional<CYEncPart> DecodeYEncArticle(std::string_view body, YEncPath path) {
    const std::size_t beginLine = FindBeginLine(body);
    if (beginLine == std::string_view::npos) {
        return std::nullopt;
    }
    CYEncPart part;
    std::size_t next = 0;
    ReadBeginLine(LineAt(body, beginLine, next), part);
    std::size_t position = next;
    if (const std::string_view line = LineAt(body, position, next); IsKeywordLine(line, "=ypart")) {
        ReadPartLine(line, part);
        position = next;
    }

    // Decoded bytes are never more than the bytes they come from: room for the rest of the body
    // is room enough, and the decoder's scratch room too.
    const std::string_view data = body.substr(position);
    if (data.size() >= LARGE_BODY) {
        part.data.reserve(data.size());
        platform::AdviseLargePages(part.data.data(), data.size());
    }
    part.data.resize(data.size());
    const YEncLinesResult result =
        DecodeYEncLines(data, reinterpret_cast<unsigned char*>(part.data.data()), 0, path);
    part.data.resize(result.written);
    // A block that ends well before the body does (text or another block after it) gives back
    // the room it did not use.
    if (part.data.capacity() - result.written > result.written / 8 + SPARE_ROOM) {
        part.data.shrink_to_fit();
    }
    part.dataCrc = result.crc;
    position += result.consumed;
    if (result.keywordLine) {
        if (const std::string_view line = LineAt(body, position, next);
            IsKeywordLine(line, "=yend")) {
            ReadEndLine(line, part);
            part.ended = true;
        }
    }
    return part;
}

// The reply reader, the overview lines in its blocks and the check of an article reply's status
// line, on whatever a server may send. Beyond memory errors it checks that a stream cut into
// chunks (sizes taken from the input) gives exactly the replies of the same stream in one piece,
// with a reply cap small enough for oversized replies to occur, and that the status line check
// does not depend on the line end and never accepts by message-id what the number refuses.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "nntp/ArticleReply.h"
#include "nntp/COverviewEntry.h"
#include "nntp/CReplyReader.h"
#include "tests/support/ChunkSource.h"

namespace {

constexpr std::size_t MAX_REPLY = 64;
// Small, so that receives fill the buffer and it has to grow and move its bytes, and shrink
// again after the replies that made it grow.
constexpr std::size_t RECEIVE_SIZE = 96;
constexpr std::size_t KEPT_CAPACITY = 128;

// The line read as the reply to a request for an article with a small number, so that inputs
// name it now and then.
void CheckArticleReply(std::string_view line) {
    const std::uint32_t number = static_cast<std::uint32_t>(line.size() % 5);
    const std::string_view code = line.substr(0, 3);
    const bool byId = AnswersArticleRequest(line, code, number, "<a@b>");
    const bool byNumber = AnswersArticleRequest(line, code, number, {});
    std::string_view bare = line;
    if (bare.ends_with("\r\n")) {
        bare.remove_suffix(2);
    }
    if ((byId && !byNumber) || byId != AnswersArticleRequest(bare, code, number, "<a@b>")) {
        __builtin_trap();
    }
}

// Reads replies as the session does: a status line, and a block after one that announces it,
// until the connection ends. The input's first bytes say which codes announce a block, so that
// both kinds of read meet every kind of byte.
std::vector<std::string> ReadAll(CReplyReader& reader, std::uint8_t blockDigit) {
    std::vector<std::string> replies;
    for (;;) {
        std::string line;
        const CReplyReader::Status status = reader.ReadLine(line, MAX_REPLY);
        replies.push_back(std::to_string(static_cast<int>(status)) + line);
        CheckArticleReply(line);
        if (status == CReplyReader::Status::Cut) {
            return replies;
        }
        if (line.size() < 2 || static_cast<std::uint8_t>(line[1]) % 4 != blockDigit % 4) {
            continue;
        }
        std::string block;
        const CReplyReader::Status blockStatus = reader.ReadBlock(block, MAX_REPLY);
        replies.push_back(std::to_string(static_cast<int>(blockStatus)) + block);
        // Every line of a block, read as an overview line, gives the same entry either way.
        for (std::size_t start = 0; start < block.size();) {
            const std::size_t end = std::min(block.find('\n', start), block.size());
            if (const std::optional<COverviewEntry> entry =
                    COverviewEntry::Parse(std::string_view(block).substr(start, end - start))) {
                replies.push_back(std::to_string(entry->number) + entry->subject + entry->from +
                                  entry->messageId + std::to_string(entry->bytes) + ":" +
                                  (entry->lines ? std::to_string(*entry->lines) : "-"));
            }
            start = end + 1;
        }
        if (blockStatus == CReplyReader::Status::Cut) {
            return replies;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::uint8_t blockDigit = input.ConsumeIntegral<std::uint8_t>();
    std::vector<std::size_t> cuts;
    const std::size_t cutCount = input.ConsumeIntegralInRange<std::size_t>(0, 16);
    for (std::size_t i = 0; i < cutCount; ++i) {
        cuts.push_back(input.ConsumeIntegralInRange<std::size_t>(0, 300));
    }
    const std::string stream = input.ConsumeRemainingBytesAsString();

    CReplyReader whole(test::FromChunks({stream}), RECEIVE_SIZE, KEPT_CAPACITY);
    const std::vector<std::string> expected = ReadAll(whole, blockDigit);

    std::deque<std::string> chunks;
    std::size_t at = 0;
    for (std::size_t i = 0; at < stream.size(); ++i) {
        const std::size_t length = cuts.empty() ? 1 : cuts[i % cuts.size()] + 1;
        chunks.push_back(stream.substr(at, length));
        at += length;
    }
    CReplyReader split(test::FromChunks(std::move(chunks)), RECEIVE_SIZE, KEPT_CAPACITY);
    if (ReadAll(split, blockDigit) != expected) {
        __builtin_trap();
    }
    return 0;
}

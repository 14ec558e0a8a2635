// The reply reader on its own, fed from a list of chunks: a stream must cut into the same
// replies wherever the network split it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>

#include "nntp/CReplyReader.h"
#include "tests/support/ChunkSource.h"

namespace {

using Status = CReplyReader::Status;

// Reads a status line, then a block after the codes that announce one (215, 22x), until the
// stream ends; one entry per reply with its status.
std::vector<std::string> ReadAll(CReplyReader& reader) {
    std::vector<std::string> replies;
    for (;;) {
        std::string line;
        const Status status = reader.ReadLine(line, 1000);
        if (status == Status::Cut && line.empty()) {
            return replies;
        }
        replies.push_back("line " + std::to_string(static_cast<int>(status)) + " " + line);
        if (status != Status::Complete || !(line.starts_with("22") || line.starts_with("215"))) {
            continue;
        }
        std::string block;
        const Status blockStatus = reader.ReadBlock(block, 1000);
        replies.push_back("block " + std::to_string(static_cast<int>(blockStatus)) + " " + block);
    }
}

const std::string STREAM =
    "211 3 1 3 g\r\n"
    "222 1 <a@b>\r\nbegin 644 x\r\n..dotted\r\n...\r\n\r\nplain\r\n.\r\n"
    "430 no such article\r\n"
    "221 2 <c@d>\r\n.\r\n"
    "111 20261207000000\r\n";

TEST(ReplyReaderTest, EverySplitOfAStreamGivesTheSameReplies) {
    CReplyReader whole(test::FromChunks({STREAM}));
    const std::vector<std::string> expected = ReadAll(whole);
    ASSERT_EQ(expected.size(), 7u);
    EXPECT_EQ(expected[2], "block 0 begin 644 x\r\n.dotted\r\n..\r\n\r\nplain\r\n");
    for (std::size_t cut = 1; cut < STREAM.size(); ++cut) {
        for (std::size_t second = cut + 1; second <= STREAM.size(); second += 7) {
            CReplyReader split(test::FromChunks(
                {STREAM.substr(0, cut), STREAM.substr(cut, second - cut), STREAM.substr(second)}));
            ASSERT_EQ(ReadAll(split), expected) << "cut at " << cut << " and " << second;
        }
    }
    std::deque<std::string> bytes;
    for (const char c : STREAM) {
        bytes.emplace_back(1, c);
    }
    CReplyReader byByte(test::FromChunks(bytes));
    EXPECT_EQ(ReadAll(byByte), expected);
    // Receives smaller than a line: the buffer grows and moves its bytes under the readers.
    CReplyReader smallReceives(test::FromChunks({STREAM}), 7);
    EXPECT_EQ(ReadAll(smallReceives), expected);
}

TEST(ReplyReaderTest, ALineEndArrivingAfterBufferedRepliesIsFound) {
    // Two whole replies and half of a third arrive in one receive; the rest of the third comes
    // later, after the buffer has been compacted under the search.
    CReplyReader reader(test::FromChunks({"111 a\r\n111 b\r\n111 c", "\r\n", "111 d\r\n"}));
    std::string line;
    for (const char* expected : {"111 a\r\n", "111 b\r\n", "111 c\r\n", "111 d\r\n"}) {
        ASSERT_EQ(reader.ReadLine(line, 1000), Status::Complete);
        EXPECT_EQ(line, expected);
    }
}

TEST(ReplyReaderTest, EndsOfTheConnectionAndOversizedReplies) {
    struct Case {
        std::string stream;
        bool block;
        Status status;
        std::string reply;
    };
    const Case cases[] = {
        {"200 cut", false, Status::Cut, "200 cut"},
        {"", false, Status::Cut, ""},
        {"line one\r\nline tw", true, Status::Cut, "line one\r\nline tw"},
        {"line\r\n.", true, Status::Cut, "line\r\n."},
        {std::string(30, 'x') + "\r\n", false, Status::TooLarge, ""},
        {std::string(30, 'x') + "\r\nshort\r\n.\r\n", true, Status::TooLarge, ""},
    };
    for (const Case& c : cases) {
        CReplyReader reader(test::FromChunks({c.stream}));
        std::string reply = "stale";
        const Status status = c.block ? reader.ReadBlock(reply, 20) : reader.ReadLine(reply, 20);
        EXPECT_EQ(status, c.status) << c.stream;
        EXPECT_EQ(reply, c.reply) << c.stream;
    }
    // An oversized reply is read to its end: the next one comes out whole.
    CReplyReader reader(
        test::FromChunks({std::string(50, 'y'), std::string(50, 'y') + "\r\n", "205 bye\r\n"}));
    std::string reply;
    EXPECT_EQ(reader.ReadLine(reply, 20), Status::TooLarge);
    EXPECT_EQ(reader.ReadLine(reply, 20), Status::Complete);
    EXPECT_EQ(reply, "205 bye\r\n");
}

TEST(ReplyReaderTest, TheBufferShrinksOnceALargeReplyIsHandedOut) {
    // A long line makes the buffer hold all of it; after the reply the buffer gives that memory
    // back, and the reply that followed is still read whole.
    struct Case {
        std::size_t receiveSize;
        std::size_t keptCapacity;
        std::size_t line;
    };
    const Case cases[] = {
        {16, 64, 1000},
        {CReplyReader::RECEIVE_SIZE, CReplyReader::KEPT_CAPACITY, std::size_t{6} << 20},
    };
    for (const Case& c : cases) {
        const std::string line(c.line, 'x');
        CReplyReader reader(test::FromChunks({"222 1 <a@b>\r\n" + line, "\r\n.\r\n205 bye\r\n"}),
                            c.receiveSize, c.keptCapacity);
        std::string reply;
        ASSERT_EQ(reader.ReadLine(reply, 100), Status::Complete);
        ASSERT_EQ(reader.ReadBlock(reply, c.line + 2), Status::Complete);
        EXPECT_EQ(reply, line + "\r\n");
        EXPECT_LE(reader.Capacity(), c.keptCapacity) << c.line;
        ASSERT_EQ(reader.ReadLine(reply, 100), Status::Complete);
        EXPECT_EQ(reply, "205 bye\r\n");
    }
}

}  // namespace

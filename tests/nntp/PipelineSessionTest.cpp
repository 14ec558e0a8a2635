// The session's capabilities, overviews and pipelined requests against the scripted server:
// what it sends, and that replies come out in order however they arrive.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "nntp/CNewsServer.h"
#include "tests/support/Capture.h"
#include "tests/support/ScriptedNntpServer.h"

namespace {

using namespace std::chrono_literals;
using test::ScriptedNntpServer;
using test::ScriptedReply;
using ::testing::ElementsAre;

class PipelineSessionTest : public ::testing::Test {
protected:
    CNewsServer& Connected() {
        session.SetReadTimeout(5s);
        EXPECT_TRUE(session.Connect());
        return session;
    }

    ScriptedNntpServer server;
    test::ConsoleCapture capture;
    CNewsServer session{server.Address(), CNewsServer::NNTP_PORT};
};

TEST_F(PipelineSessionTest, OverviewUsesOverWhereOfferedAndXoverOtherwise) {
    const std::string lines =
        "7\tcat.jpg (1/2)\tPoster <p@x>\tdate\t<7@x>\t\t20517\t158\r\n"
        "not a number\tx\tx\tx\tx\tx\t1\t1\r\n"
        "8\tcat.jpg (2/2)\tPoster <p@x>\tdate\t<8@x>\t\tBytes: 9000\tLines: 70\tXref: a\r\n"
        "9\ttoo few fields\r\n"
        "10\tno lines\tPoster <p@x>\tdate\t<10@x>\t\t500\t\r\n";
    server.On("CAPABILITIES",
              ScriptedReply::Text("101 list\r\nVERSION 2\r\nREADER\r\nover\r\n.\r\n"));
    server.On("OVER 7-9", ScriptedReply::Text("224 overview\r\n" + lines + ".\r\n"));
    server.On("OVER 10-12", ScriptedReply::Text("423 no articles\r\n"));
    std::vector<COverviewEntry> entries;
    ASSERT_TRUE(Connected().Capabilities());
    EXPECT_TRUE(session.HasCapability("OVER"));
    ASSERT_TRUE(session.Overview(7, 9, entries));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0],
              (COverviewEntry{7, "cat.jpg (1/2)", "Poster <p@x>", "date", "<7@x>", 20517, 158}));
    EXPECT_EQ(entries[1].bytes, 9000u);
    EXPECT_EQ(entries[1].lines, 70u);
    // An empty Lines field is unknown, not zero.
    EXPECT_EQ(entries[2].lines, std::nullopt);
    ASSERT_TRUE(session.Overview(10, 12, entries));
    EXPECT_TRUE(entries.empty());

    // A server without CAPABILITIES is asked with XOVER; one that knows neither, once only.
    ScriptedNntpServer older;
    older.On("XOVER 1-1", ScriptedReply::Text("224 ok\r\n1\ts\tf\td\t<1@x>\t\t10\t2\r\n.\r\n"));
    CNewsServer client(older.Address(), 119);
    ASSERT_TRUE(client.Connect());
    EXPECT_FALSE(client.Capabilities());
    ASSERT_TRUE(client.Overview(1, 1, entries));
    EXPECT_EQ(entries.size(), 1u);
    older.On("XOVER 2-2", ScriptedReply::Text("500 unknown\r\n"));
    EXPECT_FALSE(client.Overview(2, 2, entries));
    EXPECT_FALSE(client.Overview(3, 3, entries));
    EXPECT_THAT(older.Commands(), ElementsAre("CAPABILITIES", "XOVER 1-1", "XOVER 2-2"));
}

TEST_F(PipelineSessionTest, PipelinedRepliesComeOutInOrderWhereverTheyAreCut) {
    // Five requests in flight; the replies, a refusal among them, arrive cut at every place.
    const std::string all =
        "222 1 <1@x>\r\none\r\n.\r\n423 no such article\r\n"
        "222 3 <3@x>\r\n..dot\r\n.\r\n222 4 <4@x>\r\n.\r\n"
        "222 5 <5@x>\r\nfive\r\n.\r\n";
    for (std::size_t cut = 1; cut < all.size(); cut += 3) {
        ScriptedNntpServer replies;
        // Every reply is sent in answer to the last request, as one stream cut once.
        replies.On("BODY 5", ScriptedReply::SplitAt(all, {cut}, 1ms));
        for (const char* n : {"1", "2", "3", "4"}) {
            replies.On(std::string("BODY ") + n, ScriptedReply::Text(""));
        }
        CNewsServer client(replies.Address(), 119);
        client.SetReadTimeout(5s);
        ASSERT_TRUE(client.Connect());
        for (int n = 1; n <= 5; ++n) {
            ASSERT_TRUE(client.SendCommand("BODY " + std::to_string(n)));
        }
        std::vector<std::string> got;
        std::string status;
        std::string block;
        for (int n = 1; n <= 5; ++n) {
            ASSERT_TRUE(client.ReadReply(&status, &block, true)) << cut;
            got.push_back(status.substr(0, 3) + " " + block);
        }
        EXPECT_THAT(got, ElementsAre("222 one\r\n", "423 ", "222 .dot\r\n", "222 ", "222 five\r\n"))
            << cut;
    }
}

TEST_F(PipelineSessionTest, ACutWithRequestsInFlightIsALostConnection) {
    server.On("BODY 1", ScriptedReply::Text("222 1 <1@x>\r\none\r\n.\r\n"));
    server.On("BODY 2", ScriptedReply::CloseAfter("222 2 <2@x>\r\nhalf"));
    ASSERT_TRUE(Connected().SendCommand("BODY 1"));
    ASSERT_TRUE(session.SendCommand("BODY 2"));
    session.SendCommand("BODY 3");  // may fail already: the server is closing
    std::string status;
    std::string block;
    ASSERT_TRUE(session.ReadReply(&status, &block, true));
    EXPECT_EQ(block, "one\r\n");
    EXPECT_FALSE(session.ReadReply(&status, &block, true));
    EXPECT_TRUE(session.ConnectionLost());
    EXPECT_FALSE(session.SendCommand("BODY\r\n4"));
}

}  // namespace

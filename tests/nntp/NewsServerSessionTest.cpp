// The news server session against a scripted server: every test checks what the client sent
// and what it made of the reply, one network fault per test.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <thread>

#include "nntp/CNewsServer.h"
#include "tests/support/Capture.h"
#include "tests/support/ScriptedNntpServer.h"

namespace {

using test::ScriptedNntpServer;
using test::ScriptedReply;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using namespace std::chrono_literals;

class NewsServerSessionTest : public ::testing::Test {
protected:
    // A session connected to the scripted server, with short waits so that a fault shows up
    // as a failure rather than a hang.
    CNewsServer& Connected() {
        session.SetReadTimeout(5s);
        EXPECT_TRUE(session.Connect());
        return session;
    }
    std::vector<std::string> Sent() const { return server.Commands(); }

    // Article 1 of group "g" as the scripted replies give it, through Open and ReadMessage.
    std::unique_ptr<CNewsMessage> ReadArticleOne(
        ScriptedReply body, ScriptedReply head = ScriptedReply::Text("221 1 <a@b>\r\n.\r\n")) {
        server.On("GROUP  g", ScriptedReply::Text("211 1 1 1 g\r\n"));
        server.On("HEAD 1", std::move(head));
        server.On("BODY 1", std::move(body));
        std::unique_ptr<CNewsGroup> group;
        EXPECT_TRUE(Connected().Open("g", group));
        return session.ReadMessage(1);
    }

    ScriptedNntpServer server;
    test::ConsoleCapture capture;
    CNewsServer session{server.Address(), CNewsServer::NNTP_PORT};
};

TEST_F(NewsServerSessionTest, LogLinesCarryLocalTimeFunctionAndMessage) {
    EXPECT_TRUE(session.Init());
    EXPECT_TRUE(session.Init());
    // LogLines() strips a leading "YYYY:MM:DD::HH:MM:SS " only when the line has that shape.
    EXPECT_THAT(capture.LogLines(),
                ElementsAre("CNewsServer::Init Winsock initialized correctly...",
                            "CNewsServer::Init Winsock initialized correctly..."));
    const std::string text = capture.Text();
    int year, month, day, hour, minute, second;
    ASSERT_EQ(std::sscanf(text.c_str(), "%4d:%2d:%2d::%2d:%2d:%2d", &year, &month, &day, &hour,
                          &minute, &second),
              6);
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    EXPECT_EQ(year, local.tm_year + 1900);
    EXPECT_TRUE(month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23);
}

TEST_F(NewsServerSessionTest, GreetingIsLoggedWhateverItSays) {
    server.SetGreeting(ScriptedReply::Text("502 go away\r\n"));
    EXPECT_TRUE(Connected().IsConnected());
    const auto lines = capture.LogLines();
    EXPECT_THAT(lines, Contains(::testing::StartsWith("Socket is: '")));
    EXPECT_THAT(lines, Contains("Server is '127.0.0.1'"));
    EXPECT_THAT(lines, Contains("CNewsServer::Connect Server says '502 go away'"));
}

TEST_F(NewsServerSessionTest, RefusedConnectionAndUnknownHostFail) {
    CNewsServer refused("127.0.0.1:" + std::to_string(test::UnusedLoopbackPort()), 119);
    EXPECT_FALSE(refused.Connect());
    EXPECT_FALSE(refused.IsConnected());
    CNewsServer unknown("no-such-host.invalid", 119);
    EXPECT_FALSE(unknown.Connect());
    EXPECT_THAT(capture.LogLines(), Contains("CNewsServer::Connect connect failed ()"));
    EXPECT_THAT(capture.LogLines(), Contains("CNewsServer::Connect gethostbyname failed ()"));
}

TEST_F(NewsServerSessionTest, HostNamesMayCarryAPort) {
    const auto parsed = [](const std::string& text) {
        CNewsServer s(text, CNewsServer::NNTP_PORT);
        return std::make_pair(s.GetHost(), s.GetPort());
    };
    EXPECT_EQ(parsed("news"), std::make_pair(std::string("news"), 119));
    EXPECT_EQ(parsed("news.example:1190"), std::make_pair(std::string("news.example"), 1190));
    EXPECT_EQ(parsed("[::1]:563"), std::make_pair(std::string("::1"), 563));
    EXPECT_EQ(parsed("[::1]"), std::make_pair(std::string("::1"), 119));
    EXPECT_EQ(parsed("::1"), std::make_pair(std::string("::1"), 119));
    EXPECT_EQ(parsed("news:nntp"), std::make_pair(std::string("news:nntp"), 119));
    EXPECT_EQ(parsed("news:70000"), std::make_pair(std::string("news:70000"), 119));
    CNewsServer s("a:1", 119);
    s.SetHost("b");
    EXPECT_EQ(s.GetPort(), 119);
}

TEST_F(NewsServerSessionTest, NothingIsSentBeforeConnectOrForUnsafeCommands) {
    std::string reply;
    EXPECT_FALSE(session.DoCommand("HELP", &reply, true));
    EXPECT_THAT(capture.LogLines(), Contains("CNewsServer::DoCommand No connection open..."));
    Connected();
    EXPECT_FALSE(session.DoCommand("HELP", nullptr, true));
    EXPECT_FALSE(session.DoCommand("GROUP a\r\nPOST", &reply, true));
    EXPECT_FALSE(session.DoCommand(std::string("GROUP a\0b", 9), &reply, true));
    EXPECT_TRUE(session.DoCommand("DATE", &reply, true));
    EXPECT_THAT(Sent(), ElementsAre("DATE"));
}

TEST_F(NewsServerSessionTest, StatusLineInPiecesIsJoined) {
    server.On("DATE", ScriptedReply::ByteAtATime("111 20261207123456\r\n", 2ms));
    std::string reply;
    ASSERT_TRUE(Connected().DoCommand("DATE", &reply, true));
    EXPECT_EQ(reply, "111 20261207123456\r\n");
}

TEST_F(NewsServerSessionTest, BareLineEndDoesNotEndAStatusLine) {
    server.On("DATE", ScriptedReply::SplitAt("\r\n111 20261207123456\r\n", {2}));
    std::string reply;
    ASSERT_TRUE(Connected().DoCommand("DATE", &reply, true));
    EXPECT_EQ(reply, "\r\n111 20261207123456\r\n");
}

TEST_F(NewsServerSessionTest, StatusLineAndBlockInOneWrite) {
    const auto message =
        ReadArticleOne(ScriptedReply::Text("222 1 <a@b> body\r\nline one\r\nline two\r\n.\r\n"),
                       ScriptedReply::Text("221 1 <a@b> head\r\nSubject: hi\r\n.\r\n"));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->header, "Subject: hi\r\n");
    EXPECT_EQ(message->headerLength, 13u);
    EXPECT_EQ(message->body, "line one\r\nline two\r\n");
    EXPECT_EQ(message->bodyLength, message->body.size());
}

TEST_F(NewsServerSessionTest, BytesPastAReplyAreKeptForTheNextRead) {
    // The whole HEAD and BODY exchange arrives in answer to HEAD: the BODY reply must come out
    // of what was already received, not out of a wait for more.
    server.On("GROUP  g", ScriptedReply::Text("211 1 5 5 g\r\n"));
    server.On("HEAD 5", ScriptedReply::Text("221 5 <a@b>\r\nSubject: s\r\n.\r\n"
                                            "222 5 <a@b>\r\nbody\r\n.\r\n"));
    server.On("BODY 5", ScriptedReply::Silence());
    std::unique_ptr<CNewsGroup> group;
    ASSERT_TRUE(Connected().Open("g", group));
    const auto message = session.ReadMessage(5);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->body, "body\r\n");
    server.WaitForCommands(3);
    EXPECT_THAT(Sent(), ElementsAre("GROUP  g", "HEAD 5", "BODY 5"));
}

TEST_F(NewsServerSessionTest, BlockEndIsFoundWhereverTheChunksFall) {
    const std::string body = "222 7 <x@y>\r\nabc\r\n.\r\n";
    // Cut inside the CR LF before the dot, between the dot and its CR LF, and byte by byte.
    for (const ScriptedReply& reply :
         {ScriptedReply::SplitAt(body, {16, 17}), ScriptedReply::SplitAt(body, {19, 20}),
          ScriptedReply::SplitAt(body, {18}), ScriptedReply::ByteAtATime(body)}) {
        server.On("BODY 7", reply);
        server.On("HEAD 7", ScriptedReply::Text("221 7 <x@y>\r\n.\r\n"));
        server.On("GROUP  g", ScriptedReply::Text("211 1 7 7 g\r\n"));
        CNewsServer client(server.Address(), 119);
        client.SetReadTimeout(5s);
        ASSERT_TRUE(client.Connect());
        std::unique_ptr<CNewsGroup> group;
        ASSERT_TRUE(client.Open("g", group));
        const auto message = client.ReadMessage(7);
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->header, "");
        EXPECT_EQ(message->body, "abc\r\n");
    }
}

TEST_F(NewsServerSessionTest, DotStuffingIsUndone) {
    // A uuencoded picture whose size is 14 more than a multiple of 45 ends in a data line whose
    // length character is "."; the server doubles it and the client must take one dot away.
    const auto message = ReadArticleOne(ScriptedReply::Text(
        "222 1 <a@b>\r\nbegin 644 x.jpg\r\n..0V%T(&-A=\r\n`\r\nend\r\n...\r\n..\r\n.\r\n"));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->body, "begin 644 x.jpg\r\n.0V%T(&-A=\r\n`\r\nend\r\n..\r\n.\r\n");
}

TEST_F(NewsServerSessionTest, EmptyBodyIsAnEmptyBlock) {
    const auto message = ReadArticleOne(ScriptedReply::SplitAt("222 1 <a@b>\r\n.\r\n", {13}),
                                        ScriptedReply::Text("221 1 <a@b>\r\nX: y\r\n.\r\n"));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->body, "");
    EXPECT_EQ(message->bodyLength, 0u);
}

TEST_F(NewsServerSessionTest, ConnectionCutInsideABlockFailsTheBlock) {
    server.On("LIST", ScriptedReply::CloseAfter("215 list follows\r\nalt.a 2 1 y\r\ncomp.b 5"));
    EXPECT_FALSE(Connected().FetchNewsGroups());
    EXPECT_TRUE(session.ConnectionLost());
    std::vector<std::unique_ptr<CNewsGroup>> groups;
    session.GetNewsGroups(groups);
    EXPECT_THAT(groups, IsEmpty());
    EXPECT_THAT(capture.LogLines(),
                Contains("CNewsServer::ReadBuffer the connection ended inside the block"));
    // The connection is gone: the next command fails at once instead of waiting.
    std::string reply;
    EXPECT_TRUE(session.DoCommand("DATE", &reply, true));
    EXPECT_EQ(reply, "");
    // A new connection is a working one again.
    ASSERT_TRUE(session.Connect());
    EXPECT_FALSE(session.ConnectionLost());
}

TEST_F(NewsServerSessionTest, SilentServerEndsTheReadAfterTheTimeOut) {
    server.On("BODY 1", ScriptedReply::Text("222 1 <a@b>\r\npartial line"));
    server.On("GROUP  g", ScriptedReply::Text("211 1 1 1 g\r\n"));
    server.On("HEAD 1", ScriptedReply::Text("221 1 <a@b>\r\n.\r\n"));
    std::unique_ptr<CNewsGroup> group;
    ASSERT_TRUE(Connected().Open("g", group));
    session.SetReadTimeout(200ms);
    EXPECT_EQ(session.ReadMessage(1), nullptr);
    EXPECT_TRUE(session.ConnectionLost());
    // After a time-out the connection counts as closed: nothing more is waited for.
    EXPECT_EQ(session.ReadMessage(1), nullptr);
    EXPECT_THAT(capture.LogLines(), Contains("CNewsServer::ReadMessage head failed, response ''"));
}

TEST_F(NewsServerSessionTest, CancelEndsABlockedReadUntilCleared) {
    server.On("DATE", ScriptedReply::Silence());
    Connected().SetReadTimeout(CNewsServer::DEFAULT_READ_TIMEOUT);
    std::thread stopper([&] {
        server.WaitForCommands(1);
        session.Cancel();
    });
    const auto start = std::chrono::steady_clock::now();
    std::string reply;
    EXPECT_TRUE(session.DoCommand("DATE", &reply, true));
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_TRUE(session.ConnectionLost());
    EXPECT_FALSE(session.Connect());
    session.ClearCancel();
    ASSERT_TRUE(session.Connect());
    server.On("DATE", ScriptedReply::Text("111 20261207000000\r\n"));
    ASSERT_TRUE(session.DoCommand("DATE", &reply, true));
    EXPECT_EQ(reply, "111 20261207000000\r\n");
}

TEST_F(NewsServerSessionTest, AbortFromAnotherThreadEndsABlockedRead) {
    server.On("DATE", ScriptedReply::Silence());
    Connected().SetReadTimeout(CNewsServer::DEFAULT_READ_TIMEOUT);
    std::thread stopper([&] {
        server.WaitForCommands(1);
        session.Abort();
    });
    std::string reply;
    EXPECT_TRUE(session.DoCommand("DATE", &reply, true));
    stopper.join();
    EXPECT_EQ(reply, "");
    EXPECT_FALSE(session.Connect());
}

TEST_F(NewsServerSessionTest, OversizedReplyFailsAndTheSessionStaysInStep) {
    server.On("LIST", ScriptedReply::Text("215 list follows\r\n" + std::string(3000, 'x') +
                                          "\r\nshort 1 1 y\r\n.\r\n"));
    server.On("DATE", ScriptedReply::Text(std::string(3000, '1') + "\r\n"));
    server.On("HELP", ScriptedReply::Text("100 help\r\n.\r\n"));
    Connected().SetMaxReplySize(1000);
    std::string reply;
    EXPECT_FALSE(session.DoCommand("LIST", &reply, false));
    EXPECT_FALSE(session.DoCommand("DATE", &reply, true));
    EXPECT_THAT(capture.LogLines(), Contains("CNewsServer::ReadBuffer Couldn't realloc"));
    EXPECT_THAT(capture.LogLines(), Contains("CNewsServer::ReadLine Couldn't realloc"));
    ASSERT_TRUE(session.DoCommand("HELP", &reply, true));
    EXPECT_EQ(reply, "100 help\r\n");
}

TEST_F(NewsServerSessionTest, LargeBodyArrivesWhole) {
    std::string lines;
    for (int i = 0; i < 40000; ++i) {
        lines += "M" + std::string(60, static_cast<char>('!' + i % 60)) + "\r\n";
    }
    const auto message = ReadArticleOne(ScriptedReply::Text("222 1 <a@b>\r\n" + lines + ".\r\n"));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->body, lines);
}

TEST_F(NewsServerSessionTest, ListGivesOneRecordPerWellFormedLine) {
    server.On("LIST", ScriptedReply::SplitAt("215 list follows\r\nalt.a 0000000120 0000000100 y\r\n"
                                             "two  blanks 1 1 y\r\nnameonly\r\n..dotted 1 1 y\r\n"
                                             "comp.b 5 1 n\r\n.\r\n",
                                             {30, 99}));
    ASSERT_TRUE(Connected().FetchNewsGroups());
    ASSERT_TRUE(session.FetchNewsGroups());
    std::vector<std::unique_ptr<CNewsGroup>> groups;
    ASSERT_TRUE(session.GetNewsGroups(groups));
    ASSERT_EQ(groups.size(), 4u);  // a second LIST appends
    EXPECT_EQ(groups[0]->name, "alt.a");
    EXPECT_EQ(groups[0]->first, 100);
    EXPECT_EQ(groups[0]->last, 120);
    EXPECT_EQ(groups[0]->info, "y");
    EXPECT_EQ(groups[1]->name, "comp.b");
    EXPECT_EQ(groups[1]->first, 1);
    EXPECT_EQ(groups[1]->last, 5);
    EXPECT_EQ(groups[3]->name, "comp.b");
    // The records were handed over: the session has none left to hand out again.
    std::vector<std::unique_ptr<CNewsGroup>> again;
    EXPECT_TRUE(session.GetNewsGroups(again));
    EXPECT_THAT(again, IsEmpty());
}

TEST_F(NewsServerSessionTest, RefusedListIsASingleLine) {
    server.On("LIST", ScriptedReply::Text("502 permission denied\r\n"));
    server.On("DATE", ScriptedReply::Text("111 20261207000000\r\n"));
    EXPECT_FALSE(Connected().FetchNewsGroups());
    EXPECT_THAT(
        capture.LogLines(),
        Contains("CNewsServer::FetchNewsGroups list failed, response '502 permission denied\r"));
    std::vector<std::unique_ptr<CNewsGroup>> groups;
    session.GetNewsGroups(groups);
    EXPECT_THAT(groups, IsEmpty());
    std::string reply;
    ASSERT_TRUE(session.DoCommand("DATE", &reply, true));
    EXPECT_EQ(reply, "111 20261207000000\r\n");
}

TEST_F(NewsServerSessionTest, OpenReadsTheRangeAndLogsIt) {
    server.On("GROUP  alt.test", ScriptedReply::Text("211 1234 3000 4234 alt.test\r\n"));
    std::unique_ptr<CNewsGroup> group;
    ASSERT_TRUE(Connected().Open("alt.test", group));
    EXPECT_EQ(group->name, "alt.test");
    EXPECT_EQ(group->first, 3000);
    EXPECT_EQ(group->last, 4234);
    EXPECT_EQ(group->info, "1234");
    EXPECT_THAT(capture.LogLines(),
                Contains("CNewsServer::Open Creating a newsgroup 'alt.test' 3000 4234 '1234'"));
    EXPECT_THAT(Sent(), ElementsAre("GROUP  alt.test"));
}

TEST_F(NewsServerSessionTest, OpenTakesOddRepliesAsTheyCome) {
    server.On("GROUP  twoblanks", ScriptedReply::Text("211  7 3000 4234 twoblanks\r\n"));
    server.On("GROUP  missing", ScriptedReply::Text("411 no such group\r\n"));
    server.On("GROUP  short", ScriptedReply::Text("211 0\r\n"));
    std::unique_ptr<CNewsGroup> group;
    ASSERT_TRUE(Connected().Open("twoblanks", group));
    EXPECT_EQ(group->first, 7);
    EXPECT_EQ(group->last, 3000);
    EXPECT_EQ(group->info, "");
    std::unique_ptr<CNewsGroup> untouched;
    EXPECT_FALSE(session.Open("missing", untouched));
    EXPECT_FALSE(session.Open("short", untouched));
    EXPECT_EQ(untouched, nullptr);
    const auto lines = capture.LogLines();
    EXPECT_THAT(lines, Contains("CNewsServer::Open open failed, response '411 no such group\r"));
    EXPECT_THAT(lines, Contains("CNewsServer::Open malformed response '211 0\r"));
    EXPECT_THAT(lines, Contains("CNewsServer::Open pieces: '211' '0\r"));
}

TEST_F(NewsServerSessionTest, ReadMessageAsksOnlyForArticlesInTheRange) {
    server.On("GROUP  alt.test", ScriptedReply::Text("211 1234 3000 4234 alt.test\r\n"));
    server.SetHandler([](const std::string& command) {
        if (command.starts_with("HEAD")) {
            return ScriptedReply::Text("221 0 <a@b>\r\n0123456789\r\n.\r\n");
        }
        return ScriptedReply::Text("222 0 <a@b>\r\nbody\r\n.\r\n");
    });
    EXPECT_EQ(Connected().ReadMessage(3000), nullptr);
    EXPECT_THAT(capture.LogLines(), Contains("CNewsServer::ReadMessage No news groups opened..."));
    std::unique_ptr<CNewsGroup> group;
    ASSERT_TRUE(session.Open("alt.test", group));
    group.reset();  // the session keeps its own copy of the range
    EXPECT_EQ(session.ReadMessage(2999), nullptr);
    EXPECT_EQ(session.ReadMessage(4235), nullptr);
    const auto first = session.ReadMessage(3000);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->number, 3000u);
    EXPECT_EQ(first->headerLength, 12u);
    EXPECT_NE(session.ReadMessage(4234), nullptr);
    EXPECT_THAT(Sent(),
                ElementsAre("GROUP  alt.test", "HEAD 3000", "BODY 3000", "HEAD 4234", "BODY 4234"));
    EXPECT_THAT(capture.LogLines(), Contains("CNewsServer::ReadMessage no such message"));
}

TEST_F(NewsServerSessionTest, RefusedHeadIsNotFollowedByBody) {
    server.On("GROUP  g", ScriptedReply::Text("211 3 1 3 g\r\n"));
    server.On("HEAD 2", ScriptedReply::Text("423 no such article\r\n"));
    server.On("HEAD 3", ScriptedReply::Text("221 3 <a@b>\r\n.\r\n"));
    server.On("BODY 3", ScriptedReply::Text("430 gone\r\n"));
    std::unique_ptr<CNewsGroup> group;
    ASSERT_TRUE(Connected().Open("g", group));
    EXPECT_EQ(session.ReadMessage(2), nullptr);
    EXPECT_EQ(session.ReadMessage(3), nullptr);
    EXPECT_THAT(Sent(), ElementsAre("GROUP  g", "HEAD 2", "HEAD 3", "BODY 3"));
    const auto lines = capture.LogLines();
    EXPECT_THAT(lines,
                Contains("CNewsServer::ReadMessage head failed, response '423 no such article\r"));
    EXPECT_THAT(lines, Contains("CNewsServer::ReadMessage body failed, response '430 gone\r"));
}

TEST_F(NewsServerSessionTest, DisconnectSendsQuitAndKeepsTheConnectedFlag) {
    ASSERT_TRUE(Connected().Disconnect());
    EXPECT_TRUE(session.IsConnected());
    EXPECT_THAT(Sent(), ElementsAre("quit"));
    EXPECT_THAT(capture.LogLines(), Contains("CNewsServer::Disconnect quit result '205 Bye\r"));
    std::string reply;
    EXPECT_TRUE(session.DoCommand("DATE", &reply, true));
    EXPECT_EQ(reply, "");
    // A later Connect makes a fresh connection.
    ASSERT_TRUE(session.Connect());
    EXPECT_EQ(server.Connections(), 2);
}

}  // namespace

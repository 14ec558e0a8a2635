// The test helper that posts to the real news server, checked against the scripted server: what
// it puts on the wire, and that its failures say what went wrong. Needs no real server.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "tests/support/InnServer.h"
#include "tests/support/ScriptedNntpServer.h"

namespace {

using test::InnServer;
using test::ScriptedNntpServer;
using test::ScriptedReply;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

// Answers POST and the article's end like a news server; the article's lines get no answer.
ScriptedReply AcceptingPoster(const std::string& command) {
    if (command == "POST") {
        return ScriptedReply::Text("340 Ok, recommended Message-ID <x@y>\r\n");
    }
    if (command == ".") {
        return ScriptedReply::Text("240 Article received <posted@test>\r\n");
    }
    return {};
}

TEST(InnServerTest, AddressesAreReadLikeTheClientReadsThem) {
    EXPECT_EQ(InnServer("127.0.0.1:1119").Address(), "127.0.0.1:1119");
    EXPECT_EQ(InnServer("news").Address(), "news:119");
    EXPECT_EQ(InnServer("[::1]:563").Address(), "[::1]:563");
    EXPECT_EQ(InnServer("::1").Address(), "[::1]:119");
    for (const char* wrong :
         {"", "news:", "news:0", "news:70000", "news:12ab", "[::1", "[::1]563"}) {
        const InnServer server(wrong);
        EXPECT_FALSE(server.Available()) << wrong;
        EXPECT_THAT(server.Error(), HasSubstr("not a news server address")) << wrong;
    }
}

TEST(InnServerTest, PostSendsHeadersAndADotStuffedBody) {
    ScriptedNntpServer scripted;
    scripted.SetHandler(AcceptingPoster);
    InnServer server(scripted.Address());
    // The last line lacks its CR LF: the helper adds it.
    EXPECT_EQ(server.Post("alt.test", "a subject", ".a\r\nb\r\n..c\r\n.\r\n\r\nlast"),
              "<posted@test>")
        << server.Error();
    EXPECT_THAT(
        scripted.Commands(),
        ElementsAre("POST", "From: Zarvo Tests <zarvo-tests@example.com>", "Newsgroups: alt.test",
                    "Subject: a subject", "", "..a", "b", "...c", "..", "", "last", "."));
    // A second article goes over the same connection.
    EXPECT_EQ(server.Post("alt.test", "again", "x\r\n"), "<posted@test>") << server.Error();
    EXPECT_EQ(scripted.Connections(), 1);
}

TEST(InnServerTest, PostRefusesWhatTheServerWouldNotGiveBack) {
    ScriptedNntpServer scripted;
    scripted.SetHandler(AcceptingPoster);
    InnServer server(scripted.Address());
    EXPECT_EQ(server.Post("g", "s", "one\ntwo\r\n"), "");
    EXPECT_THAT(server.Error(), HasSubstr("bare LF at offset 3"));
    EXPECT_EQ(server.Post("g", "s", "one\r\ntw\ro\r\n"), "");
    EXPECT_THAT(server.Error(), HasSubstr("bare CR at offset 7"));
    EXPECT_EQ(server.Post("g", "s\r\nControl: cancel <a@b>", "x\r\n"), "");
    EXPECT_THAT(server.Error(), HasSubstr("line break"));
    EXPECT_TRUE(scripted.Commands().empty());
}

TEST(InnServerTest, GroupsThatNeedALogInArePostedToAfterOne) {
    ScriptedNntpServer scripted;
    scripted.SetHandler([](const std::string& command) {
        if (command == "AUTHINFO USER tester") {
            return ScriptedReply::Text("381 Enter password\r\n");
        }
        if (command == "AUTHINFO PASS right") {
            return ScriptedReply::Text("281 Authentication succeeded\r\n");
        }
        if (command == "AUTHINFO PASS wrong") {
            return ScriptedReply::Text("481 Authentication failed\r\n");
        }
        return AcceptingPoster(command);
    });
    InnServer server(scripted.Address());
    server.SetCredentials("tester", "right");
    const std::string secure = std::string(InnServer::LOGIN_HIERARCHY) + "g";
    // An open group needs none; the log-in lasts for the connection.
    EXPECT_EQ(server.Post("alt.test", "s", "x\r\n"), "<posted@test>") << server.Error();
    const std::size_t open = scripted.Commands().size();
    EXPECT_EQ(server.Post(secure, "s", "x\r\n"), "<posted@test>") << server.Error();
    EXPECT_EQ(server.Post(secure, "s", "x\r\n"), "<posted@test>") << server.Error();
    const std::vector<std::string> commands = scripted.Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.begin() + open, "AUTHINFO USER tester"), 0);
    ASSERT_GE(commands.size(), open + 3);
    EXPECT_THAT(std::vector(commands.begin() + open, commands.begin() + open + 3),
                ElementsAre("AUTHINFO USER tester", "AUTHINFO PASS right", "POST"));
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "AUTHINFO PASS right"), 1);
    EXPECT_EQ(scripted.Connections(), 1);

    // A refused log-in is reported without the password.
    server.SetCredentials("tester", "wrong");
    EXPECT_EQ(server.Post(secure, "s", "x\r\n"), "");
    EXPECT_THAT(server.Error(), HasSubstr("logging in as tester failed: 481"));
    EXPECT_THAT(server.Error(), Not(HasSubstr("wrong")));
}

TEST(InnServerTest, RefusalsAreReportedWithTheServersReply) {
    ScriptedNntpServer scripted;
    scripted.On("POST", ScriptedReply::Text("440 Posting not permitted\r\n"));
    InnServer server(scripted.Address());
    EXPECT_EQ(server.Post("g", "s", "x\r\n"), "");
    EXPECT_THAT(server.Error(), HasSubstr("440 Posting not permitted"));

    scripted.SetHandler([](const std::string& command) {
        if (command == ".") {
            return ScriptedReply::Text(
                "441 Address in From header field not in Internet syntax\r\n");
        }
        return AcceptingPoster(command);
    });
    scripted.On("POST", ScriptedReply::Text("340 go ahead\r\n"));
    EXPECT_EQ(server.Post("g", "s", "x\r\n"), "");
    EXPECT_THAT(server.Error(), HasSubstr("441 Address in From header"));

    ScriptedNntpServer readOnly;
    readOnly.SetGreeting(ScriptedReply::Text("201 reading only\r\n"));
    InnServer reader(readOnly.Address());
    EXPECT_EQ(reader.Post("g", "s", "x\r\n"), "");
    EXPECT_THAT(reader.Error(), HasSubstr("does not allow posting: 201 reading only"));

    InnServer nobody("127.0.0.1:" + std::to_string(test::UnusedLoopbackPort()));
    EXPECT_EQ(nobody.Post("g", "s", "x\r\n"), "");
    EXPECT_THAT(nobody.Error(), HasSubstr("cannot connect to the news server"));
}

TEST(InnServerTest, WaitForArticlesPollsUntilTheServerCountsThem) {
    ScriptedNntpServer scripted;
    std::atomic<int> asked{0};
    scripted.SetHandler([&](const std::string& command) {
        if (command == "GROUP g") {
            return ScriptedReply::Text(++asked < 3 ? "211 0 1 0 g\r\n" : "211 3 1 3 g\r\n");
        }
        return ScriptedReply::Text("411 No such group\r\n");
    });
    InnServer server(scripted.Address());
    EXPECT_TRUE(server.WaitForArticles("g", 3)) << server.Error();
    EXPECT_EQ(asked.load(), 3);
    // Every look is a new connection: a reader may keep a group's first numbers for good.
    EXPECT_EQ(scripted.Connections(), 3);
    EXPECT_FALSE(server.WaitForArticles("other", 1));
    EXPECT_THAT(server.Error(), HasSubstr("does not know the group other"));
}

TEST(InnServerTest, AConnectionTheServerClosedIsReplacedOnce) {
    ScriptedNntpServer scripted;
    std::atomic<int> articles{0};
    // The first article's acknowledgement ends the connection, as a server does with a client
    // that stays idle too long.
    scripted.SetHandler([&](const std::string& command) {
        if (command == "." && ++articles == 1) {
            return ScriptedReply::CloseAfter("240 Article received <first@test>\r\n");
        }
        return AcceptingPoster(command);
    });
    InnServer server(scripted.Address());
    EXPECT_EQ(server.Post("g", "s", "one\r\n"), "<first@test>") << server.Error();
    EXPECT_EQ(server.Post("g", "s", "two\r\n"), "<posted@test>") << server.Error();
    EXPECT_EQ(scripted.Connections(), 2);
}

}  // namespace

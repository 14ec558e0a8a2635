// The news server client against a real news server (INN): what a scripted server can only
// imitate, such as INN's own framing, its dot-stuffing of stored articles and its numbering.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "nntp/CNewsServer.h"
#include "tests/support/Capture.h"
#include "tests/support/InnServer.h"
#include "tests/support/UUEncode.h"

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// Every byte value, in an order that is not simply ascending.
std::string BinaryPicture(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<char>((i * 7 + 3) & 0xff);
    }
    return data;
}

// About `size` bytes of text lines, every tenth of them beginning with a dot.
std::string LongBody(std::size_t size) {
    std::string body;
    for (unsigned line = 0; body.size() < size; ++line) {
        body += (line % 10 == 0 ? "." : "") + std::string("line ") + std::to_string(line) +
                " of a long article, written out to about seventy characters\r\n";
    }
    return body;
}

class NewsServerAgainstInnTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!inn.Available()) {
            GTEST_SKIP() << test::InnServer::SkipReason();
        }
        group = inn.CreateGroup();
        ASSERT_FALSE(group.empty()) << inn.Error();
    }

    // Posts the bodies in order, so that in the fresh group they are articles 1 to n, and
    // waits until the reader counts them all. Returns their message ids, or none after a
    // failure.
    std::vector<std::string> PostAll(const std::vector<std::string>& bodies) {
        std::vector<std::string> ids;
        for (std::size_t i = 0; i < bodies.size(); ++i) {
            ids.push_back(inn.Post(group, "article " + std::to_string(i + 1), bodies[i]));
            if (ids.back().empty()) {
                ADD_FAILURE() << inn.Error();
                return {};
            }
        }
        if (!inn.WaitForArticles(group, static_cast<std::uint32_t>(bodies.size()))) {
            ADD_FAILURE() << inn.Error();
            return {};
        }
        return ids;
    }

    // A session connected to the server.
    std::unique_ptr<CNewsServer> Connected() {
        auto session = std::make_unique<CNewsServer>(inn.Address(), CNewsServer::NNTP_PORT);
        EXPECT_TRUE(session->Init());
        EXPECT_TRUE(session->Connect());
        return session;
    }

    test::InnServer inn;
    // Keeps the client's log out of the test output, and lets tests read it.
    test::ConsoleCapture capture;
    std::string group;
};

TEST_F(NewsServerAgainstInnTest, NewsGroupListHoldsTheTestGroupsWithTheirNumbers) {
    ASSERT_EQ(PostAll({"one\r\n", "two\r\n", "three\r\n"}).size(), 3u);
    const std::string empty = inn.CreateGroup();
    ASSERT_FALSE(empty.empty()) << inn.Error();

    const auto session = Connected();
    ASSERT_TRUE(session->FetchNewsGroups());
    std::vector<std::unique_ptr<CNewsGroup>> groups;
    ASSERT_TRUE(session->GetNewsGroups(groups));
    const auto find = [&](const std::string& name) -> const CNewsGroup* {
        const auto found = std::find_if(groups.begin(), groups.end(),
                                        [&](const auto& g) { return g->name == name; });
        return found == groups.end() ? nullptr : found->get();
    };
    const CNewsGroup* filled = find(group);
    ASSERT_NE(filled, nullptr) << group << " is missing from the list of " << groups.size();
    EXPECT_EQ(filled->first, 1);
    EXPECT_EQ(filled->last, 3);
    EXPECT_EQ(filled->info, "y");
    // INN lists an empty group as last 0, first 1.
    const CNewsGroup* nothing = find(empty);
    ASSERT_NE(nothing, nullptr);
    EXPECT_EQ(nothing->first, 1);
    EXPECT_EQ(nothing->last, 0);

    // The records were handed over: the session keeps none to hand out again.
    std::vector<std::unique_ptr<CNewsGroup>> again;
    ASSERT_TRUE(session->GetNewsGroups(again));
    EXPECT_TRUE(again.empty());
}

TEST_F(NewsServerAgainstInnTest, OpenGivesTheFirstAndLastNumbers) {
    ASSERT_EQ(PostAll({"a\r\n", "b\r\n"}).size(), 2u);
    const auto session = Connected();
    std::unique_ptr<CNewsGroup> selected;
    ASSERT_TRUE(session->Open(group, selected));
    ASSERT_NE(selected, nullptr);
    EXPECT_EQ(selected->name, group);
    EXPECT_EQ(selected->first, 1);
    EXPECT_EQ(selected->last, 2);
    EXPECT_EQ(selected->info, "2");
    EXPECT_THAT(capture.LogLines(),
                Contains("CNewsServer::Open Creating a newsgroup '" + group + "' 1 2 '2'"));

    // A group the server does not have is refused with the server's reply in the log.
    std::unique_ptr<CNewsGroup> missing;
    EXPECT_FALSE(session->Open(group + ".absent", missing));
    EXPECT_EQ(missing, nullptr);
    EXPECT_THAT(capture.LogLines(),
                Contains(StartsWith("CNewsServer::Open open failed, response '411")));
}

TEST_F(NewsServerAgainstInnTest, BodiesComeBackByteForByte) {
    const std::string picture = test::UUEncode(BinaryPicture(45 * 20 + 14), "picture.jpg", "\r\n");
    // The picture's last data line holds 14 bytes, so its length character is a dot.
    ASSERT_NE(picture.find("\r\n."), std::string::npos);
    const std::vector<std::string> bodies = {
        "plain text\r\n",
        ".one dot\r\n..two dots\r\n...three\r\n.\r\n..\r\nlast\r\n",
        "trailing blanks  \r\n\ttab first\r\n\xe9\xe8 eight-bit\r\n\r\n\r\nafter blank lines\r\n",
        LongBody(200 * 1024),
        picture,
    };
    ASSERT_EQ(PostAll(bodies).size(), bodies.size());

    const auto session = Connected();
    std::unique_ptr<CNewsGroup> selected;
    ASSERT_TRUE(session->Open(group, selected));
    ASSERT_EQ(selected->last, static_cast<std::int32_t>(bodies.size()));
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        const auto number = static_cast<std::uint32_t>(i + 1);
        const auto message = session->ReadMessage(number);
        ASSERT_NE(message, nullptr) << "article " << number;
        EXPECT_EQ(message->number, number);
        // EXPECT_TRUE rather than EXPECT_EQ: a 200 KB difference is no readable message.
        EXPECT_TRUE(message->body == bodies[i])
            << "article " << number << ": " << message->body.size() << " bytes back, "
            << bodies[i].size() << " posted";
        EXPECT_EQ(message->bodyLength, bodies[i].size());
        EXPECT_THAT(message->header,
                    HasSubstr("\r\nSubject: article " + std::to_string(number) + "\r\n"));
        EXPECT_THAT(message->header, HasSubstr("Newsgroups: " + group + "\r\n"));
        EXPECT_EQ(message->headerLength, message->header.size());
    }
}

TEST_F(NewsServerAgainstInnTest, NumberWithoutArticleGivesNothing) {
    const std::vector<std::string> ids = PostAll({"first\r\n", "second\r\n", "third\r\n"});
    ASSERT_EQ(ids.size(), 3u);
    ASSERT_TRUE(inn.DeleteArticle(ids[1])) << inn.Error();

    const auto session = Connected();
    std::unique_ptr<CNewsGroup> selected;
    ASSERT_TRUE(session->Open(group, selected));
    ASSERT_EQ(selected->first, 1);
    ASSERT_EQ(selected->last, 3);
    // Inside the range, but the server has no article 2: INN answers 423 and BODY is not asked.
    EXPECT_EQ(session->ReadMessage(2), nullptr);
    EXPECT_THAT(capture.LogLines(),
                Contains(StartsWith("CNewsServer::ReadMessage head failed, response '423")));
    // Beyond the range nothing is asked at all.
    EXPECT_EQ(session->ReadMessage(4), nullptr);
    EXPECT_THAT(capture.LogLines(), Contains("CNewsServer::ReadMessage no such message"));
    // The session is still in step with the server.
    const auto third = session->ReadMessage(3);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->body, "third\r\n");
}

TEST_F(NewsServerAgainstInnTest, DisconnectEndsTheSession) {
    ASSERT_EQ(PostAll({"only\r\n"}).size(), 1u);
    const auto session = Connected();
    std::unique_ptr<CNewsGroup> selected;
    ASSERT_TRUE(session->Open(group, selected));
    ASSERT_NE(session->ReadMessage(1), nullptr);
    EXPECT_TRUE(session->Disconnect());
    EXPECT_THAT(capture.LogLines(),
                Contains(StartsWith("CNewsServer::Disconnect quit result '205")));
    // Nothing more comes over the closed connection, and nothing waits for it.
    EXPECT_EQ(session->ReadMessage(1), nullptr);
    // A new connection of the same session works again.
    ASSERT_TRUE(session->Connect());
    ASSERT_TRUE(session->Open(group, selected));
    const auto message = session->ReadMessage(1);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->body, "only\r\n");
}

}  // namespace

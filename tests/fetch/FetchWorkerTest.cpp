// The fetch worker against the scripted news server, with a fake window: the order of its
// messages, what it asks the server, what it leaves on disk and what it tells the window.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "config/ConfigFile.h"
#include "fetch/CFetchWorker.h"
#include "fetch/ControlIds.h"
#include "platform/ProgramFolder.h"
#include "tests/support/Capture.h"
#include "tests/support/FakeFetchDisplay.h"
#include "tests/support/NewsSpool.h"
#include "tests/support/ScriptedNntpServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/UUEncode.h"

namespace {

using namespace std::chrono_literals;
using test::ScriptedReply;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr auto RUN_TIMEOUT = 30s;

// An article body carrying one picture, with CR LF line ends as on the wire.
std::string PictureArticle(const std::string& name, const std::string& data) {
    return "Here is a picture.\r\n\r\n" + test::UUEncode(data, name, "\r\n") +
           "-- \r\nsignature\r\n";
}

class FetchWorkerTest : public ::testing::Test {
protected:
    FetchWorkerTest() {
        platform::SetProgramFolder(folder.Folder());
        std::filesystem::create_directory("images");
        server.SetHandler(spool.Handler());
    }

    void Configure(const std::string& host, const std::vector<std::string>& groups) {
        std::string text = host + "\n";
        for (const std::string& group : groups) {
            text += group + "\n";
        }
        test::WriteFile("zarvo.cfg", text + std::string(CONFIG_SEPARATOR) + "\nalt.other\n");
    }

    // Presses Start and waits for the run to end.
    void Run() {
        const std::uint64_t before = worker.RunsDone();
        worker.OnStart();
        ASSERT_TRUE(worker.WaitForRuns(before + 1, RUN_TIMEOUT));
    }

    // The files in the program folder other than the configuration and the picture folders.
    std::vector<std::string> LeftoverFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
            const std::string name = entry.path().filename().string();
            if (name != "zarvo.cfg" && name != "images") {
                names.push_back(name);
            }
        }
        return names;
    }

    test::TempDir folder{true};
    test::ErrorBoxRecorder boxes;
    test::ConsoleCapture console;
    test::NewsSpool spool;
    test::ScriptedNntpServer server;
    test::FakeFetchDisplay display;
    CFetchWorker worker{display};
    bool started = worker.InitServer() && worker.StartThread();
};

TEST_F(FetchWorkerTest, MissingOrEmptyConfigurationEndsTheRunWithItsMessages) {
    ASSERT_TRUE(started);
    Run();
    EXPECT_THAT(boxes.Texts(),
                ElementsAre("Couldn't open file 'zarvo.cfg'",
                            "Couldn't open the configuration.  Please configure first"));
    test::WriteFile("zarvo.cfg", "");
    Run();
    Configure("", {"alt.test"});
    Run();
    EXPECT_THAT(boxes.Texts(), ElementsAre(::testing::_, ::testing::_, "No newsgroups specified...",
                                           "No news server specified"));
    EXPECT_EQ(server.Connections(), 0);
}

TEST_F(FetchWorkerTest, RefusedConnectionReportsEveryGroupAndGoesIdle) {
    Configure("127.0.0.1:" + std::to_string(test::UnusedLoopbackPort()),
              {"a.one", "b.two", "c.three"});
    display.ClearPictures();
    display.AppendPicture("from an earlier run");
    Run();
    EXPECT_THAT(boxes.Texts(), ElementsAre("CONNECT FAILED", "Open failed for newsgroup 'a.one'",
                                           "Open failed for newsgroup 'b.two'",
                                           "Open failed for newsgroup 'c.three'"));
    // The list is emptied after connecting, even when connecting failed.
    EXPECT_THAT(display.Pictures(), IsEmpty());
    EXPECT_THAT(display.Texts(IDC_GROUP_COUNTER), IsEmpty());
}

TEST_F(FetchWorkerTest, RunFetchesEveryArticleDecodesPicturesAndCleansUp) {
    const std::string first = test::PictureBytes(1000, 1);
    const std::string newest =
        test::PictureBytes(45 * 20 + 14, 2);  // its last data line starts with "."
    spool.AddGroup("alt.pics", 10, 13);
    spool.AddArticle("alt.pics", 10, "just words\r\n");
    spool.AddArticle("alt.pics", 11, PictureArticle("cat.jpg", first));
    // 12 is missing on the server
    spool.AddArticle("alt.pics", 13, PictureArticle("my dog.png", newest));
    Configure(server.Address(), {"alt.pics"});
    test::WriteFile("12", "an unrelated file named like an article");
    Run();

    EXPECT_THAT(boxes.Texts(), IsEmpty());
    const std::string pictures = folder.Folder() + "images/alt.pics/";
    EXPECT_THAT(display.Pictures(), ElementsAre(pictures + "cat.jpg", pictures + "my_dog.png"));
    EXPECT_EQ(test::ReadFile(pictures + "cat.jpg"), first);
    EXPECT_EQ(test::ReadFile(pictures + "my_dog.png"), newest);
    EXPECT_THAT(LeftoverFiles(), IsEmpty());
    EXPECT_THAT(server.Commands(), ElementsAre("GROUP  alt.pics", "HEAD 10", "BODY 10", "HEAD 11",
                                               "BODY 11", "HEAD 12", "HEAD 13", "BODY 13", "quit"));
    EXPECT_THAT(display.Texts(IDC_ARTICLE_COUNTER),
                ElementsAre("1 / 4", "2 / 4", "3 / 4", "4 / 4"));
    EXPECT_THAT(display.Texts(IDC_GROUP_COUNTER), ElementsAre("1 / 1"));
    EXPECT_THAT(display.Texts(IDC_PICTURE_COUNTER), ElementsAre("0 / 0", "1 / 1", "1 / 2"));
    EXPECT_THAT(display.Texts(IDC_GROUP_NAME), ElementsAre("alt.pics"));
    const auto calls = display.Calls();
    EXPECT_THAT(calls, Contains("range 1000 0..1 step 1 at 0"));
    EXPECT_THAT(calls, Contains("range 1001 0..4 step 1 at 0"));
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "step 1001"), 4);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "next"), 1);
    // The first picture is shown as soon as it is in the list.
    const auto appended = std::find(calls.begin(), calls.end(), "append " + pictures + "cat.jpg");
    ASSERT_NE(appended, calls.end());
    EXPECT_EQ(*(appended + 2), "next");
}

TEST_F(FetchWorkerTest, EmptyReversedAndSingleArticleRanges) {
    spool.AddGroup("g.reversed", 5, 4);
    spool.AddGroup("g.single", 7, 7);
    spool.AddArticle("g.single", 7, PictureArticle("one.gif", "GIF89a"));
    spool.AddGroup("g.empty", 1, 0);
    Configure(server.Address(), {"g.reversed", "g.single", "g.empty"});
    Run();
    EXPECT_THAT(server.Commands(), ElementsAre("GROUP  g.reversed", "GROUP  g.single", "HEAD 7",
                                               "BODY 7", "GROUP  g.empty", "quit"));
    EXPECT_THAT(display.Texts(IDC_GROUP_COUNTER), ElementsAre("1 / 3", "2 / 3", "3 / 3"));
    EXPECT_THAT(display.Texts(IDC_ARTICLE_COUNTER), ElementsAre("1 / 1"));
    EXPECT_THAT(display.Calls(), Contains("range 1001 0..0 step 1 at 0"));
    EXPECT_EQ(display.Pictures().size(), 1u);
}

TEST_F(FetchWorkerTest, GroupNamesThatCannotBeFoldersAreSkipped) {
    spool.AddGroup("ok.group", 1, 0);
    Configure(server.Address(), {"..", "alt/../../etc", "back\\slash", "ok.group"});
    Run();
    EXPECT_THAT(boxes.Texts(),
                ElementsAre("Newsgroup name '..' cannot be used as a folder name",
                            "Newsgroup name 'alt/../../etc' cannot be used as a folder name",
                            "Newsgroup name 'back\\slash' cannot be used as a folder name"));
    EXPECT_THAT(server.Commands(), ElementsAre("GROUP  ok.group", "quit"));
    EXPECT_THAT(display.Texts(IDC_GROUP_COUNTER), ElementsAre("4 / 4"));
}

TEST_F(FetchWorkerTest, StartPressedDuringARunGivesExactlyOneMoreRun) {
    spool.AddGroup("slow", 1, 1);
    spool.AddArticle("slow", 1, "text\r\n");
    server.On("HEAD 1", ScriptedReply::SplitAt("221 1 <1@x>\r\nSubject: s\r\n.\r\n", {5}, 300ms));
    Configure(server.Address(), {"slow"});
    worker.OnStart();
    ASSERT_TRUE(server.WaitForCommands(2));  // the first run is under way
    worker.OnStart();
    worker.OnStart();
    worker.OnStart();
    ASSERT_TRUE(worker.WaitForRuns(2, RUN_TIMEOUT));
    // Give a wrongly queued third run the time to begin; none may.
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(worker.RunsDone(), 2u);
    EXPECT_EQ(server.Connections(), 2);
}

TEST_F(FetchWorkerTest, StopEndsTheRunBeforeTheNextArticle) {
    spool.AddGroup("first", 1, 50);
    spool.AddGroup("second", 1, 5);
    for (std::uint32_t n = 1; n <= 50; ++n) {
        spool.AddArticle("first", n, "text\r\n");
    }
    server.On("HEAD 3", ScriptedReply::SplitAt("221 3 <3@x>\r\nSubject: s\r\n.\r\n", {5}, 300ms));
    Configure(server.Address(), {"first", "second"});
    worker.OnStart();
    ASSERT_TRUE(server.WaitForCommands(6));  // GROUP, HEAD 1, BODY 1, HEAD 2, BODY 2, HEAD 3
    worker.OnStop();
    ASSERT_TRUE(worker.WaitForRuns(1, RUN_TIMEOUT));
    const auto commands = server.Commands();
    EXPECT_THAT(commands, Not(Contains("GROUP  second")));
    EXPECT_THAT(commands, Not(Contains("HEAD 5")));
    EXPECT_EQ(commands.back(), "quit");
    // The interrupted group still counts as done.
    EXPECT_THAT(display.Texts(IDC_GROUP_COUNTER), ElementsAre("1 / 2"));
    EXPECT_THAT(LeftoverFiles(), IsEmpty());
}

TEST_F(FetchWorkerTest, SecondRunShowsItsFirstPictureFromTheOldPosition) {
    spool.AddGroup("pics", 1, 1);
    spool.AddArticle("pics", 1, PictureArticle("a.jpg", "picture"));
    Configure(server.Address(), {"pics"});
    Run();
    display.SetCurrentPicture(4);
    Run();
    EXPECT_THAT(display.Texts(IDC_PICTURE_COUNTER),
                ElementsAre("0 / 0", "1 / 1", "0 / 0", "5 / 1"));
    EXPECT_EQ(display.CurrentPicture(), 0);
    EXPECT_EQ(display.Pictures().size(), 1u);
}

TEST_F(FetchWorkerTest, ExitDuringARunEndsItAtOnceAndLeavesTheWindowAlone) {
    spool.AddGroup("stuck", 1, 3);
    spool.AddArticle("stuck", 1, "text\r\n");
    server.On("BODY 1", ScriptedReply::Silence());
    Configure(server.Address(), {"stuck"});
    worker.OnStart();
    ASSERT_TRUE(server.WaitForCommands(3));  // GROUP, HEAD 1, BODY 1: now blocked in a read
    worker.OnStart();                        // a further run asked for must not happen
    EXPECT_TRUE(worker.EndRun(5s));
    const std::size_t calls = display.Calls().size();
    EXPECT_THAT(server.Commands(), Not(Contains("HEAD 2")));
    EXPECT_EQ(display.Calls().size(), calls);
    EXPECT_EQ(worker.RunsDone(), 1u);
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

}  // namespace

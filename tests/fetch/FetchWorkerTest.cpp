// The fetch worker against the scripted news server, with a fake window: the order of its
// messages, what it asks the server, what it leaves on disk and what it tells the window.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "config/CNewsrc.h"
#include "config/ConfigFile.h"
#include "config/ServerSettings.h"
#include "decode/CContentIndex.h"
#include "fetch/CBackOff.h"
#include "fetch/CFetchWorker.h"
#include "fetch/ControlIds.h"
#include "platform/ProgramFolder.h"
#include "tests/support/Capture.h"
#include "tests/support/FakeFetchDisplay.h"
#include "tests/support/NewsSpool.h"
#include "tests/support/RunSettings.h"
#include "tests/support/ScriptedNntpServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificate.h"
#include "tests/support/UUEncode.h"
#include "tests/support/YEncEncode.h"

namespace {

using namespace std::chrono_literals;
using test::ScriptedReply;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr auto RUN_TIMEOUT = 30s;

// Bytes that begin as a JPEG picture does, followed by `text`: a picture for the collection.
std::string Jpeg(const std::string& text) {
    return "\xFF\xD8\xFF\xE0" + text;
}

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
        test::WriteOneRequestAtATimeSettings();
        // Two tries in milliseconds where a run waits minutes: the tests only follow the order.
        worker.SetReconnectBackOff(CBackOff({10ms, 20ms}));
    }

    // The run of old, logging in with the password given to Start.
    static void LogInAs(const std::string& user) {
        CServerSettings settings;
        std::string error;
        ASSERT_TRUE(ReadServerSettings(settings, error)) << error;
        settings.user = user;
        settings.allowUnencrypted = true;
        std::string written;
        ASSERT_TRUE(WriteServerSettings(settings, written)) << written;
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

    // The files in the program folder and in tmp_dir/ other than the configuration, the record
    // of processed articles and the picture folders.
    std::vector<std::string> LeftoverFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.Path())) {
            const std::string name =
                std::filesystem::relative(entry.path(), folder.Path()).string();
            if (name != "zarvo.cfg" && name != SETTINGS_FILE_NAME && !name.ends_with(".newsrc") &&
                name != CONTENT_INDEX_FILE_NAME && name != "tmp_dir" &&
                !name.starts_with("images")) {
                names.push_back(name);
            }
        }
        return names;
    }

    // Presses Start, waits until the server has seen `commands` commands, presses Stop and
    // waits for the run to end.
    void StopAfter(std::size_t commands) {
        worker.OnStart();
        ASSERT_TRUE(server.WaitForCommands(commands));
        const auto pressed = std::chrono::steady_clock::now();
        worker.OnStop();
        ASSERT_TRUE(worker.WaitForRuns(1, RUN_TIMEOUT));
        // Within a second on an idle machine; the bound only tells an ended wait from the
        // minute-long read time-out.
        EXPECT_LT(std::chrono::steady_clock::now() - pressed, 10s);
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

TEST_F(FetchWorkerTest, WithNothingConfiguredTheRunSaysWhatToSetUpWithoutABox) {
    ASSERT_TRUE(started);
    Run();  // no zarvo.cfg at all: the first start
    test::WriteFile("zarvo.cfg", "");
    Run();
    Configure("", {"alt.test"});
    Run();
    Configure("news.example.com", {});
    Run();
    EXPECT_THAT(boxes.Texts(), IsEmpty());
    const std::string noServer =
        "No news server yet: press Configure to choose one and pick newsgroups.";
    EXPECT_THAT(display.StatusTexts(),
                ElementsAre(noServer, noServer, noServer,
                            "No newsgroups yet: press Configure to pick the newsgroups to fetch "
                            "from news.example.com."));
    EXPECT_EQ(server.Connections(), 0);
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
    // The user's file named like an article is left alone.
    EXPECT_THAT(LeftoverFiles(), ElementsAre("12"));
    EXPECT_EQ(test::ReadFile("12"), "an unrelated file named like an article");
    EXPECT_THAT(server.CommandsWithoutProbes(),
                ElementsAre("GROUP  alt.pics", "HEAD 10", "BODY 10", "HEAD 11", "BODY 11",
                            "HEAD 12", "HEAD 13", "BODY 13", "quit"));
    // Counters and bars start afresh, then say how far the run got, with the status line.
    EXPECT_EQ(display.Texts(IDC_ARTICLE_COUNTER).back(), "4 / 4");
    EXPECT_THAT(display.Texts(IDC_GROUP_COUNTER), ElementsAre("", "0 / 1", "1 / 1"));
    EXPECT_THAT(display.Texts(IDC_PICTURE_COUNTER), ElementsAre("1 / 1", "1 / 2"));
    EXPECT_THAT(display.Texts(IDC_GROUP_NAME), ElementsAre("", "alt.pics"));
    const auto calls = display.Calls();
    EXPECT_THAT(calls, Contains("range 1001 0..4 step 1 at 0"));
    EXPECT_THAT(calls, Contains("range 1001 0..4 step 1 at 4"));
    EXPECT_EQ(calls[calls.size() - 3], "range 1000 0..1000 step 1 at 1000");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "next"), 1);
    // The first picture is shown as soon as it is in the list.
    const auto appended = std::find(calls.begin(), calls.end(), "append " + pictures + "cat.jpg");
    ASSERT_NE(appended, calls.end());
    EXPECT_EQ(*(appended + 2), "next");
    EXPECT_EQ(calls.front(), "running 1");
    EXPECT_EQ(calls.back(), "running 0");
    EXPECT_THAT(display.LogEntries(), IsEmpty());
    const auto status = display.StatusTexts();
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(status.front(), "Connecting to 127.0.0.1...");
    EXPECT_THAT(status, Contains(::testing::StartsWith("alt.pics: article 4 of 4, 2 pictures, ")));
    EXPECT_THAT(status.back(),
                ::testing::StartsWith("Done: 1 group, 4 articles, 2 pictures, 0.0 MB in "));
}

TEST_F(FetchWorkerTest, EmptyReversedAndSingleArticleRanges) {
    spool.AddGroup("g.reversed", 5, 4);
    spool.AddGroup("g.single", 7, 7);
    spool.AddArticle("g.single", 7, PictureArticle("one.gif", "GIF89a;"));
    spool.AddGroup("g.empty", 1, 0);
    Configure(server.Address(), {"g.reversed", "g.single", "g.empty"});
    Run();
    EXPECT_THAT(server.CommandsWithoutProbes(),
                ElementsAre("GROUP  g.reversed", "GROUP  g.single", "HEAD 7", "BODY 7",
                            "GROUP  g.empty", "quit"));
    EXPECT_THAT(display.Texts(IDC_GROUP_COUNTER),
                ElementsAre("", "0 / 3", "1 / 3", "2 / 3", "3 / 3"));
    // A group with nothing to visit shows its bar full at once.
    EXPECT_THAT(display.Texts(IDC_ARTICLE_COUNTER),
                ElementsAre("", "0 / 0", "0 / 1", "1 / 1", "0 / 0"));
    EXPECT_THAT(display.Calls(), Contains("range 1001 0..1 step 1 at 1"));
    EXPECT_EQ(display.Pictures().size(), 1u);
}

TEST_F(FetchWorkerTest, AGroupThatCannotBeFetchedIsLoggedAndTheRunGoesOn) {
    const struct {
        std::string group;
        // What the server does with the group; nothing when it serves it.
        std::string command;
        ScriptedReply reply;
        std::string entry;
    } cases[] = {
        {"back\\slash", "", ScriptedReply::Text(""),
         "back\\slash: cannot be used as a folder name: remove it in Configure"},
        {"gone", "GROUP  gone", ScriptedReply::Text("411 No such group\r\n"),
         "gone: could not be selected: the server has no such group, or does not let this "
         "account read it: check its name, or remove it in Configure"},
        {"zarvo.secure", "GROUP  zarvo.secure", ScriptedReply::Text("480 Log in first\r\n"),
         "zarvo.secure: needs a user name and password: enter them in Configure"},
        // The overview is cut every time: the connection is won back, and lost again, until
        // the tries are spent.
        {"cut", "OVER 1-1", ScriptedReply::CloseAfter(""),
         "cut: was cut short: the connection to 127.0.0.1 was lost and could not be won back: "
         "press Start again later; the group goes on where it stopped"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.group);
        test::TempDir runFolder(true);
        platform::SetProgramFolder(runFolder.Folder());
        std::filesystem::create_directory("images");
        test::NewsSpool contents;
        contents.SetOverview(test::NewsSpool::Overview::Over);
        contents.AddGroup(c.group, 1, 1);
        contents.AddArticle(c.group, 1, PictureArticle("lost.jpg", Jpeg("never")));
        contents.AddGroup("later", 1, 2);
        contents.AddArticle("later", 1, PictureArticle("a.jpg", Jpeg("picture a")));
        contents.AddArticle("later", 2, PictureArticle("b.jpg", Jpeg("picture b")));
        test::ScriptedNntpServer plain;
        plain.SetHandler(contents.Handler());
        if (!c.command.empty()) {
            plain.On(c.command, c.reply);
        }
        test::WriteOneRequestAtATimeSettings();
        Configure(plain.Address(), {c.group, "later"});
        test::FakeFetchDisplay shown;
        CFetchWorker runner(shown);
        runner.SetReconnectBackOff(CBackOff({10ms, 20ms}));
        ASSERT_TRUE(runner.StartThread());
        runner.OnStart();
        ASSERT_TRUE(runner.WaitForRuns(1, RUN_TIMEOUT));
        EXPECT_THAT(boxes.Texts(), IsEmpty());
        EXPECT_THAT(shown.LogEntries(), ElementsAre(c.entry));
        EXPECT_THAT(shown.Pictures(), ElementsAre(runFolder.Folder() + "images/later/a.jpg",
                                                  runFolder.Folder() + "images/later/b.jpg"));
        EXPECT_EQ(shown.Texts(IDC_GROUP_COUNTER).back(), "2 / 2");
        EXPECT_THAT(shown.StatusTexts(), Contains(c.entry.substr(0, c.entry.find(':')) + " " +
                                                  c.entry.substr(c.entry.find(':') + 2) + "."));
        EXPECT_THAT(shown.StatusTexts().back(),
                    ::testing::AllOf(::testing::StartsWith("Done: 1 group, 2 articles, 2 pictures"),
                                     ::testing::EndsWith("; 1 group not fetched (see Log)")));
    }
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

TEST_F(FetchWorkerTest, StopCutsTheExchangeUnderWayAndEndsTheRun) {
    spool.AddGroup("first", 1, 50);
    spool.AddGroup("second", 1, 5);
    for (std::uint32_t n = 1; n <= 50; ++n) {
        spool.AddArticle("first", n, "text\r\n");
        spool.AddArticle("second", (n - 1) % 5 + 1, "text\r\n");
    }
    server.On("BODY 3", ScriptedReply::Text("222 3 <3@x>\r\nhalf of it"));  // then silence
    Configure(server.Address(), {"first", "second"});
    StopAfter(9);  // CAPABILITIES, GROUP, XOVER 1-50, HEAD 1, BODY 1, ..., HEAD 3, BODY 3
    EXPECT_THAT(server.CommandsWithoutProbes(), Not(Contains("GROUP  second")));
    EXPECT_THAT(server.CommandsWithoutProbes(), Not(Contains("HEAD 4")));
    // Neither the interrupted group nor the cut article counts as done.
    EXPECT_EQ(display.Texts(IDC_GROUP_COUNTER).back(), "0 / 2");
    EXPECT_EQ(display.Texts(IDC_ARTICLE_COUNTER).back(), "2 / 50");
    EXPECT_THAT(display.Calls(), Not(Contains("range 1000 0..2000 step 1 at 2000")));
    EXPECT_THAT(display.StatusTexts().back(),
                ::testing::StartsWith("Stopped: 0 groups, 2 articles"));
    EXPECT_THAT(LeftoverFiles(), IsEmpty());
    EXPECT_THAT(boxes.Texts(), IsEmpty());
    // The next Start works as ever.
    server.On("BODY 3", ScriptedReply::Text("222 3 <3@x>\r\ntext\r\n.\r\n"));
    Run();
    EXPECT_THAT(display.StatusTexts().back(), ::testing::StartsWith("Done: 2 groups, 55 articles"));
}

TEST_F(FetchWorkerTest, StopWhileConnectingToASilentServerEndsTheRun) {
    spool.AddGroup("g", 1, 1);
    server.SetGreeting(ScriptedReply::Silence());
    Configure(server.Address(), {"g"});
    worker.OnStart();
    const auto deadline = std::chrono::steady_clock::now() + RUN_TIMEOUT;
    while (server.Connections() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    std::this_thread::sleep_for(50ms);  // the worker waits for the greeting now
    worker.OnStop();
    ASSERT_TRUE(worker.WaitForRuns(1, 10s));
    EXPECT_THAT(server.CommandsWithoutProbes(), IsEmpty());
    EXPECT_THAT(display.StatusTexts().back(), ::testing::StartsWith("Stopped: "));
}

TEST_F(FetchWorkerTest, LostConnectionIsWonBackAndTheGroupResumedAtTheSameArticle) {
    spool.AddGroup("g", 1, 4);
    for (std::uint32_t n = 1; n <= 4; ++n) {
        spool.AddArticle(
            "g", n,
            PictureArticle("p" + std::to_string(n) + ".jpg", Jpeg("picture " + std::to_string(n))));
    }
    int cuts = 0;
    server.SetHandler([&, answer = spool.Handler()](const std::string& command) {
        if (command == "BODY 3" && cuts++ == 0) {
            return ScriptedReply::CloseAfter("222 3 <3@x>\r\nbegin 644 p3.jpg\r\n");
        }
        return answer(command);
    });
    Configure(server.Address(), {"g"});
    Run();
    EXPECT_THAT(server.CommandsWithoutProbes(),
                ElementsAre("GROUP  g", "HEAD 1", "BODY 1", "HEAD 2", "BODY 2", "HEAD 3", "BODY 3",
                            "GROUP  g", "HEAD 3", "BODY 3", "HEAD 4", "BODY 4", "quit"));
    EXPECT_EQ(display.Texts(IDC_ARTICLE_COUNTER).back(), "4 / 4");
    EXPECT_EQ(display.Pictures().size(), 4u);
    EXPECT_THAT(boxes.Texts(), IsEmpty());
    EXPECT_THAT(display.StatusTexts(),
                Contains(::testing::MatchesRegex("Lost the connection to 127\\.0\\.0\\.1; trying "
                                                 "again at [0-9]{2}:[0-9]{2}:[0-9]{2} \\(try "
                                                 "1\\)\\.\\.\\.")));
    EXPECT_THAT(display.StatusTexts().back(), ::testing::StartsWith("Done: 1 group, 4 articles"));
    EXPECT_THAT(LeftoverFiles(), IsEmpty());
}

TEST_F(FetchWorkerTest, AConnectionLostForGoodLogsItsGroupAndEndsTheRunWhenNoneCanBeMade) {
    spool.AddGroup("g", 1, 5);
    spool.AddGroup("later", 1, 1);
    for (std::uint32_t n = 1; n <= 5; ++n) {
        spool.AddArticle("g", n, "text\r\n");
    }
    server.On("BODY 2", ScriptedReply::CloseAfter(""));
    Configure(server.Address(), {"g", "later"});
    worker.OnStart();
    ASSERT_TRUE(server.WaitForCommands(7));  // ... HEAD 2, BODY 2
    // From now on the server hangs up on every new connection.
    server.SetGreeting(ScriptedReply::CloseAfter(""));
    ASSERT_TRUE(worker.WaitForRuns(1, RUN_TIMEOUT));
    // The connection's own three tries, the run's two, and one for the next group.
    EXPECT_EQ(server.Connections(), 7);
    EXPECT_THAT(display.LogEntries(), ElementsAre(::testing::StartsWith("g: was cut short: ")));
    EXPECT_THAT(boxes.Texts(),
                ElementsAre("Lost the connection to 127.0.0.1 and could not win it back."));
    // The counters show how far the run got, never more.
    EXPECT_EQ(display.Texts(IDC_ARTICLE_COUNTER).back(), "1 / 5");
    EXPECT_EQ(display.Texts(IDC_GROUP_COUNTER).back(), "1 / 2");
    EXPECT_THAT(display.StatusTexts().back(),
                ::testing::StartsWith("Lost the connection to 127.0.0.1 and could not win it "
                                      "back: 0 groups, 1 article, "));
    EXPECT_THAT(server.CommandsWithoutProbes(), Not(Contains("GROUP  later")));
}

TEST_F(FetchWorkerTest, StopEndsTheWaitBeforeTheNextTryAtOnce) {
    spool.AddGroup("g", 1, 1);
    server.On("GROUP  g", ScriptedReply::CloseAfter(""));
    Configure(server.Address(), {"g"});
    worker.SetReconnectBackOff(CBackOff({1h}));
    worker.OnStart();
    const auto waiting = [&] {
        const auto texts = display.StatusTexts();
        return !texts.empty() && texts.back().find("; trying again at ") != std::string::npos;
    };
    for (int i = 0; i < 3000 && !waiting(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(waiting());
    worker.OnStop();
    ASSERT_TRUE(worker.WaitForRuns(1, 10s));
    EXPECT_THAT(display.StatusTexts().back(), ::testing::StartsWith("Stopped: 0 groups"));
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(FetchWorkerTest, ExitDuringARunEndsItAtOnceAndLeavesTheWindowAlone) {
    spool.AddGroup("stuck", 1, 3);
    spool.AddArticle("stuck", 1, "text\r\n");
    server.On("BODY 1", ScriptedReply::Silence());
    Configure(server.Address(), {"stuck"});
    worker.OnStart();
    ASSERT_TRUE(server.WaitForCommands(5));  // ..., HEAD 1, BODY 1: now blocked in a read
    worker.OnStart();                        // a further run asked for must not happen
    EXPECT_TRUE(worker.EndRun(5s));
    const std::size_t calls = display.Calls().size();
    EXPECT_THAT(server.CommandsWithoutProbes(), Not(Contains("HEAD 2")));
    EXPECT_EQ(display.Calls().size(), calls);
    EXPECT_EQ(worker.RunsDone(), 1u);
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(FetchWorkerTest, AWrongPasswordEndsTheRunWithOneMessageAfterOneAttempt) {
    spool.AddGroup("g", 1, 1);
    server.On("AUTHINFO USER zarvo", ScriptedReply::Text("381 more\r\n"));
    server.On("AUTHINFO PASS pa55-w0rd", ScriptedReply::Text("481 no\r\n"));
    Configure(server.Address(), {"g", "h"});
    LogInAs("zarvo");
    worker.OnStart("pa55-w0rd");
    ASSERT_TRUE(worker.WaitForRuns(1, RUN_TIMEOUT));
    EXPECT_THAT(boxes.Texts(), ElementsAre("The server refused the user name or password."));
    EXPECT_THAT(server.CommandsWithoutProbes(),
                ElementsAre("AUTHINFO USER zarvo", "AUTHINFO PASS pa55-w0rd"));
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_THAT(display.StatusTexts().back(),
                ::testing::StartsWith("The server refused the user name or password: 0 groups"));
    EXPECT_THAT(console.Text(), Not(::testing::HasSubstr("pa55-w0rd")));
    // The password was that run's alone: without one, none is sent.
    Run();
    EXPECT_EQ(server.CommandsWithoutProbes().back(), "AUTHINFO USER zarvo");
    EXPECT_EQ(boxes.Texts().back(),
              "The server asks for the password of zarvo. Enter it in Configure.");
}

TEST_F(FetchWorkerTest, AWrongPasswordWhileWinningAConnectionBackIsNotTriedAgain) {
    spool.AddGroup("g", 1, 3);
    for (std::uint32_t n = 1; n <= 3; ++n) {
        spool.AddArticle("g", n, "text\r\n");
    }
    int logIns = 0;
    server.SetHandler([&, answer = spool.Handler()](const std::string& command) {
        if (command == "AUTHINFO USER zarvo") {
            return ScriptedReply::Text(logIns++ == 0 ? "281 welcome\r\n" : "481 no more\r\n");
        }
        if (command == "BODY 2") {
            return ScriptedReply::CloseAfter("");
        }
        return answer(command);
    });
    Configure(server.Address(), {"g"});
    LogInAs("zarvo");
    worker.OnStart("pw");
    ASSERT_TRUE(worker.WaitForRuns(1, RUN_TIMEOUT));
    EXPECT_EQ(server.Connections(), 2);
    EXPECT_THAT(boxes.Texts(), ElementsAre("The server refused the user name or password."));
    EXPECT_EQ(display.Texts(IDC_ARTICLE_COUNTER).back(), "1 / 3");
}

TEST_F(FetchWorkerTest, ACertificateIsTrustedOnlyWhenTheUserSaysSoAndThenForGood) {
    const test::TestCertificate certificate;
    server.UseTls(test::ScriptedNntpServer::Tls::Implicit, certificate);
    spool.AddGroup("g", 1, 1);
    spool.AddArticle("g", 1, PictureArticle("a.jpg", Jpeg("picture")));
    Configure("nntps://" + server.Address(), {"g"});
    Run();
    ASSERT_EQ(boxes.Texts().size(), 1u);
    const std::string question = boxes.Texts().front();
    EXPECT_THAT(question, ::testing::StartsWith("? Zarvo did not connect to 127.0.0.1: its "
                                                "certificate is self-signed"));
    EXPECT_THAT(question, ::testing::HasSubstr(certificate.Fingerprint()));
    EXPECT_THAT(question, ::testing::EndsWith("\n\nTrust this certificate for 127.0.0.1?"));
    EXPECT_THAT(server.CommandsWithoutProbes(), IsEmpty());
    EXPECT_THAT(display.Pictures(), IsEmpty());
    // Yes: kept for this server, and this very run goes on.
    boxes.AnswerQuestions(true);
    Run();
    EXPECT_EQ(display.Pictures().size(), 1u);
    EXPECT_THAT(test::ReadFile(SETTINGS_FILE_NAME),
                ::testing::HasSubstr("trust=127.0.0.1:" + std::to_string(server.Port()) + " " +
                                     certificate.Fingerprint()));
    Run();
    EXPECT_EQ(boxes.Texts().size(), 2u);  // not asked again
}

using test::YEncPart;

TEST_F(FetchWorkerTest, YEncAndPicturesInSeveralPartsComeOutWholeAndChecked) {
    const std::string single = test::PictureBytes(7000, 11);
    const std::string threeParts = test::PictureBytes(20000, 12);
    const std::string uuTwoParts = test::PictureBytes(45 * 40, 13);
    const std::string badWhole = test::PictureBytes(3000, 14);
    const std::string uu = test::UUEncode(uuTwoParts, "old school.gif", "\r\n");
    const std::size_t cut = uu.find("\r\n", uu.size() / 2) + 2;
    spool.AddGroup("g", 1, 9);
    spool.AddArticle("g", 1, YEncPart(threeParts, "three.jpg", 3, 3), "three.jpg (3/3)");
    spool.AddArticle("g", 2, test::YEncEncode(single, "single.png"));
    spool.AddArticle("g", 3, "Part 2 follows.\r\n" + uu.substr(cut), "old school.gif (2/2)");
    spool.AddArticle("g", 4, YEncPart(threeParts, "three.jpg", 1, 3), "three.jpg (1/3)");
    spool.AddArticle("g", 5, YEncPart(badWhole, "bad.jpg", 1, 2, true), "bad.jpg (1/2)");
    spool.AddArticle("g", 6, "just words\r\n");
    spool.AddArticle("g", 7, uu.substr(0, cut), "old school.gif (1/2)");
    spool.AddArticle("g", 8, YEncPart(badWhole, "bad.jpg", 2, 2), "bad.jpg (2/2)");
    spool.AddArticle("g", 9, YEncPart(threeParts, "three.jpg", 2, 3), "three.jpg (2/3)");
    Configure(server.Address(), {"g"});
    Run();
    const std::string pictures = folder.Folder() + "images/g/";
    // In the order each became whole.
    EXPECT_THAT(
        display.Pictures(),
        ElementsAre(pictures + "single.png", pictures + "old_school.gif", pictures + "three.jpg"));
    EXPECT_EQ(test::ReadFile(pictures + "single.png"), single);
    EXPECT_EQ(test::ReadFile(pictures + "three.jpg"), threeParts);
    EXPECT_EQ(test::ReadFile(pictures + "old_school.gif"), uuTwoParts);
    EXPECT_FALSE(std::filesystem::exists(pictures + "bad.jpg"));
    // Part 2 of bad.jpg waits for a good part 1; nothing else is left pending.
    std::size_t pending = 0;
    for (const auto& entry : std::filesystem::directory_iterator("tmp_dir/g")) {
        pending += entry.path().filename() != ".lock";
    }
    EXPECT_EQ(pending, 2u);
    EXPECT_THAT(console.Text(), ::testing::HasSubstr("a yEnc part that fails its checks"));
}

TEST_F(FetchWorkerTest, PartsSplitAcrossTwoRunsMakeThePictureInTheSecond) {
    const std::string file = test::PictureBytes(9000, 15);
    spool.AddGroup("g", 1, 2);
    spool.AddArticle("g", 1, YEncPart(file, "late.jpg", 2, 3), "late.jpg (2/3)");
    spool.AddArticle("g", 2, YEncPart(file, "late.jpg", 1, 3), "late.jpg (1/3)");
    Configure(server.Address(), {"g"});
    Run();
    EXPECT_THAT(display.Pictures(), IsEmpty());
    CFetchWorker restarted(display);  // as after the program started again
    ASSERT_TRUE(restarted.StartThread());
    spool.AddGroup("g", 1, 3);
    spool.AddArticle("g", 3, YEncPart(file, "late.jpg", 3, 3), "late.jpg (3/3)");
    restarted.OnStart();
    ASSERT_TRUE(restarted.WaitForRuns(1, RUN_TIMEOUT));
    EXPECT_THAT(display.Pictures(), ElementsAre(folder.Folder() + "images/g/late.jpg"));
    EXPECT_EQ(test::ReadFile("images/g/late.jpg"), file);
}

TEST_F(FetchWorkerTest, LeftoverArticleFilesOfEndedProcessesAreRemovedAtStart) {
    const std::filesystem::path tmp = folder.Path() / "tmp_dir";
    std::filesystem::create_directories(tmp);
    for (const char* name : {"article-999999999-5", "article-1-7", "notes.txt", "article-x-1"}) {
        test::WriteFile(tmp / name, "x");
    }
    CFetchWorker another(display);
    ASSERT_TRUE(another.StartThread());
    EXPECT_FALSE(std::filesystem::exists(tmp / "article-999999999-5"));
    // Process 1 runs; the rest is not an article file.
    EXPECT_TRUE(std::filesystem::exists(tmp / "article-1-7"));
    EXPECT_TRUE(std::filesystem::exists(tmp / "notes.txt"));
    EXPECT_TRUE(std::filesystem::exists(tmp / "article-x-1"));
}

// A window whose picture list fails once, as a full memory would make it.
class CFailingDisplay : public test::FakeFetchDisplay {
public:
    std::size_t AppendPicture(const std::string& path) override {
        if (m_failures++ == 0) {
            throw std::bad_alloc();
        }
        return FakeFetchDisplay::AppendPicture(path);
    }

private:
    int m_failures = 0;
};

TEST_F(FetchWorkerTest, AFailureInsideOneArticleCostsOnlyThatArticle) {
    spool.AddGroup("g", 1, 2);
    spool.AddArticle("g", 1, PictureArticle("a.jpg", Jpeg("one")));
    spool.AddArticle("g", 2, PictureArticle("b.jpg", Jpeg("two")));
    Configure(server.Address(), {"g"});
    CFailingDisplay failing;
    CFetchWorker failingWorker(failing);
    ASSERT_TRUE(failingWorker.StartThread());
    failingWorker.OnStart();
    ASSERT_TRUE(failingWorker.WaitForRuns(1, RUN_TIMEOUT));
    EXPECT_THAT(failing.Pictures(), ElementsAre(folder.Folder() + "images/g/b.jpg"));
    EXPECT_THAT(console.Text(), ::testing::HasSubstr("article 1 skipped: std::bad_alloc"));
}

// Runs as the default settings make them, or near: the record of processed articles, the
// overview and requests in flight.
class FetchWorkerFlightTest : public FetchWorkerTest {
protected:
    FetchWorkerFlightTest() { spool.SetOverview(test::NewsSpool::Overview::Over); }

    static void UseSettings(bool onlyNew, std::uint32_t newest, int connections, int depth) {
        CServerSettings settings;
        settings.onlyNewArticles = onlyNew;
        settings.firstRunNewest = newest;
        settings.connections = connections;
        settings.pipelineDepth = depth;
        std::string error;
        ASSERT_TRUE(WriteServerSettings(settings, error)) << error;
    }

    // Group g with pictures p<n>.jpg in articles first..last.
    void AddPictures(std::uint32_t first, std::uint32_t last) {
        spool.AddGroup("g", 1, last);
        for (std::uint32_t n = first; n <= last; ++n) {
            spool.AddArticle("g", n, PictureArticle(Name(n), Jpeg("picture " + std::to_string(n))));
        }
    }

    // The BODY replies of first..last come in two pieces 20 ms apart.
    void SlowBodies(std::uint32_t first, std::uint32_t last) {
        for (std::uint32_t n = first; n <= last; ++n) {
            const std::string reply =
                "222 " + std::to_string(n) + " <n@x>\r\n" +
                test::DotStuff(PictureArticle(Name(n), Jpeg("picture " + std::to_string(n))));
            server.On("BODY " + std::to_string(n), ScriptedReply::SplitAt(reply, {5}, 20ms));
        }
    }

    static std::string Name(std::uint32_t n) { return "p" + std::to_string(n) + ".jpg"; }

    std::vector<std::string> Pictures(std::uint32_t first, std::uint32_t last) const {
        std::vector<std::string> pictures;
        for (std::uint32_t n = first; n <= last; ++n) {
            pictures.push_back(folder.Folder() + "images/g/" + Name(n));
        }
        return pictures;
    }

    std::string Record() const { return test::ReadFile(CNewsrc::FileName(server.Address())); }

    // Waits until the server was sent the command.
    bool WaitForCommand(const std::string& command) const {
        return WaitFor([&] { return std::ranges::count(server.Commands(), command) > 0; });
    }

    static bool WaitFor(const std::function<bool()>& condition) {
        for (int i = 0; i < 2000 && !condition(); ++i) {
            std::this_thread::sleep_for(5ms);
        }
        return condition();
    }

    // The HEAD and BODY requests sent, in order.
    std::vector<std::string> Bodies() const {
        std::vector<std::string> bodies;
        for (const std::string& command : server.Commands()) {
            if (command.starts_with("BODY ") || command.starts_with("HEAD ")) {
                bodies.push_back(command);
            }
        }
        return bodies;
    }
};

TEST_F(FetchWorkerFlightTest, TheOverviewDecidesWhatIsAskedFor) {
    using Overview = test::NewsSpool::Overview;
    const struct {
        Overview overview;
        std::vector<std::string> commands;
    } cases[] = {
        // Without an overview every article is read whole, HEAD and BODY in flight together.
        {Overview::None,
         {"CAPABILITIES", "GROUP  g", "XOVER 1-5", "HEAD 1", "BODY 1", "HEAD 2", "BODY 2", "HEAD 3",
          "BODY 3", "HEAD 4", "BODY 4", "HEAD 5", "BODY 5", "quit"}},
        // With one, an article too short for a picture (2) or gone (4) is not asked for.
        {Overview::XoverOnly,
         {"CAPABILITIES", "GROUP  g", "XOVER 1-5", "BODY 1", "BODY 3", "BODY 5", "quit"}},
        {Overview::Over,
         {"CAPABILITIES", "GROUP  g", "OVER 1-5", "BODY 1", "BODY 3", "BODY 5", "quit"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.overview));
        test::TempDir runFolder(true);
        platform::SetProgramFolder(runFolder.Folder());
        std::filesystem::create_directory("images");
        test::NewsSpool contents;
        contents.SetOverview(c.overview);
        contents.AddGroup("g", 1, 5);
        contents.AddArticle("g", 1, PictureArticle("a.jpg", Jpeg("picture a")));
        contents.AddArticle("g", 2, "one line\r\n");
        contents.AddArticle("g", 3, PictureArticle("b.jpg", Jpeg("picture b")), "b (1/1)");
        contents.AddArticle("g", 5, PictureArticle("c.jpg", Jpeg("picture c")));
        test::ScriptedNntpServer plain;
        plain.SetHandler(contents.Handler());
        UseSettings(false, 0, 1, 4);
        Configure(plain.Address(), {"g"});
        Run();
        EXPECT_THAT(plain.Commands(), ElementsAreArray(c.commands));
        EXPECT_THAT(display.Pictures(), ElementsAre(runFolder.Folder() + "images/g/a.jpg",
                                                    runFolder.Folder() + "images/g/b.jpg",
                                                    runFolder.Folder() + "images/g/c.jpg"));
        EXPECT_EQ(test::ReadFile("images/g/b.jpg"), Jpeg("picture b"));
    }
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(FetchWorkerFlightTest, ARefusalInsideThePipelineCostsOnlyItsArticle) {
    AddPictures(1, 6);
    server.On("BODY 3", ScriptedReply::Text("423 No article with that number\r\n"));
    UseSettings(true, 0, 1, 8);
    Configure(server.Address(), {"g"});
    Run();
    std::vector<std::string> expected = Pictures(1, 6);
    expected.erase(expected.begin() + 2);
    EXPECT_THAT(display.Pictures(), ElementsAreArray(expected));
    EXPECT_EQ(Record(), "g: 1-6\n");
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(FetchWorkerFlightTest, ALogInAskedForInsideThePipelineLogsTheGroupWithoutClaimingArticles) {
    AddPictures(1, 6);
    server.On("BODY 3", ScriptedReply::Text("480 Authentication required\r\n"));
    UseSettings(true, 0, 1, 4);
    Configure(server.Address(), {"g"});
    Run();
    EXPECT_THAT(display.Pictures(), ElementsAreArray(Pictures(1, 2)));
    EXPECT_EQ(Record(), "g: 1-2\n");
    EXPECT_THAT(boxes.Texts(), IsEmpty());
    EXPECT_THAT(display.LogEntries(),
                ElementsAre("g: needs a user name and password: enter them in Configure"));
}

TEST_F(FetchWorkerFlightTest, ALogInAskedForOnTheWorkersConnectionLeavesTheNextGroupInStep) {
    AddPictures(1, 40);
    spool.AddGroup("h", 1, 3);
    for (std::uint32_t n = 1; n <= 3; ++n) {
        const std::string name = "h" + std::to_string(n) + ".jpg";
        spool.AddArticle("h", n, PictureArticle(name, Jpeg(name)));
    }
    bool refused = false;  // the server calls its handler under its lock
    server.SetHandler([&, answer = spool.Handler()](const std::string& command) {
        // The worker's own connection is the one that asks for the overview.
        thread_local bool own = false;
        own = own || command.starts_with("OVER ");
        if (!command.starts_with("BODY ")) {
            return answer(command);
        }
        if (own && !refused) {
            refused = true;
            return ScriptedReply::Text("480 Authentication required\r\n");
        }
        // Slow, so that the other connection is still at work when the 480 comes.
        return ScriptedReply::SplitAt(answer(command).chunks.front(), {5}, 20ms);
    });
    UseSettings(true, 0, 2, 4);
    Configure(server.Address(), {"g", "h"});
    Run();
    // The replies behind the 480 were never read: that connection said nothing more, and the
    // next group was asked for on a new one.
    const std::vector<std::string> first = server.CommandsOf(0);
    ASSERT_GE(first.size(), 4u);
    EXPECT_THAT(std::vector(first.begin(), first.begin() + 3),
                ElementsAre("CAPABILITIES", "GROUP  g", "OVER 1-40"));
    EXPECT_LE(first.size(), 7u);
    for (std::size_t i = 3; i < first.size(); ++i) {
        EXPECT_THAT(first[i], ::testing::StartsWith("BODY ")) << i;
    }
    EXPECT_THAT(server.CommandsOf(2), ::testing::IsSupersetOf({"GROUP  h", "OVER 1-3", "quit"}));
    std::vector<std::string> expected = Pictures(1, 40);
    for (std::uint32_t n = 1; n <= 3; ++n) {
        expected.push_back(folder.Folder() + "images/h/h" + std::to_string(n) + ".jpg");
    }
    EXPECT_THAT(display.Pictures(), ElementsAreArray(expected));
    EXPECT_EQ(Record(), "g: 1-40\nh: 1-3\n");
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

// The status line of each reply names the article it answers; one that names another closes the
// connection, and its articles are asked for again on a new one, never taken for the others.
TEST_F(FetchWorkerFlightTest, EveryArticleReplyIsCheckedAgainstItsRequest) {
    using Overview = test::NewsSpool::Overview;
    // The status line the server gives instead of its own (empty: its own) to a request with
    // `code`'s command for article `n`, asked for the first time or again.
    using Status = std::string (*)(const std::string& code, std::uint32_t n, bool again);
    const Status otherNumber = [](const std::string& code, std::uint32_t n, bool again) {
        return n == 3 && !again ? code + " 4 <4@spool>" : "";
    };
    const Status zeroAndOtherId = [](const std::string& code, std::uint32_t n, bool again) {
        return n == 3 && !again ? code + " 0 <4@spool>" : "";
    };
    const Status headReply = [](const std::string&, std::uint32_t n, bool again) {
        return std::string(n == 3 && !again ? "221 3 <3@spool>" : "");
    };
    // Servers that number every reply 0 or write numbers with leading zeros: the message-id
    // decides, or with no overview to compare it with, the reply is taken as it stands.
    const Status zero = [](const std::string& code, std::uint32_t n, bool) {
        return code + " 0 <" + std::to_string(n) + "@spool>";
    };
    const Status zeros = [](const std::string& code, std::uint32_t n, bool) {
        return code + " 000" + std::to_string(n) + " <" + std::to_string(n) + "@spool>";
    };
    const Status zeroNoId = [](const std::string& code, std::uint32_t, bool) {
        return code + " 0 <x@spool>";
    };
    const std::vector<std::string> pipelined = {"CAPABILITIES", "GROUP  g", "OVER 1-6",
                                                "BODY 1",       "BODY 2",   "BODY 3",
                                                "BODY 4",       "BODY 5",   "BODY 6"};
    const std::vector<std::string> resumed = {"GROUP  g", "BODY 3", "BODY 4",
                                              "BODY 5",   "BODY 6", "quit"};
    std::vector<std::string> whole = pipelined;
    whole.push_back("quit");
    std::vector<std::string> headAndBody = {"CAPABILITIES", "GROUP  g", "XOVER 1-6"};
    for (int n = 1; n <= 6; ++n) {
        headAndBody.push_back("HEAD " + std::to_string(n));
        headAndBody.push_back("BODY " + std::to_string(n));
    }
    headAndBody.push_back("quit");
    const std::vector<std::string> oneAtATime(headAndBody.begin(), headAndBody.begin() + 8);
    const std::vector<std::string> oneAtATimeResumed = {"GROUP  g", "HEAD 3", "BODY 3", "HEAD 4",
                                                        "BODY 4",   "HEAD 5", "BODY 5", "HEAD 6",
                                                        "BODY 6",   "quit"};
    const struct {
        const char* name;
        Overview overview;
        int depth;
        Status status;
        std::vector<std::string> first;   // the commands of the first connection
        std::vector<std::string> second;  // and of the one that took over, if any
    } cases[] = {
        {"another article's number", Overview::Over, 8, otherNumber, pipelined, resumed},
        {"0 and another article's id", Overview::Over, 8, zeroAndOtherId, pipelined, resumed},
        {"a HEAD's reply to a BODY", Overview::Over, 8, headReply, pipelined, resumed},
        {"another number, one at a time", Overview::None, 1, otherNumber, oneAtATime,
         oneAtATimeResumed},
        {"0 and the overview's message-id", Overview::Over, 8, zero, whole, {}},
        {"leading zeros", Overview::Over, 8, zeros, whole, {}},
        {"0 without an overview", Overview::None, 8, zeroNoId, headAndBody, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir runFolder(true);
        platform::SetProgramFolder(runFolder.Folder());
        std::filesystem::create_directory("images");
        test::NewsSpool contents;
        contents.SetOverview(c.overview);
        contents.AddGroup("g", 1, 6);
        for (std::uint32_t n = 1; n <= 6; ++n) {
            contents.AddArticle("g", n,
                                PictureArticle(Name(n), Jpeg("picture " + std::to_string(n))));
        }
        test::ScriptedNntpServer scripted;
        std::set<std::uint32_t> asked;
        scripted.SetHandler([&, answer = contents.Handler()](const std::string& command) {
            ScriptedReply reply = answer(command);
            const bool head = command.starts_with("HEAD ");
            if (!head && !command.starts_with("BODY ")) {
                return reply;
            }
            const auto n = static_cast<std::uint32_t>(std::stoul(command.substr(5)));
            const std::string status = c.status(head ? "221" : "222", n, !asked.insert(n).second);
            std::string& text = reply.chunks.front();
            if (!status.empty()) {
                text.replace(0, text.find("\r\n"), status);
            }
            return reply;
        });
        UseSettings(false, 0, 1, c.depth);
        Configure(scripted.Address(), {"g"});
        Run();
        // A dropped connection is reset with requests unread, so the server may lose those sent
        // after the one answered wrongly (which the next connection asks for first).
        const std::vector<std::string> first = scripted.CommandsOf(0);
        const std::size_t kept =
            c.second.empty() ? c.first.size()
                             : std::ranges::find(c.first, c.second[1]) - c.first.begin() + 1;
        EXPECT_GE(first.size(), kept);
        EXPECT_THAT(first,
                    ElementsAreArray(c.first.begin(),
                                     c.first.begin() + std::min(first.size(), c.first.size())));
        EXPECT_THAT(scripted.CommandsOf(1), ElementsAreArray(c.second));
        std::vector<std::string> pictures;
        for (std::uint32_t n = 1; n <= 6; ++n) {
            pictures.push_back(runFolder.Folder() + "images/g/" + Name(n));
        }
        EXPECT_THAT(display.Pictures(), ElementsAreArray(pictures));
        EXPECT_EQ(test::ReadFile(CNewsrc::FileName(scripted.Address())), "g: 1-6\n");
    }
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(FetchWorkerFlightTest, ACutWithRequestsInFlightLosesAndRepeatsNoPicture) {
    AddPictures(1, 8);
    int cuts = 0;
    server.SetHandler([&, answer = spool.Handler()](const std::string& command) {
        if (command == "BODY 3" && cuts++ == 0) {
            return ScriptedReply::CloseAfter("222 3 <3@x>\r\nbegin 644 p3.jpg\r\n");
        }
        return answer(command);
    });
    UseSettings(true, 0, 1, 4);
    Configure(server.Address(), {"g"});
    Run();
    EXPECT_THAT(display.Pictures(), ElementsAreArray(Pictures(1, 8)));
    // What was in flight at the cut is asked again, once. Replies sent just before the cut may
    // be lost with it (the server resets a connection it closes with requests unread), so
    // those may be asked again too.
    const std::vector<std::string> bodies = Bodies();
    EXPECT_EQ(std::count(bodies.begin(), bodies.end(), "BODY 3"), 2);
    for (std::uint32_t n = 1; n <= 8; ++n) {
        EXPECT_LE(std::count(bodies.begin(), bodies.end(), "BODY " + std::to_string(n)), 2) << n;
    }
    EXPECT_EQ(Record(), "g: 1-8\n");
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(FetchWorkerFlightTest, StopWithRequestsInFlightRecordsOnlyWhatWasProcessed) {
    AddPictures(1, 40);
    // The reply to BODY 3 begins and then stalls, and with it every later one.
    server.On("BODY 3", ScriptedReply::SplitAt("222 3 <3@x>\r\nbegin", {5}, 60s));
    UseSettings(true, 0, 1, 8);
    Configure(server.Address(), {"g"});
    worker.OnStart();
    ASSERT_TRUE(WaitForCommand("BODY 3"));
    std::this_thread::sleep_for(50ms);  // BODY 4 and on are on their way
    const auto pressed = std::chrono::steady_clock::now();
    worker.OnStop();
    ASSERT_TRUE(worker.WaitForRuns(1, RUN_TIMEOUT));
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, 10s);
    EXPECT_THAT(display.Pictures(), ElementsAreArray(Pictures(1, 2)));
    EXPECT_EQ(Record(), "g: 1-2\n");
    // The next run begins where this one stopped.
    server.On("BODY 3", ScriptedReply::Text("222 3 <3@x>\r\n" + test::DotStuff(PictureArticle(
                                                                    Name(3), Jpeg("picture 3")))));
    Run();
    EXPECT_THAT(display.Pictures(), ElementsAreArray(Pictures(3, 40)));
    EXPECT_EQ(Record(), "g: 1-40\n");
}

TEST_F(FetchWorkerFlightTest, TheRecordKeepsEachRunToArticlesNotProcessedBefore) {
    AddPictures(1, 10);
    UseSettings(true, 4, 1, 0);
    Configure(server.Address(), {"g"});
    // A group's first run: its newest 4; the older ones are passed over for good.
    Run();
    EXPECT_THAT(display.Pictures(), ElementsAreArray(Pictures(7, 10)));
    EXPECT_EQ(Record(), "g: 1-10\n");
    // Nothing new: nothing fetched. Then two new articles: those only.
    Run();
    EXPECT_THAT(display.Pictures(), IsEmpty());
    spool.AddGroup("g", 1, 12);
    spool.AddArticle("g", 11, PictureArticle(Name(11), Jpeg("new 11")));
    spool.AddArticle("g", 12, PictureArticle(Name(12), Jpeg("new 12")));
    Run();
    EXPECT_THAT(display.Pictures(), ElementsAreArray(Pictures(11, 12)));
    EXPECT_THAT(Bodies(),
                ElementsAre("BODY 7", "BODY 8", "BODY 9", "BODY 10", "BODY 11", "BODY 12"));
    // The server numbered the group afresh: it is visited as on a first run, and the pictures
    // it brings again are recognised, not stored twice.
    test::WriteFile(CNewsrc::FileName(server.Address()), "g: 1-500\n");
    Run();
    EXPECT_THAT(display.Pictures(), IsEmpty());
    EXPECT_THAT(display.StatusTexts().back(), HasSubstr("0 pictures (4 more already collected)"));
    EXPECT_EQ(Record(), "g: 1-12\n");
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(FetchWorkerFlightTest, TheRecordOnDiskNeverClaimsAnArticleNotProcessed) {
    // Written every 300 articles while a group goes on: a crash costs at most those.
    spool.AddGroup("g", 1, 400);
    for (std::uint32_t n = 1; n <= 400; ++n) {
        spool.AddArticle("g", n, "a line\r\nand another\r\n");
    }
    // The reply to BODY 350 begins and then stalls, and with it every later one.
    server.On("BODY 350", ScriptedReply::SplitAt("222 350 <350@x>\r\na", {5}, 60s));
    UseSettings(true, 0, 1, 0);
    Configure(server.Address(), {"g"});
    worker.OnStart();
    ASSERT_TRUE(WaitForCommand("BODY 350"));
    // Articles up to 349 are processed meanwhile; the record says 300 until the next write.
    EXPECT_TRUE(WaitFor([&] { return Record() == "g: 1-300\n"; })) << Record();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Record(), "g: 1-300\n");
    worker.OnStop();
    ASSERT_TRUE(worker.WaitForRuns(1, RUN_TIMEOUT));
    EXPECT_EQ(Record(), "g: 1-349\n");
}

TEST_F(FetchWorkerFlightTest, TwoConnectionsShareAGroupAndKeepTheArticleOrder) {
    AddPictures(1, 20);
    SlowBodies(1, 20);  // so that the second connection gets its share
    UseSettings(true, 0, 2, 2);
    Configure(server.Address(), {"g"});
    Run();
    EXPECT_THAT(display.Pictures(), ElementsAreArray(Pictures(1, 20)));
    EXPECT_EQ(server.Connections(), 2);
    EXPECT_THAT(server.CommandsOf(1), Contains(::testing::StartsWith("BODY ")));
    const std::vector<std::string> bodies = Bodies();
    EXPECT_EQ(std::set<std::string>(bodies.begin(), bodies.end()).size(), 20u);
    EXPECT_EQ(bodies.size(), 20u);
}

TEST_F(FetchWorkerFlightTest, AServerThatAllowsOneConnectionIsServedByOne) {
    AddPictures(1, 10);
    SlowBodies(1, 10);  // so that the second connection is tried while the group goes on
    server.LimitConnections(1, ScriptedReply::CloseAfter("502 too many connections\r\n"));
    UseSettings(true, 0, 2, 2);
    Configure(server.Address(), {"g"});
    worker.OnStart();
    ASSERT_TRUE(worker.WaitForRuns(1, RUN_TIMEOUT));
    EXPECT_THAT(display.Pictures(), ElementsAreArray(Pictures(1, 10)));
    EXPECT_EQ(server.Connections(), 2) << console.Text();
    EXPECT_THAT(boxes.Texts(), IsEmpty());
    EXPECT_THAT(display.StatusTexts().back(), ::testing::StartsWith("Done: 1 group, 10 articles"));
}

TEST_F(FetchWorkerFlightTest, ACertificateTrustedDuringARunServesEveryConnection) {
    const test::TestCertificate certificate;
    server.UseTls(test::ScriptedNntpServer::Tls::Implicit, certificate);
    AddPictures(1, 40);
    SlowBodies(1, 40);
    UseSettings(true, 0, 2, 4);
    Configure("nntps://" + server.Address(), {"g"});
    boxes.AnswerQuestions(true);
    Run();
    EXPECT_EQ(boxes.Texts().size(), 1u);
    EXPECT_THAT(display.Pictures(), ElementsAreArray(Pictures(1, 40)));
    // The second connection was not refused over the same certificate: it fetched its share.
    EXPECT_THAT(server.CommandsOf(2), Contains(::testing::StartsWith("BODY ")));
}

TEST_F(FetchWorkerFlightTest, AnOverviewCutShortIsAskedForAgainNotDoneWithout) {
    AddPictures(1, 5);
    int overviews = 0;
    server.SetHandler([&, spooled = spool.Handler()](const std::string& command) {
        if (command.starts_with("OVER") && overviews++ == 0) {
            return ScriptedReply::CloseAfter("224 overview\r\n1\tp1.jpg\t");
        }
        return spooled(command);
    });
    UseSettings(true, 0, 1, 4);
    Configure(server.Address(), {"g"});
    Run();
    EXPECT_THAT(display.Pictures(), ElementsAreArray(Pictures(1, 5)));
    // Every article came with BODY alone: the overview was there for each of them.
    EXPECT_THAT(Bodies(), ElementsAre("BODY 1", "BODY 2", "BODY 3", "BODY 4", "BODY 5"));
}

}  // namespace

// The main window with the real worker against a scripted server: start-up in a fresh folder,
// a run until the first picture shows, Start and Stop following the run, the status line, a
// worker's message box over the window, and every way of leaving (Exit while idle, during a
// run, while the worker waits for the window or for a message box; Enter, Escape, the close
// box). Leaving must cut a run short, end the worker and leave the window untouched after.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "config/ConfigFile.h"
#include "config/PasswordFile.h"
#include "config/ServerSettings.h"
#include "fetch/ControlIds.h"
#include "platform/ProgramFolder.h"
#include "tests/support/Capture.h"
#include "tests/support/NewsSpool.h"
#include "tests/support/RunSettings.h"
#include "tests/support/ScriptedNntpServer.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/CErrorBoxPresenter.h"
#include "ui/CProgressBar.h"
#include "ui/CWebBrowser2.h"
#include "ui/CZarvoDlg.h"

namespace {

using namespace std::chrono_literals;
using test::EditText;
using test::ScriptedReply;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

class ZarvoDlgTest : public ::testing::Test {
protected:
    ZarvoDlgTest() {
        g_currentPicture = 0;
        platform::SetProgramFolder(folder.Folder());
        server.SetHandler(spool.Handler());
        test::WriteOneRequestAtATimeSettings();
    }

    void Configure(const std::string& host, const std::vector<std::string>& groups) {
        std::string text = host + "\n";
        for (const std::string& group : groups) {
            text += group + "\n";
        }
        test::WriteFile(folder.Path() / "zarvo.cfg", text + std::string(CONFIG_SEPARATOR) + "\n");
    }

    // The window as the program shows it.
    std::unique_ptr<CZarvoDlg> Open() {
        auto dialog = std::make_unique<CZarvoDlg>();
        dialog->show();
        return dialog;
    }

    static void Click(CZarvoDlg& dialog, int id) {
        QTest::mouseClick(test::Control<QPushButton>(dialog, id), Qt::LeftButton);
    }

    static bool WaitForRuns(CZarvoDlg& dialog, std::uint64_t runs) {
        return test::WaitUntil([&] { return dialog.Worker()->RunsDone() >= runs; });
    }

    test::TempDir folder{true};
    test::ConsoleCapture console;
    test::NewsSpool spool;
    test::ScriptedNntpServer server;
};

class ZarvoDlgRecordedTest : public ZarvoDlgTest {
protected:
    test::ErrorBoxRecorder boxes;
};

TEST_F(ZarvoDlgRecordedTest, StartsInAFreshFolderWithTheWorkerIdle) {
    std::filesystem::current_path("/");
    const auto dialog = Open();
    EXPECT_TRUE(dialog->IsInitialized());
    EXPECT_EQ(std::filesystem::current_path(), folder.Path());
    EXPECT_TRUE(std::filesystem::is_directory(folder.Path() / "images"));
    EXPECT_TRUE(std::filesystem::is_directory(folder.Path() / "tmp_dir"));
    EXPECT_EQ(dialog->ProgramFolder(), folder.Folder());
    EXPECT_EQ(dialog->Worker()->RunsDone(), 0u);
    EXPECT_EQ(dialog->windowTitle().toStdString(), "Zarvo");
    EXPECT_EQ(EditText(*dialog, IDC_PICTURE_COUNTER), "");
    EXPECT_THAT(boxes.Texts(), IsEmpty());
    EXPECT_EQ(server.Connections(), 0);
    // The first start says what to do, and offers only what can work.
    EXPECT_EQ(dialog->StatusLine().StatusText().toStdString(),
              "No news server yet: press Configure to choose one and pick newsgroups.");
    EXPECT_TRUE(test::Control<QPushButton>(*dialog, 1002)->isEnabled());
    for (const int id : {1010, 1011, 1012}) {  // Previous, Next, Delete File
        EXPECT_FALSE(test::Control<QPushButton>(*dialog, id)->isEnabled()) << id;
    }
    // Start opens Configure; once its Done has chosen a server and a group, the status line
    // says what Start does.
    std::string opened;
    test::OnNextModalWindow([&](QWidget* window) {
        ASSERT_NE(window, nullptr);
        opened = window->windowTitle().toStdString();
        Configure("news.example.com", {"alt.pictures"});
        qobject_cast<QDialog*>(window)->done(QDialog::Accepted);
    });
    Click(*dialog, 1002);
    EXPECT_EQ(opened, "Configuration Options");
    EXPECT_EQ(dialog->Worker()->RunsDone(), 0u);
    EXPECT_EQ(dialog->StatusLine().StatusText().toStdString(),
              "Ready: press Start to fetch 1 newsgroup from news.example.com.");
    EXPECT_THAT(boxes.Texts(), IsEmpty());

    // Folders that exist already are fine.
    dialog->OnExit();
    EXPECT_TRUE(Open()->IsInitialized());
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ZarvoDlgRecordedTest, StartShowsTheFirstPictureAtOneOfOne) {
    spool.AddGroup("alt.pics", 1, 3);
    spool.AddArticle("alt.pics", 1, "no picture here\r\n");
    spool.AddArticle("alt.pics", 2, test::PictureArticle("my cat #1.gif", "GIF89a one"));
    spool.AddArticle("alt.pics", 3, test::PictureArticle("dog.gif", "GIF89a two"));
    Configure(server.Address(), {"alt.pics"});
    g_currentPicture = 6;  // whatever an earlier run left
    const auto dialog = Open();
    std::vector<std::string> counters;
    QObject::connect(test::Control<QLineEdit>(*dialog, IDC_PICTURE_COUNTER),
                     &QLineEdit::textChanged,
                     [&](const QString& text) { counters.push_back(text.toStdString()); });
    Click(*dialog, 1002);  // Start
    ASSERT_TRUE(WaitForRuns(*dialog, 1));
    // A run's list starts at its first entry; the worker's Next shows the first picture at
    // 1 / 1; the second picture is only counted.
    EXPECT_THAT(counters, ElementsAre("0 / 0", "1 / 1", "1 / 2"));

    EXPECT_THAT(boxes.Texts(), IsEmpty());
    const std::string first = folder.Folder() + "images/alt.pics/my_cat_#1.gif";
    EXPECT_THAT(dialog->PictureBrowser().Pictures(),
                ElementsAre(first, folder.Folder() + "images/alt.pics/dog.gif"));
    // The first picture is on show; the second only counted.
    EXPECT_EQ(g_currentPicture, 0);
    EXPECT_EQ(EditText(*dialog, IDC_PICTURE_NAME), "my_cat_#1.gif");
    EXPECT_EQ(EditText(*dialog, IDC_PICTURE_COUNTER), "1 / 2");
    EXPECT_EQ(test::ReadFile(folder.Path() / "html_file.html"),
              CPictureBrowser::PageContent(first));
    EXPECT_EQ(test::Control<CWebBrowser2>(*dialog, 1009)->Address(),
              folder.Folder() + "html_file.html");
    EXPECT_EQ(EditText(*dialog, IDC_GROUP_NAME), "alt.pics");
    EXPECT_EQ(EditText(*dialog, IDC_GROUP_COUNTER), "1 / 1");
    EXPECT_EQ(EditText(*dialog, IDC_ARTICLE_COUNTER), "3 / 3");
    EXPECT_EQ(server.CommandsWithoutProbes().back(), "quit");

    // The picture's own name, with its blank and "#", reaches the view through the page.
    EXPECT_EQ(test::Control<CWebBrowser2>(*dialog, 1009)->PicturePath(), first);

    Click(*dialog, 1011);  // Next
    EXPECT_EQ(EditText(*dialog, IDC_PICTURE_NAME), "dog.gif");
    EXPECT_EQ(EditText(*dialog, IDC_PICTURE_COUNTER), "2 / 2");
    Click(*dialog, 1012);  // Delete File, on the last entry: the new last one shows
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / "images/alt.pics/dog.gif"));
    EXPECT_EQ(EditText(*dialog, IDC_PICTURE_NAME), "my_cat_#1.gif");
    EXPECT_EQ(EditText(*dialog, IDC_PICTURE_COUNTER), "1 / 1");
    EXPECT_FALSE(test::Control<QPushButton>(*dialog, 1011)->isEnabled());  // nowhere to go
    Click(*dialog, 1012);  // and on the only one: nothing shows
    EXPECT_FALSE(test::Control<QPushButton>(*dialog, 1012)->isEnabled());
    EXPECT_EQ(EditText(*dialog, IDC_PICTURE_NAME), "");
    EXPECT_EQ(EditText(*dialog, IDC_PICTURE_COUNTER), "0 / 0");
    EXPECT_EQ(test::Control<CWebBrowser2>(*dialog, 1009)->PicturePath(), "");
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ZarvoDlgRecordedTest, StopEndsTheRunBeforeTheNextArticle) {
    spool.AddGroup("first", 1, 40);
    spool.AddGroup("second", 1, 2);
    for (std::uint32_t n = 1; n <= 40; ++n) {
        spool.AddArticle("first", n, "text\r\n");
    }
    // Slow replies, so that Stop surely lands while the run is in its first articles.
    for (const char* number : {"3", "4"}) {
        server.On(std::string("HEAD ") + number,
                  ScriptedReply::SplitAt(
                      std::string("221 ") + number + " <n@x>\r\nSubject: s\r\n.\r\n", {5}, 300ms));
    }
    Configure(server.Address(), {"first", "second"});
    const auto dialog = Open();
    Click(*dialog, 1004);  // Stop while idle changes nothing
    Click(*dialog, 1002);
    ASSERT_TRUE(test::WaitUntil([&] { return server.CommandsWithoutProbes().size() >= 6; }));
    Click(*dialog, 1004);
    ASSERT_TRUE(WaitForRuns(*dialog, 1));
    const auto commands = server.CommandsWithoutProbes();
    EXPECT_THAT(commands, Not(Contains("GROUP  second")));
    EXPECT_THAT(commands, Not(Contains("HEAD 5")));
    // Stop cut the exchange under way.
    EXPECT_EQ(commands.back(), "HEAD 3");
    EXPECT_EQ(EditText(*dialog, IDC_GROUP_COUNTER), "0 / 2");
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ZarvoDlgRecordedTest, StartAndStopFollowTheRunAndTheStatusLineShowsTheWorkersText) {
    spool.AddGroup("stuck", 1, 1);
    server.On("GROUP  stuck", ScriptedReply::Silence());  // the run waits until Exit
    Configure(server.Address(), {"stuck"});
    const auto dialog = Open();
    auto* start = test::Control<QPushButton>(*dialog, 1002);
    auto* stop = test::Control<QPushButton>(*dialog, 1004);
    EXPECT_TRUE(start->isEnabled());
    EXPECT_FALSE(stop->isEnabled());
    Click(*dialog, 1002);
    EXPECT_FALSE(start->isEnabled());  // at once, before the worker says anything
    EXPECT_TRUE(stop->isEnabled());
    ASSERT_TRUE(test::WaitUntil([&] { return !server.CommandsWithoutProbes().empty(); }));

    // What the worker says, from its own thread; the text is longer than the line, which cuts
    // it short and keeps it whole in the tooltip.
    const std::string status = "Stopped: " + std::string(300, 'x') + " 1.2 MB/s";
    const auto fromWorker = [&](const std::function<void()>& call) {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            call();
            done = true;
        });
        EXPECT_TRUE(test::WaitUntil([&] { return done.load(); }));
        worker.join();
    };
    fromWorker([&] { dialog->SetRunning(true); });
    EXPECT_FALSE(start->isEnabled());
    EXPECT_TRUE(stop->isEnabled());
    fromWorker([&] {
        dialog->SetStatusText(status);
        dialog->SetRunning(false);
    });
    EXPECT_TRUE(start->isEnabled());
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_EQ(dialog->StatusLine().StatusText().toStdString(), status);
    EXPECT_EQ(dialog->StatusLine().toolTip().toStdString(), status);
    EXPECT_TRUE(dialog->StatusLine().text().endsWith(QChar(0x2026)));
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ZarvoDlgRecordedTest, ExitWhileIdleClosesAtOnce) {
    const auto dialog = Open();
    Click(*dialog, 2);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_TRUE(dialog->WorkerEnded());
}

TEST_F(ZarvoDlgRecordedTest, ExitDuringARunCutsItShortAndClosesTheWindow) {
    spool.AddGroup("stuck", 1, 3);
    spool.AddArticle("stuck", 1, "text\r\n");
    server.On("BODY 1", ScriptedReply::Silence());
    Configure(server.Address(), {"stuck"});
    const auto dialog = Open();
    Click(*dialog, 1002);
    ASSERT_TRUE(test::WaitUntil([&] { return server.CommandsWithoutProbes().size() >= 3; }));
    const std::string articles = EditText(*dialog, IDC_ARTICLE_COUNTER);
    Click(*dialog, 2);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(dialog->WorkerEnded());
    test::RunEventsFor(100ms);
    // No further command went out, and the window was left alone.
    EXPECT_THAT(server.CommandsWithoutProbes(), ElementsAre("GROUP  stuck", "HEAD 1", "BODY 1"));
    EXPECT_EQ(EditText(*dialog, IDC_ARTICLE_COUNTER), articles);
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ZarvoDlgRecordedTest, ExitWhileTheWorkerWaitsForTheWindowDoesNotDeadlock) {
    spool.AddGroup("many", 1, 500);
    for (std::uint32_t n = 1; n <= 500; ++n) {
        spool.AddArticle("many", n, "text\r\n");
    }
    Configure(server.Address(), {"many"});
    const auto dialog = Open();
    dialog->OnStart();
    ASSERT_TRUE(test::WaitUntil([&] { return server.CommandsWithoutProbes().size() >= 2; }));
    // This thread serves no events now: the worker is soon stuck in a display call that
    // waits for it. Exit must let it go rather than wait for it.
    std::this_thread::sleep_for(200ms);
    const std::size_t commands = server.CommandsWithoutProbes().size();
    dialog->OnExit();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(dialog->WorkerEnded());
    EXPECT_LE(server.CommandsWithoutProbes().size(), commands + 2);
    const std::string articles = EditText(*dialog, IDC_ARTICLE_COUNTER);
    test::RunEventsFor(100ms);
    EXPECT_EQ(EditText(*dialog, IDC_ARTICLE_COUNTER), articles);
}

TEST_F(ZarvoDlgTest, ExitWhileTheWorkerShowsAMessageBoxClosesTheBox) {
    CErrorBoxPresenter presenter;
    const int port = test::UnusedLoopbackPort();
    Configure("127.0.0.1:" + std::to_string(port), {"a.one", "b.two"});
    const auto dialog = Open();
    presenter.SetOwnerWindow(dialog.get());
    QObject::connect(dialog.get(), &CZarvoDlg::exiting, &presenter,
                     &CErrorBoxPresenter::ReleaseWorkers);
    dialog->OnStart();
    // The server cannot be reached: the run is over, and its box waits for the user over the
    // window, which stays usable meanwhile, with Start ready again.
    ASSERT_TRUE(test::WaitUntil([&] { return presenter.OpenWorkerBoxes() == 1; }));
    const QMessageBox* box = presenter.WorkerBoxes().front();
    EXPECT_EQ(box->text().toStdString(),
              "Couldn't connect to the news server 127.0.0.1, port " + std::to_string(port) +
                  ": the connection was refused (no news server listens on that port).");
    EXPECT_EQ(box->parentWidget(), dialog.get());
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(test::Control<QPushButton>(*dialog, 1002)->isEnabled());
    EXPECT_FALSE(test::Control<QPushButton>(*dialog, 1004)->isEnabled());

    dialog->OnExit();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(dialog->WorkerEnded());
    EXPECT_EQ(presenter.OpenWorkerBoxes(), 0u);
    test::RunEventsFor(100ms);
    EXPECT_EQ(presenter.OpenWorkerBoxes(), 0u);
}

TEST_F(ZarvoDlgRecordedTest, EnterEscapeAndTheCloseBoxActAsExit) {
    for (int way = 0; way < 3; ++way) {
        const auto dialog = Open();
        QLineEdit* edit = test::Control<QLineEdit>(*dialog, IDC_GROUP_NAME);
        edit->setFocus();
        if (way == 0) {
            QTest::keyClick(edit, Qt::Key_Return);
        } else if (way == 1) {
            QTest::keyClick(edit, Qt::Key_Escape);
        } else {
            dialog->close();
        }
        EXPECT_FALSE(dialog->isVisible()) << way;
        EXPECT_EQ(dialog->result(), QDialog::Accepted) << way;
        EXPECT_TRUE(dialog->WorkerEnded()) << way;
    }
    // Enter on a focused button is that button's, as on any dialog: on Exit it exits too.
    const auto dialog = Open();
    QTest::keyClick(test::Control<QPushButton>(*dialog, 2), Qt::Key_Return);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(ZarvoDlgRecordedTest, HelpKeyAndContextMenuOpenTheAboutBox) {
    const auto dialog = Open();
    std::string caption;
    test::OnNextModalWindow([&](QWidget* window) {
        ASSERT_NE(window, nullptr);
        caption = window->windowTitle().toStdString();
        window->close();
    });
    QTest::keyClick(test::Control<QWidget>(*dialog, IDC_GROUP_NAME), Qt::Key_F1);
    EXPECT_EQ(caption, "About Zarvo");
    EXPECT_TRUE(dialog->isVisible());

    // A right click offers the About entry, and it opens the box too.
    std::vector<std::string> entries;
    test::OnNextPopup([&](QMenu* menu) {
        ASSERT_NE(menu, nullptr);
        for (const QAction* action : menu->actions()) {
            entries.push_back(action->text().toStdString());
        }
        test::OnNextModalWindow([&](QWidget* window) {
            ASSERT_NE(window, nullptr);
            caption = window->windowTitle().toStdString();
            window->close();
        });
        menu->setActiveAction(menu->actions().front());
        QTest::keyClick(menu, Qt::Key_Return);
    });
    caption.clear();
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                            dialog->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(dialog.get(), &click);
    EXPECT_THAT(entries, ElementsAre("&About zarvo..."));
    EXPECT_EQ(caption, "About Zarvo");
}

TEST_F(ZarvoDlgRecordedTest, FailedStartUpLeavesAWindowThatStillCloses) {
    platform::SetProgramFolder(folder.Folder() + "missing");
    const auto dialog = Open();
    EXPECT_FALSE(dialog->IsInitialized());
    EXPECT_THAT(boxes.Texts(), ElementsAre("chdir failed"));
    EXPECT_EQ(dialog->Worker(), nullptr);
    dialog->OnStart();
    EXPECT_TRUE(test::Control<QPushButton>(*dialog, 1002)->isEnabled());  // nothing to run
    dialog->OnStop();
    EXPECT_FALSE(test::Control<QPushButton>(*dialog, 1011)->isEnabled());  // nothing to show
    Click(*dialog, 2);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_THAT(boxes.Texts(), ElementsAre("chdir failed"));
}

TEST_F(ZarvoDlgRecordedTest, StartHandsTheStoredPasswordToTheWorkerAndARefusedFileIsSaid) {
    spool.AddGroup("g", 1, 0);
    server.On("AUTHINFO USER alice", ScriptedReply::Text("381 more\r\n"));
    server.On("AUTHINFO PASS s3cret", ScriptedReply::Text("281 welcome\r\n"));
    Configure(server.Address(), {"g"});
    test::WriteFile(folder.Path() / SETTINGS_FILE_NAME,
                    "user=alice\nallow-unencrypted-password=1\nconnections=1\n");
    const std::string file = folder.Folder() + PASSWORD_FILE_NAME;
    std::string error;
    ASSERT_TRUE(WritePasswordFile(file, "s3cret", error));
    const auto dialog = Open();
    Click(*dialog, 1002);
    ASSERT_TRUE(WaitForRuns(*dialog, 1));
    EXPECT_THAT(server.CommandsWithoutProbes(),
                ElementsAre("AUTHINFO USER alice", "AUTHINFO PASS s3cret", "GROUP  g", "quit"));
    EXPECT_THAT(boxes.Texts(), IsEmpty());
    EXPECT_THAT(console.Text(), Not(::testing::HasSubstr("s3cret")));

    // A file that others can read is refused with its message, and the run goes without it.
    ::chmod(file.c_str(), 0644);
    Click(*dialog, 1002);
    ASSERT_TRUE(WaitForRuns(*dialog, 2));
    ASSERT_EQ(boxes.Texts().size(), 2u);
    EXPECT_THAT(boxes.Texts()[0], ::testing::HasSubstr("can be read or changed by other users"));
    EXPECT_EQ(boxes.Texts()[1],
              "The server asks for the password of alice. Enter it in Configure.");
    EXPECT_EQ(server.CommandsWithoutProbes().back(), "AUTHINFO USER alice");
}

TEST_F(ZarvoDlgRecordedTest, CountersBarsStatusAndCaptionTellOneStoryInEveryState) {
    CServerSettings settings;  // only what is new, one request at a time
    settings.firstRunNewest = 0;
    settings.connections = 1;
    settings.pipelineDepth = 1;
    std::string error;
    ASSERT_TRUE(WriteServerSettings(settings, error)) << error;
    spool.AddGroup("g", 1, 2);
    spool.AddArticle("g", 1, test::PictureArticle("one.gif", "GIF89a one"));
    spool.AddArticle("g", 2, test::PictureArticle("two.gif", "GIF89a two"));
    spool.AddGroup("h", 1, 0);
    const std::string unreachable = "127.0.0.1:" + std::to_string(test::UnusedLoopbackPort());
    const auto dialog = Open();
    std::uint64_t runs = 0;
    const auto click = [&](int id, bool wait) {
        Click(*dialog, id);
        if (wait) {
            ASSERT_TRUE(WaitForRuns(*dialog, ++runs));
        }
    };
    const auto statusIs = [&](const std::string& begin) {
        return test::WaitUntil(
            [&] { return dialog->StatusLine().StatusText().toStdString().starts_with(begin); });
    };
    const struct {
        const char* state;
        std::function<void()> bring;  // the window into the state
        std::string status;           // how the status line begins
        std::string groups;
        std::string articles;
        std::string pictures;
        int overall;  // the bars, in percent
        int group;
        std::string caption;
        bool idle;  // Start, not Stop
        bool next;
        bool remove;
    } states[] = {
        {"done",
         [&] {
             Configure(server.Address(), {"g", "h"});
             click(1002, true);
         },
         "Done: 2 groups, 2 articles, 2 pictures", "2 / 2", "0 / 0", "1 / 2", 100, 100, "Zarvo",
         true, true, true},
        // The earlier run's pictures stay on show, with their counter; the counts are this
        // run's.
        {"failed",
         [&] {
             Configure(unreachable, {"g", "h"});
             click(1002, true);
         },
         "Couldn't connect to the news server 127.0.0.1, port ", "0 / 2", "", "1 / 2", 0, 0,
         "Zarvo", true, true, true},
        {"nothing new",
         [&] {
             Configure(server.Address(), {"g", "h"});
             click(1002, true);
         },
         "Done, nothing new: 2 groups, 0 articles", "2 / 2", "0 / 0", "0 / 0", 100, 100, "Zarvo",
         true, false, false},
        {"start",
         [&] {
             server.SetGreeting(ScriptedReply::Silence());
             click(1002, false);
             ASSERT_TRUE(statusIs("Connecting to 127.0.0.1..."));
         },
         "Connecting to 127.0.0.1...", "0 / 2", "", "0 / 0", 0, 0, "Zarvo \xE2\x80\x94 0%", false,
         false, false},
        {"during",
         [&] {
             click(1004, true);
             server.SetGreeting(ScriptedReply::Text("200 ready\r\n"));
             spool.AddGroup("h", 1, 1);
             spool.AddArticle("h", 1, test::PictureArticle("three.gif", "GIF89a three"));
             server.On("BODY 1", ScriptedReply::Silence());
             click(1002, false);
             ASSERT_TRUE(statusIs("h: "));
         },
         "h: article 0 of 1, 0 pictures", "1 / 2", "0 / 1", "0 / 0", 50, 0,
         "Zarvo \xE2\x80\x94 50% \xE2\x80\x94 h", false, false, false},
        // Neither the group nor the run is over: the bars say so.
        {"stopped", [&] { click(1004, true); }, "Stopped: 1 group, 0 articles", "1 / 2", "0 / 1",
         "0 / 0", 50, 0, "Zarvo", true, false, false},
    };
    const auto percent = [&](int id) {
        const auto* bar = test::Control<CProgressBar>(*dialog, id);
        return static_cast<int>((bar->Position() - bar->Low()) * 100 / (bar->High() - bar->Low()));
    };
    for (const auto& s : states) {
        SCOPED_TRACE(s.state);
        s.bring();
        EXPECT_THAT(dialog->StatusLine().StatusText().toStdString(),
                    ::testing::StartsWith(s.status));
        EXPECT_EQ(EditText(*dialog, IDC_GROUP_COUNTER), s.groups);
        EXPECT_EQ(EditText(*dialog, IDC_ARTICLE_COUNTER), s.articles);
        EXPECT_EQ(EditText(*dialog, IDC_PICTURE_COUNTER), s.pictures);
        // A picture shows exactly when the counter counts one.
        EXPECT_EQ(test::Control<CWebBrowser2>(*dialog, 1009)->PicturePath().empty(),
                  s.pictures == "0 / 0");
        EXPECT_EQ(percent(IDC_OVERALL_PROGRESS), s.overall);
        EXPECT_EQ(percent(IDC_GROUP_PROGRESS), s.group);
        EXPECT_EQ(dialog->windowTitle().toStdString(), s.caption);
        EXPECT_EQ(test::Control<QPushButton>(*dialog, 1002)->isEnabled(), s.idle);
        EXPECT_EQ(test::Control<QPushButton>(*dialog, 1004)->isEnabled(), !s.idle);
        EXPECT_FALSE(test::Control<QPushButton>(*dialog, 1010)->isEnabled());  // at the first
        EXPECT_EQ(test::Control<QPushButton>(*dialog, 1011)->isEnabled(), s.next);
        EXPECT_EQ(test::Control<QPushButton>(*dialog, 1012)->isEnabled(), s.remove);
    }
    EXPECT_THAT(boxes.Texts(), ElementsAre(::testing::StartsWith(states[1].status)));
}

TEST_F(ZarvoDlgRecordedTest, TheRunLogKeepsEveryRunsEntriesNewestLastToCopy) {
    const auto dialog = Open();
    // From the worker's thread, as runs hand them.
    std::thread worker([&] {
        const auto now = std::chrono::system_clock::now();
        dialog->AddLogEntry({now, "alt.one", "needs a user name", "enter it in Configure"});
        dialog->AddLogEntry({now, "alt.two", "was cut short", ""});
    });
    ASSERT_TRUE(test::WaitUntil([&] { return dialog->RunLog().Count() == 2; }));
    worker.join();
    EXPECT_EQ(test::Control<QPushButton>(*dialog, 1031)->text().toStdString(), "Log (2)");
    Click(*dialog, 1031);
    EXPECT_TRUE(dialog->RunLog().isVisible());
    EXPECT_FALSE(dialog->RunLog().isModal());
    const std::string time = "[0-9]{2}:[0-9]{2}:[0-9]{2}\t";
    EXPECT_THAT(
        dialog->RunLog().Text().toStdString(),
        ::testing::MatchesRegex(time + "alt\\.one\tneeds a user name\tenter it in Configure\n" +
                                time + "alt\\.two\twas cut short\t"));
    // Ctrl+C copies the rows selected.
    auto* list = dialog->RunLog().findChild<QTreeWidget*>();
    list->topLevelItem(1)->setSelected(true);
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_THAT(QApplication::clipboard()->text().toStdString(),
                ::testing::MatchesRegex(time + "alt\\.two\twas cut short\t"));
}

}  // namespace

// The main window with the real worker against a scripted server: start-up in a fresh folder,
// a run until the first picture shows, Start and Stop following the run, the status line, a
// worker's message box over the window, and every way of leaving (Exit while idle, during a
// run, while the worker waits for the window or for a message box; Enter, Escape, the close
// box). Leaving must cut a run short, end the worker and leave the window untouched after.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <atomic>
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
    // The worker counts the first picture from the old position; Next, right after, shows it
    // at 1 / 1; the second picture is only counted.
    EXPECT_THAT(counters, ElementsAre("0 / 0", "7 / 1", "1 / 1", "1 / 2"));

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
    Click(*dialog, 1012);  // and on the only one: nothing shows
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
    EXPECT_EQ(EditText(*dialog, IDC_GROUP_COUNTER), "1 / 2");
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
    Configure("127.0.0.1:" + std::to_string(test::UnusedLoopbackPort()), {"a.one", "b.two"});
    const auto dialog = Open();
    presenter.SetOwnerWindow(dialog.get());
    QObject::connect(dialog.get(), &CZarvoDlg::exiting, &presenter,
                     &CErrorBoxPresenter::ReleaseWorkers);
    dialog->OnStart();
    // "CONNECT FAILED" waits for the user, over the window, which stays usable meanwhile.
    ASSERT_TRUE(test::WaitUntil([&] { return presenter.OpenWorkerBoxes() == 1; }));
    const QMessageBox* box = presenter.WorkerBoxes().front();
    EXPECT_EQ(box->text().toStdString(), "CONNECT FAILED");
    EXPECT_EQ(box->parentWidget(), dialog.get());
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    std::string shown;
    test::OnNextModalWindow([&](QWidget* window) {
        auto* box = qobject_cast<QMessageBox*>(window);
        ASSERT_NE(box, nullptr);
        shown = box->text().toStdString();
        box->done(QMessageBox::Ok);
    });
    Click(*dialog, 1011);  // Next, during the run: the window answers
    EXPECT_EQ(shown, "No pictures available yet...");
    EXPECT_EQ(presenter.OpenWorkerBoxes(), 1u);

    dialog->OnExit();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(dialog->WorkerEnded());
    EXPECT_EQ(presenter.OpenWorkerBoxes(), 0u);
    // The worker's later messages ("Open failed ...") never reach the screen.
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
    Click(*dialog, 1011);  // the browser works on its empty list
    Click(*dialog, 2);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_THAT(boxes.Texts(), ElementsAre("chdir failed", "No pictures available yet..."));
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

}  // namespace

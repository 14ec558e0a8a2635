// The configuration dialog: what it opens with (each available name once), Add's prefix rule,
// Remove, Fetch Newsgroups against a scripted server (twice, failing, over TLS with a certificate
// to trust, with a log-in, cancelled, and cut short by closing the dialog), Done and Cancel and
// what each leaves in zarvo.cfg and zarvo.settings, what to collect and its patterns, forgetting
// the deleted pictures, the password file, and a file with a line the lists refuse.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <utility>

#include "config/ConfigFile.h"
#include "config/PasswordFile.h"
#include "config/ServerSettings.h"
#include "decode/CContentIndex.h"
#include "tests/support/Capture.h"
#include "tests/support/NewsSpool.h"
#include "tests/support/ScriptedNntpServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificate.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/CConfigDlg.h"
#include "ui/CDialogUnits.h"
#include "ui/CPasswordStore.h"

namespace {

using test::ScriptedReply;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using Names = std::vector<std::string>;

const std::string SEP(CONFIG_SEPARATOR);
// A SHA-256 fingerprint of 32 bytes `byte`, in the form zarvo.settings keeps.
std::string Fingerprint(const std::string& byte) {
    std::string text = byte;
    for (int i = 1; i < 32; ++i) {
        text += ":" + byte;
    }
    return text;
}

class ConfigDlgTest : public ::testing::Test {
protected:
    ConfigDlgTest() { server.SetHandler(spool.Handler()); }

    // A fresh dialog, opened on the file as Configure opens it.
    std::unique_ptr<CConfigDlg> Open() {
        auto dialog = std::make_unique<CConfigDlg>();
        dialog->OnInitDialog();
        dialog->show();
        return dialog;
    }

    // Fetch Newsgroups, waited for until its outcome is shown.
    static void Fetch(CConfigDlg& dialog) {
        dialog.OnFetchNewsgroups();
        ASSERT_TRUE(test::WaitUntil([&dialog] { return !dialog.IsFetching(); }));
    }

    // The control after `widget` that Tab goes to.
    static QWidget* NextTabStop(QWidget* widget) {
        do {
            widget = widget->nextInFocusChain();
        } while ((widget->focusPolicy() & Qt::TabFocus) == 0 || widget->focusProxy() != nullptr);
        return widget;
    }

    // Where the scroll bar draws a part of itself.
    static QRect ScrollBarPart(const QScrollBar& bar, QStyle::SubControl part) {
        QStyleOptionSlider option;
        option.initFrom(&bar);
        option.orientation = bar.orientation();
        option.minimum = bar.minimum();
        option.maximum = bar.maximum();
        option.pageStep = bar.pageStep();
        option.singleStep = bar.singleStep();
        option.sliderPosition = bar.sliderPosition();
        option.sliderValue = bar.value();
        return bar.style()->subControlRect(QStyle::CC_ScrollBar, &option, part, &bar);
    }

    static void Select(CListBox& list, const std::string& name) {
        const int index = list.FindString(name);
        ASSERT_NE(index, CListBox::LB_ERR) << name;
        list.SetCurSel(index);
    }

    test::TempDir folder{true};
    test::ErrorBoxRecorder boxes;
    test::ConsoleCapture console;
    test::NewsSpool spool;
    test::TestCertificate certificate;  // outlives the server that may use it
    test::ScriptedNntpServer server;
};

TEST_F(ConfigDlgTest, OpensWithTheFileSortedWithoutRegardToCaseAndEachAvailableNameOnce) {
    // An older version wrote every fetched name again after each fetch.
    test::WriteFile("zarvo.cfg",
                    "news.example:1119\nb.two\nA.one\n" + SEP + "\nc\nB\na\nB\nb\nc\n");
    const auto dialog = Open();
    EXPECT_EQ(dialog->ServerText(), "news.example:1119");
    EXPECT_THAT(dialog->SelectedList().Names(), ElementsAre("A.one", "b.two"));
    EXPECT_THAT(dialog->AvailableList().Names(), ElementsAre("a", "B", "b", "c"));
    // One by one, as after the dialog has opened, a listed name is taken and not listed again.
    EXPECT_TRUE(dialog->AddAvailable("B"));
    EXPECT_EQ(dialog->AvailableList().GetCount(), 4);
    EXPECT_EQ(dialog->focusWidget(), dialog->findChild<QWidget*>("1"));  // Done
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ConfigDlgTest, WithoutAFileItOpensEmpty) {
    const auto dialog = Open();
    EXPECT_EQ(dialog->ServerText(), "");
    EXPECT_EQ(dialog->SelectedList().GetCount(), 0);
    EXPECT_EQ(dialog->AvailableList().GetCount(), 0);
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ConfigDlgTest, AddRefusesNamesThatASelectedEntryBeginsWith) {
    test::WriteFile("zarvo.cfg", "host\na.b.c\n" + SEP + "\nA.B\nA.B.C\na.b.c.d\nalt.x\nzz\n");
    const auto dialog = Open();
    CListBox& available = dialog->AvailableList();
    CListBox& selected = dialog->SelectedList();

    dialog->OnAdd();           // nothing chosen: nothing happens
    Select(available, "A.B");  // a.b.c begins with it, case aside
    dialog->OnAdd();
    Select(available, "A.B.C");  // the selected name itself, in another case
    dialog->OnAdd();
    EXPECT_THAT(selected.Names(), ElementsAre("a.b.c"));

    Select(available, "a.b.c.d");  // longer than the selected name: it may join
    dialog->OnAdd();
    Select(available, "zz");
    dialog->OnAdd();
    Select(available, "alt.x");
    dialog->OnAdd();
    EXPECT_THAT(selected.Names(), ElementsAre("a.b.c", "a.b.c.d", "alt.x", "zz"));
    // Add leaves the name in the Available list.
    EXPECT_EQ(available.GetCount(), 5);
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ConfigDlgTest, RemoveTakesOnlyTheSelectedEntryAndGivesNothingBack) {
    test::WriteFile("zarvo.cfg", "host\none\ntwo\n" + SEP + "\nthree\n");
    const auto dialog = Open();
    CListBox& selected = dialog->SelectedList();
    dialog->OnRemove();  // nothing chosen
    EXPECT_EQ(selected.GetCount(), 2);
    Select(selected, "two");
    dialog->OnRemove();
    EXPECT_THAT(selected.Names(), ElementsAre("one"));
    EXPECT_THAT(dialog->AvailableList().Names(), ElementsAre("three"));
}

TEST_F(ConfigDlgTest, FetchNewsgroupsTwiceListsEachGroupOnceAndDisconnectsEachTime) {
    spool.AddGroup("alt.pictures", 1, 10);
    spool.AddGroup("Comp.Graphics", 5, 7);
    test::WriteFile("zarvo.cfg", "x\nchosen\n" + SEP + "\nalt.cached\nalt.pictures\n");
    const auto dialog = Open();
    dialog->SetServerText(server.Address());
    Fetch(*dialog);
    Fetch(*dialog);

    // The server's list replaces the cached one; the selection is kept as it is.
    EXPECT_THAT(dialog->AvailableList().Names(), ElementsAre("alt.pictures", "Comp.Graphics"));
    EXPECT_EQ(dialog->FetchStatus().text(), "2 groups");
    EXPECT_THAT(dialog->SelectedList().Names(), ElementsAre("chosen"));
    EXPECT_EQ(dialog->ServerText(), server.Address());
    // Each fetch ends its session with quit instead of leaving the connection open.
    EXPECT_THAT(server.Commands(), ElementsAre("LIST", "quit", "LIST", "quit"));
    EXPECT_EQ(server.Connections(), 2);
    EXPECT_THAT(boxes.Texts(), IsEmpty());

    dialog->OnDone();  // writes each name once
    EXPECT_EQ(test::ReadFile("zarvo.cfg"),
              server.Address() + "\nchosen\n" + SEP + "\nalt.pictures\nComp.Graphics\n");
}

TEST_F(ConfigDlgTest, FetchNewsgroupsSkipsNamesTheListRefusesAndCountsTheRest) {
    std::string list = "215 list follows\r\ngood.one 2 1 y\r\nbad\x01name 2 1 y\r\n";
    for (int i = 1; i < 1000; ++i) {
        list += "g." + std::to_string(i) + " 2 1 y\r\n";
    }
    server.On("LIST", test::ScriptedReply::Text(list + ".\r\n"));
    const auto dialog = Open();
    dialog->SetServerText(server.Address());
    Fetch(*dialog);
    EXPECT_EQ(dialog->AvailableList().GetCount(), 1000);
    EXPECT_TRUE(dialog->AvailableList().Contains("good.one"));
    EXPECT_EQ(dialog->FetchStatus().text(), "1,000 groups");
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ConfigDlgTest, FetchNewsgroupsFailuresLeaveTheListsAsTheyWere) {
    test::WriteFile("zarvo.cfg", "x\nchosen\n" + SEP + "\nalt.cached\n");
    server.On("LIST", test::ScriptedReply::Text("502 no list for you\r\n"));
    const auto dialog = Open();
    dialog->SetServerText("");
    Fetch(*dialog);  // no server named
    const int unused = test::UnusedLoopbackPort();
    dialog->SetServerText("127.0.0.1:" + std::to_string(unused));
    Fetch(*dialog);
    dialog->SetServerText(server.Address());
    Fetch(*dialog);
    // The host, the port and the reason.
    EXPECT_THAT(boxes.Texts(),
                ElementsAre("Please enter your news server name (usually 'news')",
                            "Couldn't connect to the news server 127.0.0.1, port " +
                                std::to_string(unused) +
                                ": the connection was refused (no news server listens on "
                                "that port).",
                            "Couldn't fetch the list of newsgroups..."));
    EXPECT_THAT(dialog->AvailableList().Names(), ElementsAre("alt.cached"));
    EXPECT_THAT(dialog->SelectedList().Names(), ElementsAre("chosen"));
    // The wait cursor is gone again after every failure.
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(ConfigDlgTest, FetchNewsgroupsFromASilentServerShowsItsSecondsAndCancelEndsItAsItWas) {
    test::WriteFile("zarvo.cfg", "x\nchosen\n" + SEP + "\nalt.cached\n");
    server.On("LIST", ScriptedReply::Silence());
    const auto dialog = Open();
    dialog->SetServerText(server.Address());
    dialog->OnFetchNewsgroups();
    ASSERT_TRUE(server.WaitForCommands(1));
    // The dialog goes on meanwhile: its progress line counts the seconds, a field takes keys.
    const QString progress = "Fetching the list of newsgroups from 127.0.0.1\u2026";
    EXPECT_THAT(dialog->FetchStatus().text().toStdString(),
                ::testing::StartsWith(progress.toStdString()));
    ASSERT_TRUE(test::WaitUntil([&] { return dialog->FetchStatus().text() == progress + " 1 s"; }));
    QTest::keyClicks(&dialog->UserNameField(), "bob");
    EXPECT_EQ(dialog->UserNameField().text(), "bob");
    auto* fetch = test::Control<QPushButton>(*dialog, 1012);
    auto* cancel = test::Control<QPushButton>(*dialog, CConfigDlg::IDC_CANCEL_FETCH);
    EXPECT_FALSE(fetch->isEnabled());
    ASSERT_TRUE(cancel->isVisible());
    EXPECT_LE(cancel->sizeHint().width(), cancel->width());

    QTest::mouseClick(cancel, Qt::LeftButton);
    // Long before the session's time-out of a minute.
    ASSERT_TRUE(test::WaitUntil([&] { return !dialog->IsFetching(); }, std::chrono::seconds{5}));
    EXPECT_EQ(dialog->FetchStatus().text(), "Cancelled; the list of newsgroups is as it was.");
    EXPECT_THAT(dialog->AvailableList().Names(), ElementsAre("alt.cached"));
    EXPECT_THAT(dialog->SelectedList().Names(), ElementsAre("chosen"));
    EXPECT_TRUE(fetch->isEnabled());
    EXPECT_FALSE(cancel->isVisible());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ConfigDlgTest, ClosingTheDialogDuringAFetchCancelsItAndLeavesTheListAsItWas) {
    server.On("LIST", ScriptedReply::Silence());
    const auto lists = [this] {
        const std::vector<std::string> commands = server.Commands();
        return std::count(commands.begin(), commands.end(), "LIST");
    };
    for (int way = 0; way < 4; ++way) {
        test::WriteFile("zarvo.cfg", "x\nchosen\n" + SEP + "\nalt.cached\n");
        const auto dialog = Open();
        dialog->SetServerText(server.Address());
        dialog->OnFetchNewsgroups();
        ASSERT_TRUE(test::WaitUntil([&] { return lists() == way + 1; })) << way;
        if (way == 0) {
            QTest::mouseClick(dialog->findChild<QWidget*>("2"), Qt::LeftButton);  // Cancel
        } else if (way == 1) {
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
        } else if (way == 2) {
            dialog->close();
        } else {
            dialog->OnDone();
        }
        // Closed at once, with the fetch's thread gone and its list never shown.
        EXPECT_FALSE(dialog->isVisible()) << way;
        EXPECT_FALSE(dialog->IsFetching()) << way;
        EXPECT_EQ(dialog->result(), way == 3 ? QDialog::Accepted : QDialog::Rejected) << way;
        test::RunEventsFor(std::chrono::milliseconds{50});
        EXPECT_THAT(dialog->AvailableList().Names(), ElementsAre("alt.cached")) << way;
        EXPECT_EQ(dialog->FetchStatus().text(), "") << way;
    }
    EXPECT_EQ(test::ReadFile("zarvo.cfg"),
              server.Address() + "\nchosen\n" + SEP + "\nalt.cached\n");  // Done's
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ConfigDlgTest, ForgetDeletedPicturesCountsThemAsksAndForgetsThemOffTheWindowsThread) {
    std::filesystem::create_directories("images/g");
    test::WriteFile("images/g/kept.jpg", "a picture that stays");
    test::WriteFile("images/g/deleted.jpg", "a picture the user deletes");
    std::string error;
    ASSERT_TRUE(CContentIndex().Open(CONTENT_INDEX_FILE_NAME, "images", error)) << error;
    std::filesystem::remove("images/g/deleted.jpg");
    // The index as a later run reads it: pictures remembered, and of them deleted.
    const auto remembered = [] {
        CContentIndex index;
        std::string error;
        EXPECT_TRUE(index.Open(CONTENT_INDEX_FILE_NAME, "images", error)) << error;
        return std::pair{index.Size(), index.CountMissing()};
    };
    const std::string question =
        "? Forget the 1 picture you deleted? Reposts of it will be collected again.";
    const struct {
        bool yes;
        std::string told;
        std::size_t remembered, deleted, questions;
    } clicks[] = {
        {false, "1 picture you deleted is still remembered.", 2, 1, 1},
        {true, "Forgot 1 picture.", 1, 0, 2},
        {true, "No deleted pictures are remembered.", 1, 0, 2},  // nothing to ask
    };
    const auto dialog = Open();
    auto* forget = test::Control<QPushButton>(*dialog, CConfigDlg::IDC_FORGET_DELETED);
    ASSERT_NE(forget, nullptr);
    EXPECT_EQ(forget->text(), "Forget deleted pictures\u2026");
    for (const auto& click : clicks) {
        boxes.AnswerQuestions(click.yes);
        QTest::mouseClick(forget, Qt::LeftButton);
        EXPECT_EQ(dialog->ForgetStatus().text(), "Counting the deleted pictures\u2026");
        EXPECT_FALSE(forget->isEnabled());
        ASSERT_TRUE(test::WaitUntil([&] { return !dialog->IsForgetting(); }));
        EXPECT_EQ(dialog->ForgetStatus().text().toStdString(), click.told);
        EXPECT_TRUE(forget->isEnabled());
        EXPECT_EQ(remembered(), std::pair(click.remembered, click.deleted)) << click.told;
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>(click.questions, question));
    }
}

TEST_F(ConfigDlgTest, DoneWritesTheListsInTheirOrder) {
    test::WriteFile("zarvo.cfg", "old\n" + SEP + "\n");
    const auto dialog = Open();
    dialog->SetServerText(" news.example ");  // taken as typed, blanks and all
    dialog->AvailableList().AddStrings({"zeta", "Alpha", "beta"});
    Select(dialog->AvailableList(), "beta");
    dialog->OnAdd();
    Select(dialog->AvailableList(), "Alpha");
    dialog->OnAdd();
    dialog->OnDone();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(test::ReadFile("zarvo.cfg"),
              " news.example \nAlpha\nbeta\n" + SEP + "\nAlpha\nbeta\nzeta\n");
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ConfigDlgTest, DoneWithoutSelectedGroupsWarnsAndWritesAllTheSame) {
    const auto dialog = Open();
    dialog->SetServerText("news");
    dialog->OnDone();
    EXPECT_THAT(boxes.Texts(), ElementsAre("No Newsgroups selected"));
    EXPECT_EQ(test::ReadFile("zarvo.cfg"), "news\n" + SEP + "\n");
}

TEST_F(ConfigDlgTest, DoneWithAnEmptyServerFieldWritesNothing) {
    const std::string before = "host\na\n" + SEP + "\nb\n";
    test::WriteFile("zarvo.cfg", before);
    const auto dialog = Open();
    Select(dialog->AvailableList(), "b");
    dialog->OnAdd();
    dialog->SetServerText("");
    dialog->OnDone();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(test::ReadFile("zarvo.cfg"), before);

    // Without a file it creates none.
    std::filesystem::remove("zarvo.cfg");
    Open()->OnDone();
    EXPECT_FALSE(std::filesystem::exists("zarvo.cfg"));
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ConfigDlgTest, CancelEscapeAndTheCloseBoxWriteNothing) {
    const std::string before = "host\na\n" + SEP + "\nb\nc\n";
    test::WriteFile("zarvo.cfg", before);
    for (int way = 0; way < 3; ++way) {
        const auto dialog = Open();
        dialog->SetServerText("another.host");
        Select(dialog->AvailableList(), "c");
        dialog->OnAdd();
        Select(dialog->SelectedList(), "a");
        dialog->OnRemove();
        if (way == 0) {
            QTest::mouseClick(dialog->findChild<QWidget*>("2"), Qt::LeftButton);  // Cancel
        } else if (way == 1) {
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
        } else {
            dialog->close();
        }
        EXPECT_FALSE(dialog->isVisible()) << way;
        EXPECT_EQ(dialog->result(), QDialog::Rejected) << way;
        EXPECT_EQ(test::ReadFile("zarvo.cfg"), before) << way;
    }
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ConfigDlgTest, EnterInTheServerFieldFetchesTheNewsgroupsAndInAnotherFieldIsDone) {
    spool.AddGroup("alt.pictures", 1, 10);
    const auto dialog = Open();
    dialog->SetServerText(server.Address());
    dialog->NewsServerField().setFocus();
    QTest::keyClick(&dialog->NewsServerField(), Qt::Key_Return);
    ASSERT_TRUE(test::WaitUntil([&] { return !dialog->IsFetching(); }));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_THAT(dialog->AvailableList().Names(), ElementsAre("alt.pictures"));
    EXPECT_FALSE(std::filesystem::exists("zarvo.cfg"));

    dialog->UserNameField().setFocus();
    QTest::keyClick(&dialog->UserNameField(), Qt::Key_Enter);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(test::ReadFile("zarvo.cfg"), server.Address() + "\n" + SEP + "\nalt.pictures\n");
    EXPECT_THAT(boxes.Texts(), ElementsAre("No Newsgroups selected"));
}

TEST_F(ConfigDlgTest, LineWithAControlCharacterIsSkippedAndDoneWritesWhatTheDialogShows) {
    const std::string before = "host\nchosen\n" + SEP + "\nkept\nbroken\x01line\nalso.read\n";
    test::WriteFile("zarvo.cfg", before);
    const auto dialog = Open();
    EXPECT_THAT(boxes.Texts(),
                ElementsAre("Line 5 of zarvo.cfg was skipped: a newsgroup name cannot hold a TAB "
                            "or another control character. The rest of the file was read; Done "
                            "saves the configuration without that line."));
    EXPECT_EQ(test::ReadFile("zarvo.cfg"), before);
    EXPECT_EQ(dialog->ServerText(), "host");
    EXPECT_THAT(dialog->SelectedList().Names(), ElementsAre("chosen"));
    EXPECT_THAT(dialog->AvailableList().Names(), ElementsAre("also.read", "kept"));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    dialog->OnDone();
    EXPECT_EQ(test::ReadFile("zarvo.cfg"), "host\nchosen\n" + SEP + "\nalso.read\nkept\n");
}

TEST_F(ConfigDlgTest, ResizedItGivesTheRoomToTheListsAndKeepsDoneAndCancelInTheCorner) {
    Names names;  // a large provider's list
    for (int i = 0; i < 150000; ++i) {
        names.push_back("alt.group" + std::to_string(i));
    }
    const auto dialog = Open();
    CListBox& available = dialog->AvailableList();
    CListBox& selected = dialog->SelectedList();
    available.AddStrings(names);
    selected.AddStrings(Names(names.begin(), names.begin() + 500));
    const CDialogUnits units = CDialogUnits::FromFont(dialog->font());
    const QSize opened = dialog->size();
    EXPECT_EQ(opened, QSize(units.ToPixelsX(377), units.ToPixelsY(493)));
    const QRect availableOpened = available.geometry();
    const int listsOpened = available.height() + selected.height();
    QWidget* done = dialog->findChild<QWidget*>("1");
    QWidget* cancel = dialog->findChild<QWidget*>("2");
    const QPoint corner(opened.width() - cancel->geometry().right(),
                        opened.height() - cancel->geometry().bottom());
    const struct {
        QSize size;
        std::string filter;
    } cases[] = {
        {opened, ""},
        {opened + QSize(300, 401), ""},
        {dialog->minimumSize(), ""},
        {opened + QSize(0, 100), "group1499"},  // 111 names
    };
    for (const auto& c : cases) {
        dialog->resize(c.size);
        dialog->FilterField().setText(QString::fromStdString(c.filter));
        QApplication::processEvents();  // the views lay their rows out
        ASSERT_EQ(dialog->size(), c.size);
        const int wider = c.size.width() - opened.width();
        const int taller = c.size.height() - opened.height();
        EXPECT_EQ(available.width(), availableOpened.width() + wider);
        EXPECT_EQ(available.height() + selected.height(), listsOpened + taller);
        EXPECT_LE(std::abs(available.height() - selected.height()), 1);
        EXPECT_EQ(QPoint(c.size.width() - cancel->geometry().right(),
                         c.size.height() - cancel->geometry().bottom()),
                  corner);
        EXPECT_EQ(done->y(), cancel->y());
        EXPECT_LT(done->geometry().right(), cancel->x());
        // No two controls overlap, each text below the lists fits its control, and all is
        // inside the dialog, the bands below the lists.
        const QList<QWidget*> all = dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        for (auto one = all.begin(); one != all.end(); ++one) {
            const QString name = (*one)->objectName() + " " + (*one)->property("text").toString();
            EXPECT_TRUE(dialog->rect().contains((*one)->geometry())) << name.toStdString();
            if ((*one)->y() > selected.y() && (qobject_cast<QLabel*>(*one) != nullptr ||
                                               qobject_cast<QAbstractButton*>(*one) != nullptr)) {
                EXPECT_LE((*one)->sizeHint().width(), (*one)->width()) << name.toStdString();
            }
            for (auto other = one + 1; other != all.end(); ++other) {
                EXPECT_FALSE((*one)->isVisible() && (*other)->isVisible() &&
                             (*one)->geometry().intersects((*other)->geometry()))
                    << name.toStdString() << " and " << (*other)->objectName().toStdString();
            }
        }
        EXPECT_GT(dialog->PortField().y(), selected.geometry().bottom());
        // Dragged to the end of its track, each list's thumb shows the last name, whole.
        for (CListBox* list : {&available, &selected}) {
            QScrollBar& bar = *list->verticalScrollBar();
            const QPoint thumb = ScrollBarPart(bar, QStyle::SC_ScrollBarSlider).center();
            QTest::mousePress(&bar, Qt::LeftButton, {}, thumb);
            QTest::mouseMove(&bar, {thumb.x(), bar.height() + 50});
            QTest::mouseRelease(&bar, Qt::LeftButton, {}, {thumb.x(), bar.height() + 50});
            const int rows = list->model()->rowCount();
            EXPECT_EQ(ScrollBarPart(bar, QStyle::SC_ScrollBarSlider).bottom(),
                      ScrollBarPart(bar, QStyle::SC_ScrollBarGroove).bottom());
            EXPECT_TRUE(list->viewport()->rect().contains(
                list->visualRect(list->model()->index(rows - 1, 0))))
                << rows << " rows";
        }
    }
    // The designed controls keep their tab order, with the filter before its list; the fields
    // below follow Remove.
    QWidget* next = &dialog->NewsServerField();
    for (int id :
         {1012, CConfigDlg::IDC_CANCEL_FETCH, CConfigDlg::IDC_FILTER, 1014, 1015, 1016, 1017}) {
        next = NextTabStop(next);
        EXPECT_EQ(next->objectName().toInt(), id);
    }
    for (int id = CConfigDlg::IDC_PORT; id <= CConfigDlg::IDC_FORGET_DELETED; ++id) {
        next = NextTabStop(next);
        ASSERT_EQ(next->objectName().toInt(), id);
    }
    EXPECT_EQ(NextTabStop(next), done);
    EXPECT_EQ(dialog->PasswordField().echoMode(), QLineEdit::Password);
    EXPECT_TRUE(dialog->SkipPostersField().tabChangesFocus());
}

TEST_F(ConfigDlgTest, TheFilterShowsNamesHoldingItsTextOrMatchingItsWildmatInAnyCase) {
    const std::string books =
        "de.alt.b\xC3\xBC"
        "cher";
    const Names all = {"alt.bin.x",     "alt.binaries.pictures", "Alt.Pictures.Cats",
                       "comp.graphics", "de.alt.Bilder",         books,
                       "rec.arts.sf"};
    std::string file = "host\n" + SEP + "\n";
    for (const std::string& name : all) {
        file += name + "\n";
    }
    test::WriteFile("zarvo.cfg", file);
    const struct {
        const char* typed;
        Names shown;
    } cases[] = {
        {"", all},
        {"pict", {"alt.binaries.pictures", "Alt.Pictures.Cats"}},
        {"PiCT", {"alt.binaries.pictures", "Alt.Pictures.Cats"}},
        {"  cats ", {"Alt.Pictures.Cats"}},
        {"alt.",
         {"alt.bin.x", "alt.binaries.pictures", "Alt.Pictures.Cats", "de.alt.Bilder", books}},
        // A wildmat matches whole names.
        {"ALT.*", {"alt.bin.x", "alt.binaries.pictures", "Alt.Pictures.Cats"}},
        {"*alt*",
         {"alt.bin.x", "alt.binaries.pictures", "Alt.Pictures.Cats", "de.alt.Bilder", books}},
        {"alt.bin.?", {"alt.bin.x"}},
        {"alt.bin", {"alt.bin.x", "alt.binaries.pictures"}},
        {"*.B?CHER", {books}},  // "?" is one character, of two bytes here
        {"*.pictures,*.cats", {"alt.binaries.pictures", "Alt.Pictures.Cats"}},
        {"*,!alt.*", {"comp.graphics", "de.alt.Bilder", books, "rec.arts.sf"}},
        {"!alt.*", {}},
        {"a,b", {}},  // no wildmat without * or ?
        {"nothing", {}},
    };
    const auto dialog = Open();
    for (const auto& c : cases) {
        dialog->FilterField().clear();
        QTest::keyClicks(&dialog->FilterField(), c.typed);
        EXPECT_EQ(dialog->AvailableList().ShownNames(), c.shown) << c.typed;
        EXPECT_EQ(dialog->AvailableList().Names(), all) << c.typed;
    }
    EXPECT_EQ(dialog->SelectedList().GetCount(), 0);
}

TEST_F(ConfigDlgTest, AddAndRemoveTakeWhatTheFilteredListShowsAndDoneWritesTheWholeList) {
    spool.AddGroup("alt.pictures.new", 1, 10);
    spool.AddGroup("comp.new", 1, 10);
    test::WriteFile("zarvo.cfg",
                    "host\nkept\n" + SEP + "\nalt.binaries.pictures\nAlt.Pictures.Cats\ncomp.x\n");
    const auto dialog = Open();
    CListBox& available = dialog->AvailableList();
    CListBox& selected = dialog->SelectedList();
    QTest::keyClicks(&dialog->FilterField(), "pict");
    // A hidden name cannot be chosen; a shown one stays chosen while the filter shows it.
    available.SetCurSel(available.FindString("comp.x"));
    EXPECT_EQ(available.GetCurSel(), CListBox::LB_ERR);
    dialog->OnAdd();
    Select(available, "Alt.Pictures.Cats");
    QTest::keyClicks(&dialog->FilterField(), "ures.c");
    EXPECT_THAT(available.ShownNames(), ElementsAre("Alt.Pictures.Cats"));
    dialog->OnAdd();
    dialog->FilterField().setText("bin");
    EXPECT_EQ(available.GetCurSel(), CListBox::LB_ERR);
    Select(available, "alt.binaries.pictures");
    dialog->OnAdd();
    // Selected shows everything it holds, whatever the filter.
    EXPECT_THAT(selected.ShownNames(),
                ElementsAre("alt.binaries.pictures", "Alt.Pictures.Cats", "kept"));
    Select(selected, "kept");
    dialog->OnRemove();
    EXPECT_THAT(selected.Names(), ElementsAre("alt.binaries.pictures", "Alt.Pictures.Cats"));

    // Names that come one by one, or a fetched list, are filtered as they come.
    dialog->FilterField().setText("PICT");
    Select(available, "alt.binaries.pictures");
    EXPECT_TRUE(dialog->AddAvailable("a.pictures"));
    EXPECT_TRUE(dialog->AddAvailable("a.other"));
    EXPECT_THAT(available.ShownNames(),
                ElementsAre("a.pictures", "alt.binaries.pictures", "Alt.Pictures.Cats"));
    EXPECT_EQ(available.GetText(available.GetCurSel()), "alt.binaries.pictures");
    dialog->SetServerText(server.Address());
    Fetch(*dialog);
    EXPECT_THAT(available.ShownNames(), ElementsAre("alt.pictures.new"));
    EXPECT_EQ(dialog->FetchStatus().text(), "2 groups");
    dialog->OnDone();
    EXPECT_EQ(test::ReadFile("zarvo.cfg"), server.Address() +
                                               "\nalt.binaries.pictures\nAlt.Pictures.Cats\n" +
                                               SEP + "\nalt.pictures.new\ncomp.new\n");
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ConfigDlgTest, DoubleClickAndEnterOnANameAddOrRemoveItAndTypingGoesToTheFilter) {
    test::WriteFile("zarvo.cfg", "host\nx\ny\n" + SEP + "\na\nb\nc\n");
    const auto dialog = Open();
    CListBox& available = dialog->AvailableList();
    CListBox& selected = dialog->SelectedList();
    const auto doubleClick = [](CListBox& list, const std::string& name) {
        const int row = list.model()
                            ->match(list.model()->index(0, 0), Qt::DisplayRole,
                                    QString::fromStdString(name), 1, Qt::MatchExactly)
                            .front()
                            .row();
        const QPoint at = list.visualRect(list.model()->index(row, 0)).center();
        // As a mouse gives it: a click, then the second press as a double click.
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
    };
    doubleClick(available, "b");
    available.setFocus();
    Select(available, "c");
    QTest::keyClick(&available, Qt::Key_Return);
    EXPECT_THAT(selected.Names(), ElementsAre("b", "c", "x", "y"));
    doubleClick(selected, "x");
    selected.setFocus();
    Select(selected, "b");
    QTest::keyClick(&selected, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_THAT(selected.Names(), ElementsAre("c", "y"));
    // Enter with nothing chosen does nothing, and never closes the dialog.
    selected.SetCurSel(CListBox::LB_ERR);
    QTest::keyClick(&selected, Qt::Key_Return);
    EXPECT_THAT(selected.Names(), ElementsAre("c", "y"));
    EXPECT_TRUE(dialog->isVisible());

    // Typed in Available, keys go to the filter; Enter there goes back to the first name shown,
    // and Enter again adds it.
    available.setFocus();
    QTest::keyClicks(&available, "A");
    EXPECT_EQ(dialog->FilterField().text(), "A");
    EXPECT_EQ(dialog->focusWidget(), &dialog->FilterField());
    QTest::keyClick(&dialog->FilterField(), Qt::Key_Return);
    EXPECT_EQ(dialog->focusWidget(), &available);
    EXPECT_EQ(available.GetText(available.GetCurSel()), "a");
    QTest::keyClick(&available, Qt::Key_Return);
    EXPECT_THAT(selected.Names(), ElementsAre("a", "c", "y"));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ConfigDlgTest, ServerLinesOldAndNewFillTheFieldsAndStayAsTheyWereWhenSaved) {
    const struct {
        std::string line;
        std::string settings;
        std::string host;
        std::string port;
        std::string security;
        std::string portHint;
    } cases[] = {
        {"news.example", "", "news.example", "", "None", "119"},
        {"news.example:1119", "", "news.example", "1119", "None", "119"},
        {"[::1]:1119", "", "::1", "1119", "None", "119"},
        {"nntps://news.example", "", "news.example", "", "TLS", "563"},
        {"nntps://news.example:4563/", "", "news.example", "4563", "TLS", "563"},
        {"nntp://news.example", "starttls=1\n", "news.example", "", "STARTTLS", "119"},
        {"nntp://news.example:8119", "", "news.example", "8119", "None", "119"},
    };
    for (const auto& c : cases) {
        test::WriteFile("zarvo.cfg", c.line + "\ng\n" + SEP + "\n");
        test::WriteFile(SETTINGS_FILE_NAME,
                        c.settings + "user=alice\nallow-unencrypted-password=1\n");
        const auto dialog = Open();
        EXPECT_EQ(dialog->NewsServerField().text().toStdString(), c.host) << c.line;
        EXPECT_EQ(dialog->PortField().text().toStdString(), c.port) << c.line;
        EXPECT_EQ(dialog->PortField().placeholderText().toStdString(), c.portHint) << c.line;
        EXPECT_EQ(dialog->SecurityField().currentText().toStdString(), c.security) << c.line;
        EXPECT_EQ(dialog->UserNameField().text(), "alice");
        EXPECT_TRUE(dialog->AllowUnencryptedField().isChecked());
        dialog->OnDone();
        EXPECT_EQ(test::ReadFile("zarvo.cfg"), c.line + "\ng\n" + SEP + "\n");
        CServerSettings saved;
        std::string error;
        ASSERT_TRUE(ReadServerSettings(saved, error));
        EXPECT_EQ(saved.startTls, c.security == "STARTTLS") << c.line;
        EXPECT_EQ(saved.user, "alice");
        EXPECT_TRUE(saved.allowUnencrypted);
    }
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ConfigDlgTest, DoneWritesTheFieldsAsAServerLineAndKeepsTheCertificatesTrustedMeanwhile) {
    const struct {
        std::string host;
        std::string port;
        int security;  // None, TLS, STARTTLS
        std::string line;
        bool startTls;
    } cases[] = {
        {"news.example", "", 0, "news.example", false},
        {"news.example", "119", 0, "news.example", false},
        {"news.example", "0", 1, "nntps://news.example", false},
        {"news.example", "563", 1, "nntps://news.example", false},
        {"news.example", "1563", 1, "nntps://news.example:1563", false},
        {"news.example", "", 2, "nntp://news.example", true},
        {"news.example:1119", "", 0, "news.example:1119", false},
        {"news.example:1119", "2119", 2, "nntp://news.example:2119", true},
        {"::1", "1119", 1, "nntps://[::1]:1119", false},
    };
    test::WriteFile("zarvo.cfg", "x\ng\n" + SEP + "\n");
    for (const auto& c : cases) {
        test::WriteFile(SETTINGS_FILE_NAME,
                        "user=old\ntrust=old.example:563 " + Fingerprint("aa") + "\n");
        const auto dialog = Open();
        dialog->NewsServerField().setText(QString::fromStdString(c.host));
        dialog->PortField().setText(QString::fromStdString(c.port));
        dialog->SecurityField().setCurrentIndex(c.security);
        dialog->UserNameField().setText("bob");
        // Trusted while the dialog is open: Done keeps it.
        std::string error;
        ASSERT_TRUE(TrustCertificate("news.example:563", Fingerprint("CC"), error));
        dialog->OnDone();
        EXPECT_EQ(test::ReadFile("zarvo.cfg"), c.line + "\ng\n" + SEP + "\n") << c.line;
        CServerSettings saved;
        ASSERT_TRUE(ReadServerSettings(saved, error));
        EXPECT_EQ(saved.startTls, c.startTls) << c.line;
        EXPECT_EQ(saved.user, "bob");
        EXPECT_EQ(saved.trusted,
                  (std::map<std::string, std::string>{{"news.example:563", Fingerprint("CC")},
                                                      {"old.example:563", Fingerprint("AA")}}));
    }
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ConfigDlgTest, GroupFieldsOpenFromTheSettingsAndOnlyDoneWritesWhatIsTypedKeepingTheRest) {
    const struct {
        std::string settings;  // besides a user name and a trusted certificate
        bool onlyNew;          // as the fields open
        std::string newest, connections, requests;
        std::string typedNewest, typedConnections, typedRequests;
        std::uint32_t savedNewest;
        int savedConnections, savedRequests;
    } cases[] = {
        {"", true, "1000", "2", "Automatic", "0", "7", "16", 0, 7, 16},
        // A key that would leave a field's range is refused: 99 connections become 9.
        {"only-new-articles=0\nfirst-run-newest=4294967295\nconnections=50\npipeline-depth=64\n",
         false, "4294967295", "50", "64", "250", "99", "0", 250, 9, 0},
    };
    const auto type = [](QAbstractSpinBox& field, const std::string& text) {
        field.selectAll();
        QTest::keyClicks(&field, QString::fromStdString(text));
    };
    test::WriteFile("zarvo.cfg", "news.example\ng\n" + SEP + "\n");
    for (const auto& c : cases) {
        const std::string before =
            c.settings + "user=alice\ntrust=news.example:563 " + Fingerprint("AA") + "\n";
        test::WriteFile(SETTINGS_FILE_NAME, before);
        for (const bool done : {false, true}) {
            const auto dialog = Open();
            EXPECT_EQ(dialog->OnlyNewArticlesField().isChecked(), c.onlyNew);
            EXPECT_EQ(dialog->FirstRunNewestField().text().toStdString(), c.newest);
            EXPECT_EQ(dialog->ConnectionsField().text().toStdString(), c.connections);
            EXPECT_EQ(dialog->RequestsInFlightField().text().toStdString(), c.requests);
            dialog->OnlyNewArticlesField().click();
            type(dialog->FirstRunNewestField(), c.typedNewest);
            type(dialog->ConnectionsField(), c.typedConnections);
            type(dialog->RequestsInFlightField(), c.typedRequests);
            if (done) {
                dialog->OnDone();
            } else {
                QTest::mouseClick(dialog->findChild<QWidget*>("2"), Qt::LeftButton);  // Cancel
                EXPECT_EQ(test::ReadFile(SETTINGS_FILE_NAME), before);
            }
        }
        CServerSettings saved;
        std::string error;
        ASSERT_TRUE(ReadServerSettings(saved, error));
        EXPECT_EQ(saved.onlyNewArticles, !c.onlyNew);
        EXPECT_EQ(saved.firstRunNewest, c.savedNewest);
        EXPECT_EQ(saved.connections, c.savedConnections);
        EXPECT_EQ(saved.pipelineDepth, c.savedRequests);
        EXPECT_EQ(saved.user, "alice");
        EXPECT_EQ(saved.trusted,
                  (std::map<std::string, std::string>{{"news.example:563", Fingerprint("AA")}}));
    }
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ConfigDlgTest, WhatToCollectOpensFromTheSettingsAndDoneWritesItKeepingTheRest) {
    const struct {
        std::string settings;  // besides a user name, limits the dialog does not show, a
                               // trusted certificate and a key of a later version
        bool pictures, archives;
        std::string maxPost, posters, subjects;  // as the fields open
        std::string typedMaxPost, typedPosters, typedSubjects;
        std::uint32_t savedMaxPost;
        std::vector<std::string> savedPosters, savedSubjects;
    } cases[] = {
        {"",
         true,
         true,
         "200",
         "",
         "",
         "0",
         "*@spam.example\n\n  Bot *  \n",
         "*big sale*",
         0,
         {"*@spam.example", "Bot *"},
         {"*big sale*"}},
        {"collect-pictures=0\ncollect-archives=0\nmax-post-size-mb=0\nskip-poster=a*\n"
         "skip-poster=*,!b*\nskip-subject=x?\n",
         false,
         false,
         "No limit",
         "a*\n*,!b*",
         "x?",
         "100000",
         "",
         "\xC2\xA3*",
         100000,
         {},
         {"\xC2\xA3*"}},
    };
    const auto type = [](QWidget& field, const std::string& text) {
        field.setFocus();
        QTest::keyClick(&field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(&field, QString::fromStdString(text));
    };
    test::WriteFile("zarvo.cfg", "news.example\ng\n" + SEP + "\n");
    for (const auto& c : cases) {
        test::WriteFile(SETTINGS_FILE_NAME, c.settings +
                                                "user=alice\nmax-picture-size-mb=7\ntrust=a:563 " +
                                                Fingerprint("AA") + "\nlater-key=1\n");
        const auto dialog = Open();
        EXPECT_EQ(dialog->CollectPicturesField().isChecked(), c.pictures);
        EXPECT_EQ(dialog->CollectArchivesField().isChecked(), c.archives);
        EXPECT_EQ(dialog->MaxPostSizeField().text().toStdString(), c.maxPost);
        EXPECT_EQ(dialog->SkipPostersField().toPlainText().toStdString(), c.posters);
        EXPECT_EQ(dialog->SkipSubjectsField().toPlainText().toStdString(), c.subjects);
        dialog->CollectPicturesField().click();
        dialog->CollectArchivesField().click();
        type(dialog->MaxPostSizeField(), c.typedMaxPost);
        dialog->SkipPostersField().setPlainText(QString::fromStdString(c.typedPosters));
        type(dialog->SkipSubjectsField(), c.typedSubjects);
        dialog->OnDone();
        CServerSettings saved;
        std::string error;
        ASSERT_TRUE(ReadServerSettings(saved, error));
        EXPECT_EQ(saved.collectPictures, !c.pictures);
        EXPECT_EQ(saved.collectArchives, !c.archives);
        EXPECT_EQ(saved.maxPostMegabytes, c.savedMaxPost);
        EXPECT_EQ(saved.skipPosters, c.savedPosters);
        EXPECT_EQ(saved.skipSubjects, c.savedSubjects);
        EXPECT_EQ(saved.user, "alice");
        EXPECT_EQ(saved.maxPictureMegabytes, 7u);
        EXPECT_EQ(saved.trusted.size(), 1u);
        EXPECT_THAT(saved.otherLines, ElementsAre("later-key=1"));
    }
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ConfigDlgTest, ALineBreakInTheUserNameOrAPatternThatIsNoWildmatIsRefusedWritingNothing) {
    const std::string before = "host\na\n" + SEP + "\n";
    test::WriteFile("zarvo.cfg", before);
    const struct {
        std::string user, posters, subjects, message;
    } cases[] = {
        {"alice\nstarttls=1", "", "",
         "The user name cannot hold a line break. Please enter it on one line."},
        {"", "*ok*\n!*spam*", "",
         "Skip posts from: \"!*spam*\" is not a wildmat pattern: the first pattern cannot be "
         "negated (\"*,!x\" is all but x)."},
        {"", "*ok*", "*[1/5]*",
         "Skip subjects: \"*[1/5]*\" is not a wildmat pattern: \"[\", \"\\\" and \"]\" are "
         "reserved."},
    };
    std::vector<std::string> messages;
    for (const auto& c : cases) {
        const auto dialog = Open();
        dialog->UserNameField().setText(QString::fromStdString(c.user));
        dialog->SkipPostersField().setPlainText(QString::fromStdString(c.posters));
        dialog->SkipSubjectsField().setPlainText(QString::fromStdString(c.subjects));
        dialog->OnDone();
        messages.push_back(c.message);
        EXPECT_EQ(boxes.Texts(), messages);
        EXPECT_TRUE(dialog->isVisible());
    }
    EXPECT_EQ(test::ReadFile("zarvo.cfg"), before);
    EXPECT_FALSE(std::filesystem::exists(SETTINGS_FILE_NAME));
}

TEST_F(ConfigDlgTest, WithoutAKeyringThePasswordIsKeptInAPrivateFileAndComesBack) {
    test::WriteFile("zarvo.cfg", "news.example\na\n" + SEP + "\n");
    const std::string file = folder.Folder() + PASSWORD_FILE_NAME;
    {
        const auto dialog = Open();
        dialog->UserNameField().setText("alice");
        dialog->PasswordField().setText("s3cret pass");
        dialog->OnDone();
    }
    EXPECT_THAT(boxes.Texts(), ElementsAre("(i) No keyring answered, so the password is kept in "
                                           "the file " +
                                           file + ", which only you can read."));
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(test::ReadFile(file), "s3cret pass");
    {
        const auto dialog = Open();
        EXPECT_EQ(dialog->PasswordField().text(), "s3cret pass");
        dialog->PasswordField().setText("changed");
        dialog->OnDone();  // told once: the file is there already
    }
    EXPECT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(test::ReadFile(file), "changed");
    {
        const auto dialog = Open();
        dialog->PasswordField().clear();
        dialog->OnDone();
    }
    EXPECT_FALSE(std::filesystem::exists(file));

    // A file that others can read is not used; the dialog says so and shows no password.
    test::WriteFile(file, "leaked");
    ::chmod(file.c_str(), 0644);
    const auto dialog = Open();
    EXPECT_EQ(dialog->PasswordField().text(), "");
    ASSERT_EQ(boxes.Texts().size(), 2u);
    EXPECT_THAT(boxes.Texts().back(), HasSubstr("can be read or changed by other users"));
}

// A keyring of the test's own in place of the desktop's, for as long as it lives.
class CFakeKeyring : public CKeyring {
public:
    CFakeKeyring() { CPasswordStore::UseKeyring(this); }
    ~CFakeKeyring() override { CPasswordStore::UseKeyring(nullptr); }
    CFakeKeyring(const CFakeKeyring&) = delete;
    CFakeKeyring& operator=(const CFakeKeyring&) = delete;

    bool Usable() override { return true; }
    bool Read(const std::string& key, std::string& password) override {
        const auto entry = entries.find(key);
        password = entry != entries.end() ? entry->second : std::string();
        return entry != entries.end();
    }
    bool Write(const std::string& key, const std::string& password) override {
        entries[key] = password;
        return true;
    }
    void Remove(const std::string& key) override { entries.erase(key); }

    std::map<std::string, std::string> entries;
};

TEST_F(ConfigDlgTest, DoneKeepsTheKeyringsPasswordUnderTheUserAndServerOnlyAsTheyAreNow) {
    using Entries = std::map<std::string, std::string>;
    const struct {
        const char* what;
        const char* server;
        const char* port;
        const char* user;
        const char* password;
        Entries after;  // beside another server's entry, which stays
    } cases[] = {
        {"nothing", "news.example", "", "alice", "pw", {{"alice@news.example:119", "pw"}}},
        {"the user", "news.example", "", "bob", "pw", {{"bob@news.example:119", "pw"}}},
        {"the server", "other.example", "", "alice", "pw", {{"alice@other.example:119", "pw"}}},
        {"the port", "news.example", "1119", "alice", "new", {{"alice@news.example:1119", "new"}}},
        {"the user, no password", "news.example", "", "bob", "", {}},
    };
    for (const auto& c : cases) {
        test::WriteFile("zarvo.cfg", "news.example\na\n" + SEP + "\n");
        test::WriteFile(SETTINGS_FILE_NAME, "user=alice\n");
        CFakeKeyring keyring;
        keyring.entries = {{"alice@news.example:119", "pw"}, {"carol@elsewhere:563", "hers"}};
        const auto dialog = Open();
        EXPECT_EQ(dialog->PasswordField().text(), "pw") << c.what;
        dialog->NewsServerField().setText(c.server);
        dialog->PortField().setText(c.port);
        dialog->UserNameField().setText(c.user);
        dialog->PasswordField().setText(c.password);
        dialog->OnDone();
        Entries expected = c.after;
        expected.emplace("carol@elsewhere:563", "hers");
        EXPECT_EQ(keyring.entries, expected) << c.what;
    }
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ConfigDlgTest, FetchNewsgroupsOverTlsAsksBeforeTrustingACertificateThatDoesNotVerify) {
    server.UseTls(test::ScriptedNntpServer::Tls::Implicit, certificate);
    spool.AddGroup("alt.secure", 1, 2);
    test::WriteFile("zarvo.cfg", "x\n" + SEP + "\nalt.cached\n");
    const auto dialog = Open();
    dialog->SetServerText("nntps://" + server.Address());

    Fetch(*dialog);  // No
    ASSERT_EQ(boxes.Texts().size(), 1u);
    const std::string question = boxes.Texts().front();
    EXPECT_THAT(question, ::testing::StartsWith("? Zarvo did not connect to 127.0.0.1: its "
                                                "certificate is self-signed"));
    EXPECT_THAT(question, HasSubstr(certificate.Fingerprint()));
    EXPECT_THAT(question, ::testing::EndsWith("\n\nTrust this certificate for 127.0.0.1?"));
    EXPECT_THAT(dialog->AvailableList().Names(), ElementsAre("alt.cached"));
    EXPECT_FALSE(std::filesystem::exists(SETTINGS_FILE_NAME));

    boxes.AnswerQuestions(true);
    Fetch(*dialog);  // Yes: trusted for good, and the list comes
    EXPECT_THAT(boxes.Texts(), ElementsAre(question, question));
    EXPECT_THAT(dialog->AvailableList().Names(), ElementsAre("alt.secure"));
    EXPECT_THAT(test::ReadFile(SETTINGS_FILE_NAME),
                HasSubstr("trust=127.0.0.1:" + std::to_string(server.Port()) + " " +
                          certificate.Fingerprint()));
    Fetch(*dialog);  // not asked again
    EXPECT_EQ(boxes.Texts().size(), 2u);
    EXPECT_THAT(server.Commands(), ElementsAre("LIST", "quit", "LIST", "quit"));
}

TEST_F(ConfigDlgTest,
       FetchNewsgroupsLogsInWithTheFieldsAndShowsTheSessionsReasonsNeverThePassword) {
    spool.AddGroup("alt.members", 1, 2);
    const std::string password = "pa55-w0rd";
    const struct {
        std::string user;
        bool allowUnencrypted;
        std::string passReply;
        std::string message;  // none when the list came
    } cases[] = {
        {"alice", true, "281 welcome\r\n", ""},
        {"alice", true, "481 no\r\n", "The server refused the user name or password."},
        {"alice", false, "281 welcome\r\n",
         "Zarvo did not send the password to 127.0.0.1: the connection is not encrypted. Choose "
         "TLS or STARTTLS in Configure, or tick \"Allow sending the password unencrypted\"."},
        {"", false, "",
         "The server 127.0.0.1 asks for a user name and password. Enter them in "
         "Configure."},
    };
    for (const auto& c : cases) {
        server.On("AUTHINFO USER alice", ScriptedReply::Text("381 more\r\n"));
        server.On("AUTHINFO PASS " + password, ScriptedReply::Text(c.passReply));
        if (c.user.empty()) {
            server.On("LIST", ScriptedReply::Text("480 who are you\r\n"));
        }
        const std::size_t shownBefore = boxes.Texts().size();
        const auto dialog = Open();
        dialog->SetServerText(server.Address());
        dialog->UserNameField().setText(QString::fromStdString(c.user));
        dialog->PasswordField().setText(QString::fromStdString(password));
        dialog->AllowUnencryptedField().setChecked(c.allowUnencrypted);
        Fetch(*dialog);
        const std::vector<std::string> texts = boxes.Texts();
        const std::vector<std::string> shown(texts.begin() + static_cast<long>(shownBefore),
                                             texts.end());
        if (c.message.empty()) {
            EXPECT_THAT(shown, IsEmpty());
            EXPECT_THAT(dialog->AvailableList().Names(), ElementsAre("alt.members"));
        } else {
            EXPECT_THAT(shown, ElementsAre(c.message)) << c.message;
            EXPECT_EQ(dialog->AvailableList().GetCount(), 0) << c.message;
        }
    }
    EXPECT_THAT(server.Commands(),
                ElementsAre("AUTHINFO USER alice", "AUTHINFO PASS " + password, "LIST", "quit",
                            "AUTHINFO USER alice", "AUTHINFO PASS " + password, "LIST", "quit"));
    EXPECT_THAT(console.Text(), Not(HasSubstr(password)));
}

}  // namespace

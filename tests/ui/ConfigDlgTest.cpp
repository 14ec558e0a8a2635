// The configuration dialog: what it opens with (each available name once), Add's prefix rule,
// Remove, Fetch Newsgroups against a scripted server (twice, and failing), Done and Cancel and
// what each leaves in zarvo.cfg, and a file with a line the lists refuse.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTest>
#include <filesystem>

#include "config/ConfigFile.h"
#include "tests/support/Capture.h"
#include "tests/support/NewsSpool.h"
#include "tests/support/ScriptedNntpServer.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/CConfigDlg.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Names = std::vector<std::string>;

const std::string SEP(CONFIG_SEPARATOR);

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

    static void Select(CListBox& list, const std::string& name) {
        const int index = list.FindString(name);
        ASSERT_NE(index, CListBox::LB_ERR) << name;
        list.SetCurSel(index);
    }

    test::TempDir folder{true};
    test::ErrorBoxRecorder boxes;
    test::ConsoleCapture console;
    test::NewsSpool spool;
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
    dialog->OnFetchNewsgroups();
    dialog->OnFetchNewsgroups();

    // The server's list replaces the cached one; the selection is kept as it is.
    EXPECT_THAT(dialog->AvailableList().Names(), ElementsAre("alt.pictures", "Comp.Graphics"));
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

TEST_F(ConfigDlgTest, FetchNewsgroupsSkipsNamesTheListRefuses) {
    server.On("LIST", test::ScriptedReply::Text(
                          "215 list follows\r\ngood.one 2 1 y\r\nbad\x01name 2 1 y\r\n.\r\n"));
    const auto dialog = Open();
    dialog->SetServerText(server.Address());
    dialog->OnFetchNewsgroups();
    EXPECT_THAT(dialog->AvailableList().Names(), ElementsAre("good.one"));
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ConfigDlgTest, FetchNewsgroupsFailuresLeaveTheListsAsTheyWere) {
    test::WriteFile("zarvo.cfg", "x\nchosen\n" + SEP + "\nalt.cached\n");
    server.On("LIST", test::ScriptedReply::Text("502 no list for you\r\n"));
    const auto dialog = Open();
    dialog->SetServerText("");
    dialog->OnFetchNewsgroups();  // no server named
    dialog->SetServerText("127.0.0.1:" + std::to_string(test::UnusedLoopbackPort()));
    dialog->OnFetchNewsgroups();
    dialog->SetServerText(server.Address());
    dialog->OnFetchNewsgroups();
    EXPECT_THAT(boxes.Texts(), ElementsAre("Please enter your news server name (usually 'news')",
                                           "Couldn't connect to the news server...",
                                           "Couldn't fetch the list of newsgroups..."));
    EXPECT_THAT(dialog->AvailableList().Names(), ElementsAre("alt.cached"));
    EXPECT_THAT(dialog->SelectedList().Names(), ElementsAre("chosen"));
    // The wait cursor is gone again after every failure.
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
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

TEST_F(ConfigDlgTest, EnterInTheServerFieldIsDone) {
    const auto dialog = Open();
    dialog->SetServerText("news");
    dialog->NewsServerField().setFocus();
    QTest::keyClick(&dialog->NewsServerField(), Qt::Key_Return);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(test::ReadFile("zarvo.cfg"), "news\n" + SEP + "\n");
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

}  // namespace

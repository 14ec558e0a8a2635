// The picture browser's rules: Previous and Next at the ends and past them, Delete File on the
// middle, the last and the only entry, to the trash or to nothing, files already gone, the
// same path twice, and the page it writes for a picture whose name a stranger chose.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "tests/support/Capture.h"
#include "tests/support/TempDir.h"
#include "tests/ui/FakePictureView.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/CPictureBrowser.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class PictureBrowserTest : public ::testing::Test {
protected:
    PictureBrowserTest() {
        g_currentPicture = 0;
        browser.SetProgramFolder(folder.Folder());
        std::filesystem::create_directories(folder.Path() / "images" / "alt.test");
    }

    // Makes a picture file and appends its path, as the worker does.
    std::string AddPicture(const std::string& name) {
        const std::string path = folder.Folder() + "images/alt.test/" + name;
        test::WriteFile(path, "picture " + name);
        browser.AppendPicture(path);
        return path;
    }

    std::string Page() const { return test::ReadFile(folder.Path() / "html_file.html"); }
    std::string PagePath() const { return folder.Folder() + "html_file.html"; }

    test::TempDir folder{true};
    test::ErrorBoxRecorder boxes;
    test::FakePictureView view;
    CPictureBrowser browser{view};
};

TEST_F(PictureBrowserTest, FirstPictureOfARunIsShownAtOneOfOneWhateverTheOldIndex) {
    g_currentPicture = 4;  // left by an earlier run
    const std::string path = AddPicture("cat.jpg");
    browser.OnNext();
    EXPECT_EQ(g_currentPicture, 0);
    EXPECT_EQ(view.counter, "1 / 1");
    EXPECT_EQ(view.name, "cat.jpg");
    EXPECT_THAT(view.navigations, ElementsAre(PagePath()));
    EXPECT_EQ(Page(), "<HTML><BODY><img src=\"file://" + path +
                          "\" alt=\"[picture]\" width=\"180\" height=\"200\"></BODY></HTML>");
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(PictureBrowserTest, PreviousAndNextStopAtTheEndsAndComeBackFromPastThem) {
    AddPicture("a.jpg");
    AddPicture("b.jpg");
    AddPicture("c.jpg");
    browser.OnPrevious();  // on the first entry: the first again
    EXPECT_EQ(g_currentPicture, 0);
    EXPECT_EQ(view.name, "a.jpg");
    EXPECT_EQ(view.counter, "1 / 3");
    browser.OnNext();
    browser.OnNext();
    browser.OnNext();  // on the last entry: the last again
    EXPECT_EQ(g_currentPicture, 2);
    EXPECT_EQ(view.counter, "3 / 3");
    EXPECT_EQ(view.navigations.size(), 4u);

    g_currentPicture = 9;
    browser.OnPrevious();  // past the end, Previous goes to the first entry
    EXPECT_EQ(g_currentPicture, 0);
    g_currentPicture = 9;
    browser.OnNext();  // and Next to the last one
    EXPECT_EQ(g_currentPicture, 2);
    g_currentPicture = -5;
    browser.OnNext();
    EXPECT_EQ(g_currentPicture, 2);
    g_currentPicture = -5;
    browser.OnPrevious();
    EXPECT_EQ(g_currentPicture, 0);
    EXPECT_EQ(view.name, "a.jpg");
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(PictureBrowserTest, EmptyListShowsItsMessageForPreviousAndNextAndIgnoresDelete) {
    g_currentPicture = 3;
    browser.OnPrevious();
    browser.OnNext();
    browser.OnDeleteFile();
    EXPECT_THAT(boxes.Texts(),
                ElementsAre("No pictures available yet...", "No pictures available yet..."));
    EXPECT_EQ(g_currentPicture, 3);
    EXPECT_THAT(view.navigations, IsEmpty());
    browser.ShowPicture(0);
    EXPECT_EQ(view.counter, "0 / 0");
}

TEST_F(PictureBrowserTest, DeletingTheMiddleEntryShowsTheOneThatFollowed) {
    AddPicture("a.jpg");
    const std::string middle = AddPicture("b.jpg");
    const std::string last = AddPicture("c.jpg");
    browser.OnNext();  // to b.jpg
    browser.OnDeleteFile();
    EXPECT_FALSE(std::filesystem::exists(middle));
    EXPECT_EQ(browser.Pictures().size(), 2u);
    EXPECT_EQ(g_currentPicture, 1);
    EXPECT_EQ(view.name, "c.jpg");
    EXPECT_EQ(view.counter, "2 / 2");
    EXPECT_NE(Page().find(last), std::string::npos);
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(PictureBrowserTest, DeletingTheLastEntryShowsTheNewLastOne) {
    AddPicture("a.jpg");
    const std::string second = AddPicture("b.jpg");
    const std::string last = AddPicture("c.jpg");
    g_currentPicture = 2;
    browser.ShowPicture(2);
    browser.OnDeleteFile();
    EXPECT_FALSE(std::filesystem::exists(last));
    EXPECT_EQ(g_currentPicture, 1);
    EXPECT_EQ(view.counter, "2 / 2");
    EXPECT_EQ(view.name, "b.jpg");
    EXPECT_EQ(Page(), CPictureBrowser::PageContent(second));
    EXPECT_EQ(view.navigations.size(), 2u);
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(PictureBrowserTest, PicturesDeletedElsewhereLeaveTheOneOnShowOrItsSuccessor) {
    // Entries a b c b d with the one at `current` on show; the gallery deletes `gone`.
    const struct {
        int current;
        std::vector<std::string> gone;
        int after;
        const char* shown;
        const char* counter;
    } cases[] = {
        {4, {"b.jpg"}, 2, "d.jpg", "3 / 3"},           // both entries before it go
        {2, {"c.jpg"}, 2, "b.jpg", "3 / 4"},           // it goes: the next takes its place
        {4, {"d.jpg", "a.jpg"}, 2, "b.jpg", "3 / 3"},  // the last goes: the new last
        {0, {"x.jpg"}, 0, "", ""},                     // nothing of the list: nothing changes
        {1, {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}, 0, "", "0 / 0"},
    };
    for (const auto& c : cases) {
        browser.ClearPictures();
        std::vector<std::string> gone;
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "b.jpg", "d.jpg"}) {
            browser.AppendPicture(folder.Folder() + name);
        }
        for (const std::string& name : c.gone) {
            gone.push_back(folder.Folder() + name);
        }
        g_currentPicture = c.current;
        view.name.clear();
        view.counter.clear();
        browser.ForgetPictures(gone);
        EXPECT_EQ(g_currentPicture, c.after) << c.current;
        EXPECT_EQ(view.name, c.shown) << c.current;
        EXPECT_EQ(view.counter, c.counter) << c.current;
    }
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(PictureBrowserTest, DeletingTheOnlyEntryShowsNothing) {
    const std::string only = AddPicture("only.png");
    browser.OnNext();
    browser.OnDeleteFile();
    EXPECT_FALSE(std::filesystem::exists(only));
    EXPECT_THAT(browser.Pictures(), IsEmpty());
    EXPECT_EQ(view.counter, "0 / 0");
    EXPECT_EQ(view.name, "");
    EXPECT_TRUE(view.cleared);
    browser.OnDeleteFile();
    browser.OnPrevious();
    browser.OnNext();
    EXPECT_THAT(boxes.Texts(),
                ElementsAre("No pictures available yet...", "No pictures available yet..."));
}

TEST_F(PictureBrowserTest, DeleteFileMovesThePictureToTheTrashOrAsksWhereThereIsNone) {
    // The trash is $XDG_DATA_HOME/Trash, made where it is missing; a data home under a file can
    // hold none, and the user decides.
    test::WriteFile(folder.Path() / "file", "not a folder");
    const struct {
        const char* dataHome;
        bool answer;
        bool trashed;
        bool kept;
    } cases[] = {{"data", false, true, false},
                 {"no such folder/data", false, true, false},
                 {"file/data", true, false, false},
                 {"file/data", false, false, true}};
    for (const auto& expected : cases) {
        const std::filesystem::path data = folder.Path() / expected.dataHome;
        const test::ScopedEnvironment dataHome("XDG_DATA_HOME", data.string());
        boxes.AnswerQuestions(expected.answer);
        const std::size_t asked = boxes.Texts().size();
        browser.ClearPictures();
        const std::string path = AddPicture("kept.jpg");
        g_currentPicture = 0;
        browser.ShowPicture(0);
        browser.OnDeleteFile();
        EXPECT_EQ(std::filesystem::exists(path), expected.kept) << expected.dataHome;
        EXPECT_EQ(std::filesystem::exists(data / "Trash/files/kept.jpg"), expected.trashed)
            << expected.dataHome;
        EXPECT_EQ(std::filesystem::exists(data / "Trash/info/kept.jpg.trashinfo"), expected.trashed)
            << expected.dataHome;
        EXPECT_EQ(boxes.Texts().size() - asked, expected.trashed ? 0u : 1u) << expected.dataHome;
        EXPECT_EQ(browser.Pictures().size(), expected.kept ? 1u : 0u) << expected.dataHome;
        EXPECT_EQ(view.counter, expected.kept ? "1 / 1" : "0 / 0") << expected.dataHome;
    }
    EXPECT_EQ(test::ReadFile(folder.Path() / "data/Trash/files/kept.jpg"), "picture kept.jpg");
    EXPECT_THAT(boxes.Texts(),
                ElementsAre("? There is no trash for this file. Delete it for good?",
                            "? There is no trash for this file. Delete it for good?"));
}

TEST_F(PictureBrowserTest, AFileAlreadyGoneAndTheSamePathTwiceStillLoseTheirEntries) {
    const std::string twice = AddPicture("twice.gif");
    browser.AppendPicture(twice);
    const std::string gone = AddPicture("gone.gif");
    std::filesystem::remove(gone);
    browser.OnNext();
    browser.OnPrevious();    // to the first entry
    browser.OnDeleteFile();  // moves the file away
    EXPECT_FALSE(std::filesystem::exists(twice));
    EXPECT_THAT(boxes.Texts(), IsEmpty());
    browser.OnDeleteFile();  // the same path again: its file is gone
    browser.OnDeleteFile();  // a file deleted behind the browser's back
    EXPECT_THAT(boxes.Texts(), ElementsAre("DeleteFile Failed", "DeleteFile Failed"));
    EXPECT_THAT(browser.Pictures(), IsEmpty());
    EXPECT_EQ(view.counter, "0 / 0");
}

TEST_F(PictureBrowserTest, PageEscapesTheAddressOfAPictureWithAStrangersName) {
    const std::string name = "a \"b\" <i>&amp; #1 100%.jpg";
    const std::string path = AddPicture(name);
    browser.OnNext();
    const std::string address =
        "file://" + folder.Folder() +
        "images/alt.test/a%20%22b%22%20%3Ci%3E%26amp%3B%20%231%20100%25.jpg";
    EXPECT_EQ(CPictureBrowser::FileAddress(path), address);
    EXPECT_EQ(Page(), "<HTML><BODY><img src=\"" + address +
                          "\" alt=\"[picture]\" width=\"180\" height=\"200\"></BODY></HTML>");
    EXPECT_EQ(view.name, name);  // the box shows the name as it is
    // Bytes beyond ASCII are encoded byte by byte; "/", letters, digits and "-._~" stay.
    EXPECT_EQ(CPictureBrowser::FileAddress("/x/\xC3\xA9-._~Z9"), "file:///x/%C3%A9-._~Z9");
    // The view reads the path back out of the address.
    EXPECT_EQ(CPictureBrowser::PathOfAddress(address), path);
    EXPECT_EQ(CPictureBrowser::PathOfAddress("file:///x/%c3%A9%zz%2"), "/x/\xC3\xA9%zz%2");
    EXPECT_EQ(CPictureBrowser::PathOfAddress("http://x/y.jpg"), "");
}

TEST_F(PictureBrowserTest, PageThatCannotBeWrittenLeavesTheBoxesAlone) {
    browser.SetProgramFolder(folder.Folder() + "no such folder/");
    AddPicture("a.jpg");
    AddPicture("b.jpg");
    browser.OnNext();
    EXPECT_EQ(g_currentPicture, 1);  // moved all the same
    EXPECT_EQ(view.counter, "");
    EXPECT_THAT(view.navigations, IsEmpty());
    EXPECT_THAT(boxes.Texts(), ElementsAre("fopen in CZarvoDlg::ShowPicture failed"));
}

TEST_F(PictureBrowserTest, LockIsHeldAcrossTheWholeShowing) {
    AddPicture("a.jpg");
    bool otherThreadGotIn = true;
    std::future<std::size_t> other;
    view.onNavigate = [&] {
        // Another thread (the worker appending a picture) cannot get at the list meanwhile.
        other = std::async(std::launch::async, [&] { return browser.AppendPicture("x"); });
        otherThreadGotIn =
            other.wait_for(std::chrono::milliseconds{100}) == std::future_status::ready;
    };
    browser.OnNext();
    EXPECT_FALSE(otherThreadGotIn);
    EXPECT_EQ(other.get(), 2u);  // and gets in once the showing is over
}

}  // namespace

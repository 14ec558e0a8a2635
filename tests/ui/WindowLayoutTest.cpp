// What the windows look like and how their parts behave on their own: the main dialog's
// controls (ids, texts, places in dialog units, tab order) and how it grows, the picture view
// (fitting, reloading an unchanged address, an unreadable picture, the full-size window), and
// the progress bars' 64-bit ranges.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "platform/ProgramFolder.h"
#include "tests/support/Capture.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/CAboutDlg.h"
#include "ui/CDialogUnits.h"
#include "ui/CPictureBrowser.h"
#include "ui/CPictureWindow.h"
#include "ui/CProgressBar.h"
#include "ui/CWebBrowser2.h"
#include "ui/CZarvoDlg.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

class WindowLayoutTest : public ::testing::Test {
protected:
    WindowLayoutTest() { platform::SetProgramFolder(folder.Folder()); }

    test::TempDir folder{true};
    test::ErrorBoxRecorder boxes;
    test::ConsoleCapture console;
};

TEST(DialogUnitsTest, ConvertsEdgesSoThatControlsThatMeetInUnitsMeetInPixels) {
    const CDialogUnits units(7, 15);  // a 7-pixel average character, 15 pixels high
    EXPECT_EQ(units.ToPixels(0, 0, 434, 295), QRect(0, 0, 760, 553));
    // 3 units are 5.25 pixels: a control from 0 to 3 and one from 3 to 6 share an edge.
    const QRect left = units.ToPixels(0, 0, 3, 3);
    const QRect right = units.ToPixels(3, 3, 3, 3);
    EXPECT_EQ(left.right() + 1, right.left());
    EXPECT_EQ(left.bottom() + 1, right.top());
    // A larger font, a larger window, in the same proportions.
    const CDialogUnits big(14, 30);
    EXPECT_EQ(big.ToPixels(0, 0, 434, 295), QRect(0, 0, 1519, 1106));
}

TEST_F(WindowLayoutTest, MainDialogHasTheTemplatesControlsInItsTabOrder) {
    CZarvoDlg dialog;
    const CDialogUnits units = CDialogUnits::FromFont(dialog.font());
    // The designed size and a status line's band below it, at the least; it may grow.
    EXPECT_EQ(dialog.minimumSize(), QSize(units.ToPixelsX(434), units.ToPixelsY(295 + 14)));
    EXPECT_EQ(dialog.size(), dialog.minimumSize());
    EXPECT_EQ(dialog.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    EXPECT_TRUE(dialog.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    const struct {
        int id;
        const char* text;
        QRect place;
    } buttons[] = {{2, "Exit", units.ToPixels(377, 93, 50, 14)},
                   {1002, "Start", units.ToPixels(377, 13, 50, 16)},
                   {1003, "Configure", units.ToPixels(377, 61, 50, 16)},
                   {1030, "Gallery...", units.ToPixels(322, 61, 50, 16)},
                   {1031, "Log", units.ToPixels(322, 80, 50, 16)},
                   {1004, "Stop", units.ToPixels(377, 32, 50, 16)},
                   {1010, "Previous", units.ToPixels(89, 172, 70, 17)},
                   {1011, "Next", units.ToPixels(89, 192, 70, 17)},
                   {1012, "Delete File", units.ToPixels(89, 212, 70, 17)}};
    for (const auto& expected : buttons) {
        const QPushButton* button = test::Control<QPushButton>(dialog, expected.id);
        ASSERT_NE(button, nullptr) << expected.id;
        EXPECT_EQ(button->text().toStdString(), expected.text);
        EXPECT_EQ(button->geometry(), expected.place) << expected.id;
    }
    EXPECT_EQ(test::Control<QWidget>(dialog, 1009)->geometry(), units.ToPixels(278, 137, 153, 151));
    for (const int id : {1018, 1019, 1020, 1021, 1024}) {
        const QLineEdit* edit = test::Control<QLineEdit>(dialog, id);
        ASSERT_NE(edit, nullptr) << id;
        EXPECT_TRUE(edit->isReadOnly());
        EXPECT_EQ(edit->alignment().testFlag(Qt::AlignRight), id != 1018) << id;
    }
    std::vector<std::string> frames;
    for (const QGroupBox* frame : dialog.findChildren<QGroupBox*>()) {
        frames.push_back(frame->title().toStdString());
    }
    std::sort(frames.begin(), frames.end());
    EXPECT_THAT(frames, ElementsAre("Newsgroup Status", "Overall Status", "Picture Control"));

    // Tab goes round the buttons and the status boxes in the template's order.
    std::vector<std::string> order;
    QWidget* widget = test::Control<QWidget>(dialog, 2);
    do {
        order.push_back(widget->objectName().toStdString());
        widget = widget->nextInFocusChain();
        while (widget->focusPolicy() == Qt::NoFocus) {
            widget = widget->nextInFocusChain();
        }
    } while (widget != test::Control<QWidget>(dialog, 2) && order.size() < 30);
    EXPECT_THAT(order, ElementsAre("2", "1002", "1003", "1030", "1031", "1004", "1010", "1011",
                                   "1012", "1018", "1019", "1020", "1021", "1024"));
    dialog.OnExit();
}

TEST_F(WindowLayoutTest, AboutBoxSaysWhatAndWhichVersion) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle().toStdString(), "About Zarvo");
    std::vector<std::string> texts;
    for (const QLabel* label : about.findChildren<QLabel*>()) {
        if (!label->text().isEmpty()) {
            texts.push_back(label->text().toStdString());
        }
    }
    EXPECT_THAT(texts, Contains("zarvo Version 1.0"));
    EXPECT_EQ(texts.size(), 2u);
    EXPECT_TRUE(test::Control<QPushButton>(about, 1)->isDefault());
}

TEST_F(WindowLayoutTest, MainDialogGrowsOnlyItsViewAndKeepsTheStatusLineAtTheBottom) {
    CZarvoDlg dialog;
    dialog.show();
    const QWidget* view = test::Control<QWidget>(dialog, 1009);
    const QRect designedView = view->geometry();
    const QRect start = test::Control<QWidget>(dialog, 1002)->geometry();
    const QRect status = dialog.StatusLine().geometry();
    EXPECT_GT(status.top(), designedView.bottom());
    EXPECT_LT(status.bottom(), dialog.height());

    dialog.resize(dialog.size() + QSize(200, 100));
    ASSERT_TRUE(test::WaitUntil([&] { return view->width() == designedView.width() + 200; }));
    EXPECT_EQ(view->geometry(), designedView.adjusted(0, 0, 200, 100));
    EXPECT_EQ(test::Control<QWidget>(dialog, 1002)->geometry(), start);
    EXPECT_EQ(dialog.StatusLine().geometry(), status.translated(0, 100).adjusted(0, 0, 200, 0));
    dialog.OnExit();
}

class PictureViewTest : public WindowLayoutTest {
protected:
    // A page for the picture, as the picture browser writes it, and the view navigated there.
    void Show(const std::string& picture) {
        test::WriteFile(page, CPictureBrowser::PageContent(picture));
        view.Navigate(page);
    }

    static void SavePicture(const std::string& path, QSize size, QColor colour) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(colour);
        ASSERT_TRUE(image.save(QString::fromStdString(path), "PNG"));
    }

    std::string page = folder.Folder() + "html_file.html";
    CWebBrowser2 view;
};

TEST_F(PictureViewTest, FitsThePictureIntoTheViewKeepingItsProportions) {
    const std::string picture = folder.Folder() + "wide.png";
    SavePicture(picture, QSize(400, 100), Qt::red);
    view.resize(300, 300);
    Show(picture);
    const QRect room = view.contentsRect();
    const QRect place = view.PictureRect();
    EXPECT_EQ(place.width(), room.width());
    EXPECT_EQ(place.height(), room.width() / 4);
    EXPECT_EQ(place.center(), room.center());
    // Drawn there, and only there.
    const QImage shown = view.grab().toImage();
    EXPECT_EQ(QColor(shown.pixel(place.center())), QColor(Qt::red));
    EXPECT_NE(QColor(shown.pixel(room.center().x(), room.top() + 5)), QColor(Qt::red));
}

TEST_F(PictureViewTest, ReadsThePageAfreshAndShowsTheAltTextForAnUnreadablePicture) {
    const std::string picture = folder.Folder() + "a \"b\" <c> & #1 100%.png";
    SavePicture(picture, QSize(30, 20), Qt::blue);
    Show(picture);
    EXPECT_EQ(view.PicturePath(), picture);
    EXPECT_EQ(view.Picture().size(), QSize(30, 20));
    EXPECT_EQ(view.Address(), page);

    // The same address now holds another picture of the same name: it must be read again.
    SavePicture(picture, QSize(40, 50), Qt::blue);
    view.Navigate(page);
    EXPECT_EQ(view.Picture().size(), QSize(40, 50));
    EXPECT_TRUE(view.AlternativeText().isEmpty());

    test::WriteFile(picture, "GIF89a, and then nothing");
    view.Navigate(page);
    EXPECT_TRUE(view.Picture().isNull());
    EXPECT_EQ(view.AlternativeText().toStdString(), "[picture]");
    view.Clear();
    EXPECT_TRUE(view.AlternativeText().isEmpty());
    EXPECT_TRUE(view.PicturePath().empty());
}

TEST_F(PictureViewTest, DoubleClickOpensThePictureAtFullSizeUntilEscapeClosesIt) {
    QWidget owner;  // the main window, which the picture's window goes with
    CWebBrowser2 shown(&owner);
    shown.resize(100, 100);
    QTest::mouseDClick(&shown, Qt::LeftButton);  // nothing on show: nothing opens
    EXPECT_TRUE(owner.findChildren<CPictureWindow*>().isEmpty());

    const std::string picture = folder.Folder() + "big picture.png";
    SavePicture(picture, QSize(900, 700), Qt::green);
    test::WriteFile(page, CPictureBrowser::PageContent(picture));
    shown.Navigate(page);
    QTest::mouseDClick(&shown, Qt::LeftButton);
    const auto windows = owner.findChildren<CPictureWindow*>();
    ASSERT_EQ(windows.size(), 1);
    const QPointer<CPictureWindow> window = windows.front();
    EXPECT_TRUE(window->isWindow());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle().toStdString(), "big picture.png");
    EXPECT_EQ(window->Scale(), 1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    QTest::keyClick(window.data(), Qt::Key_Escape);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
}

TEST(ProgressBarTest, KeepsRangesBeyond32BitsAndStartsOverPastTheEnd) {
    CProgressBar bar;
    bar.SetProgress(0, 4294967296LL, 1, 2147483648LL);
    EXPECT_EQ(bar.value(), (bar.maximum() - bar.minimum()) / 2);
    bar.SetProgress(0, 2, 1, 0);
    bar.StepIt();
    bar.StepIt();
    EXPECT_EQ(bar.Position(), 2);
    EXPECT_EQ(bar.value(), bar.maximum());
    bar.StepIt();
    EXPECT_EQ(bar.Position(), 0);
    bar.SetProgress(5, 5, 1, 5);  // an empty range shows an empty bar
    EXPECT_EQ(bar.value(), bar.minimum());
}

}  // namespace

// Carrying calls over to the user-interface thread, and the error boxes and questions that other
// threads ask for: who runs what where, which window a box opens over, who waits for whom, what
// answers a question, and how Exit lets every waiting thread go.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <thread>

#include "platform/ErrorBox.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/CErrorBoxPresenter.h"
#include "ui/CUiThreadRequests.h"

namespace {

using namespace std::chrono_literals;

TEST(UiThreadRequestsTest, CallFromAnotherThreadRunsOnTheUiThreadAndWaitsForIt) {
    QObject context;
    CUiThreadRequests requests(context);
    QThread* ranOn = nullptr;
    std::atomic<bool> returned{false};
    std::thread caller([&] {
        EXPECT_TRUE(requests.Call([&] { ranOn = QThread::currentThread(); }));
        returned = true;
    });
    ASSERT_TRUE(test::WaitUntil([&] { return returned.load(); }));
    caller.join();
    EXPECT_EQ(ranOn, QThread::currentThread());

    // On the user-interface thread itself the call runs at once.
    bool ran = false;
    EXPECT_TRUE(requests.Call([&] { ran = true; }));
    EXPECT_TRUE(ran);
}

TEST(UiThreadRequestsTest, ReleaseLetsAWaitingCallerGoAndTurnsLaterCallsAway) {
    QObject context;
    CUiThreadRequests requests(context);
    std::atomic<bool> ran{false};
    std::atomic<bool> result{true};
    // The user-interface thread is busy (it runs no events here), so the call waits...
    std::thread caller([&] { result = requests.Call([&] { ran = true; }); });
    std::this_thread::sleep_for(100ms);
    // ...until Release lets it go, without its request ever running.
    requests.Release();
    caller.join();
    EXPECT_FALSE(result);
    test::RunEventsFor(50ms);
    EXPECT_FALSE(ran);

    std::thread late([&] { result = requests.Call([&] { ran = true; }); });
    late.join();
    EXPECT_FALSE(result);
    EXPECT_FALSE(requests.Call([&] { ran = true; }));
    EXPECT_FALSE(ran);
}

// The box on show, its text and caption, and whether it blocks other windows.
struct BoxSeen {
    std::string caption;
    std::string text;
    int buttons = 0;
    bool modal = false;
    const QWidget* parent = nullptr;
};

BoxSeen Inspect(const QMessageBox& box) {
    return BoxSeen{box.windowTitle().toStdString(), box.text().toStdString(),
                   static_cast<int>(box.buttons().size()), box.isModal(), box.parentWidget()};
}

TEST(ErrorBoxPresenterTest, BoxOnTheUiThreadIsModalOverTheOwnerAndBlocksItsCaller) {
    CErrorBoxPresenter presenter;
    QWidget owner;
    owner.show();
    presenter.SetOwnerWindow(&owner);
    BoxSeen seen;
    std::string copied;
    test::OnNextModalWindow([&](QWidget* window) {
        auto* box = qobject_cast<QMessageBox*>(window);
        ASSERT_NE(box, nullptr);
        seen = Inspect(*box);
        // It asked for the focus, and Ctrl+C copies its text.
        ASSERT_TRUE(test::WaitUntil([&] { return box->isActiveWindow(); }));
        QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
        copied = QApplication::clipboard()->text().toStdString();
        box->button(QMessageBox::Ok)->click();
    });
    platform::ShowErrorBox("No pictures available yet...");
    EXPECT_EQ(seen.caption, "ERROR");
    EXPECT_EQ(seen.text, "No pictures available yet...");
    EXPECT_EQ(seen.buttons, 1);
    EXPECT_TRUE(seen.modal);
    EXPECT_EQ(seen.parent, &owner);
    EXPECT_EQ(copied, "No pictures available yet...");
}

TEST(ErrorBoxPresenterTest, WorkerBoxBlocksOnlyTheWorkerUntilItIsClosed) {
    CErrorBoxPresenter presenter;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        platform::ShowErrorBox("CONNECT FAILED");
        returned = true;
    });
    ASSERT_TRUE(test::WaitUntil([&] { return presenter.OpenWorkerBoxes() == 1; }));
    // The windows stay usable: nothing modal is open.
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    const auto boxes = QApplication::topLevelWidgets();
    const auto shown = std::find_if(boxes.begin(), boxes.end(), [](QWidget* widget) {
        return qobject_cast<QMessageBox*>(widget) != nullptr && widget->isVisible();
    });
    ASSERT_NE(shown, boxes.end());
    const BoxSeen seen = Inspect(*qobject_cast<QMessageBox*>(*shown));
    EXPECT_EQ(seen.caption, "ERROR");
    EXPECT_EQ(seen.text, "CONNECT FAILED");
    EXPECT_EQ(seen.buttons, 1);
    EXPECT_FALSE(seen.modal);
    test::RunEventsFor(50ms);
    EXPECT_FALSE(returned);  // the worker waits for the user

    presenter.CloseOldestWorkerBox();
    ASSERT_TRUE(test::WaitUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(presenter.OpenWorkerBoxes(), 0u);
}

TEST(ErrorBoxPresenterTest, WorkerBoxOpensOverAModalDialogAndOutlivesIt) {
    CErrorBoxPresenter presenter;
    QWidget owner;
    owner.show();
    presenter.SetOwnerWindow(&owner);
    // The configuration dialog, say: modal over the main window.
    auto dialog = std::make_unique<QDialog>(&owner);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->show();
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        platform::ShowErrorBox("Open failed for newsgroup 'a'");
        returned = true;
    });
    ASSERT_TRUE(test::WaitUntil([&] { return presenter.OpenWorkerBoxes() == 1; }));
    // Over the dialog, which would block a box over the main window.
    const QPointer<QMessageBox> box = presenter.WorkerBoxes().front();
    EXPECT_EQ(box->parentWidget(), dialog.get());
    EXPECT_TRUE(box->isVisible());

    // The dialog finishes and goes: the box moves over the main window, still waiting.
    dialog->accept();
    dialog.reset();
    ASSERT_FALSE(box.isNull());
    EXPECT_EQ(box->parentWidget(), &owner);
    EXPECT_TRUE(box->isVisible());
    test::RunEventsFor(50ms);
    EXPECT_FALSE(returned);

    QTest::keyClick(box.data(), Qt::Key_Escape);  // as good as OK
    ASSERT_TRUE(test::WaitUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(presenter.OpenWorkerBoxes(), 0u);
}

TEST(ErrorBoxPresenterTest, ReleasingWorkersClosesTheirBoxesAndAnswersLaterOnesAtOnce) {
    CErrorBoxPresenter presenter;
    std::atomic<int> returned{0};
    std::thread worker([&] {
        platform::ShowErrorBox("Open failed for newsgroup 'a'");
        ++returned;
        // After Exit there is no window to show a box: it returns at once.
        platform::ShowErrorBox("Open failed for newsgroup 'b'");
        ++returned;
    });
    ASSERT_TRUE(test::WaitUntil([&] { return presenter.OpenWorkerBoxes() == 1; }));
    presenter.ReleaseWorkers();
    EXPECT_EQ(presenter.OpenWorkerBoxes(), 0u);
    worker.join();  // would hang if either box still held the worker
    EXPECT_EQ(returned, 2);
}

}  // namespace

TEST(ErrorBoxPresenterTest, QuestionsAreAnsweredYesOnlyByYesAndNoOnceExitHasBegun) {
    CErrorBoxPresenter presenter;
    QWidget owner;
    owner.show();
    presenter.SetOwnerWindow(&owner);
    enum class Way { Yes, No, Escape, CloseBox, Enter };
    const struct {
        Way way;
        bool answer;
    } cases[] = {{Way::Yes, true},
                 {Way::No, false},
                 {Way::Escape, false},
                 {Way::CloseBox, false},
                 {Way::Enter, false}};
    for (const auto& c : cases) {
        const int way = static_cast<int>(c.way);
        std::atomic<int> answer{-1};
        std::thread worker([&] { answer = platform::AskQuestion("Trust this certificate?"); });
        ASSERT_TRUE(test::WaitUntil([&] { return presenter.OpenWorkerBoxes() == 1; })) << way;
        QMessageBox* const box = presenter.WorkerBoxes().front();
        const BoxSeen seen = Inspect(*box);
        EXPECT_EQ(seen.caption, "Zarvo");
        EXPECT_EQ(seen.text, "Trust this certificate?");
        EXPECT_EQ(seen.buttons, 2);
        EXPECT_FALSE(seen.modal);  // only the worker waits
        EXPECT_EQ(seen.parent, &owner);
        test::RunEventsFor(20ms);
        EXPECT_EQ(answer, -1) << way;
        switch (c.way) {
            case Way::Yes:
                box->button(QMessageBox::Yes)->click();
                break;
            case Way::No:
                box->button(QMessageBox::No)->click();
                break;
            case Way::Escape:
                QTest::keyClick(box, Qt::Key_Escape);
                break;
            case Way::CloseBox:
                box->close();
                break;
            case Way::Enter:  // No is the default
                QTest::keyClick(box, Qt::Key_Return);
                break;
        }
        ASSERT_TRUE(test::WaitUntil([&] { return answer != -1; })) << way;
        worker.join();
        EXPECT_EQ(answer, c.answer ? 1 : 0) << way;
    }

    // Asked on the user-interface thread, the box is modal over the owner.
    test::OnNextModalWindow([&](QWidget* window) {
        auto* box = qobject_cast<QMessageBox*>(window);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->parentWidget(), &owner);
        box->button(QMessageBox::Yes)->click();
    });
    EXPECT_TRUE(platform::AskQuestion("Trust it?"));

    // Exit: the question on show and every later one are answered No.
    std::atomic<int> answers{0};
    std::atomic<bool> yes{false};
    std::thread worker([&] {
        yes = platform::AskQuestion("first") || platform::AskQuestion("second");
        answers = 2;
    });
    ASSERT_TRUE(test::WaitUntil([&] { return presenter.OpenWorkerBoxes() == 1; }));
    presenter.ReleaseWorkers();
    worker.join();
    EXPECT_EQ(answers, 2);
    EXPECT_FALSE(yes);
}

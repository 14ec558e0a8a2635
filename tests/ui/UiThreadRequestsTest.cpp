// Carrying calls over to the user-interface thread, and the error boxes that other threads ask
// for: who runs what where, who waits for whom, and how Exit lets every waiting thread go.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
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
};

BoxSeen Inspect(const QMessageBox& box) {
    return BoxSeen{box.windowTitle().toStdString(), box.text().toStdString(),
                   static_cast<int>(box.buttons().size()), box.isModal()};
}

TEST(ErrorBoxPresenterTest, BoxOnTheUiThreadIsModalAndBlocksItsCaller) {
    CErrorBoxPresenter presenter;
    BoxSeen seen;
    test::OnNextModalWindow([&](QWidget* window) {
        auto* box = qobject_cast<QMessageBox*>(window);
        ASSERT_NE(box, nullptr);
        seen = Inspect(*box);
        box->button(QMessageBox::Ok)->click();
    });
    platform::ShowErrorBox("No pictures available yet...");
    EXPECT_EQ(seen.caption, "ERROR");
    EXPECT_EQ(seen.text, "No pictures available yet...");
    EXPECT_EQ(seen.buttons, 1);
    EXPECT_TRUE(seen.modal);
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

// The background job: its work runs on another thread and its call back on the window's, once
// the job is free again; one work at a time; abandoned work is waited for and never called
// back.

#include <gtest/gtest.h>

#include <QObject>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "tests/ui/UiTestSupport.h"
#include "ui/CBackgroundJob.h"

namespace {

TEST(BackgroundJobTest, CallsBackOnTheWindowsThreadOnceFreeAndNeverAfterBeingAbandoned) {
    QObject context;
    CBackgroundJob job(context);
    std::thread::id workThread;
    std::thread::id callThread;
    bool busyInCallBack = true;
    int answer = 0;
    ASSERT_TRUE(job.Start([&] {
        workThread = std::this_thread::get_id();
        return [&, value = 42] {
            callThread = std::this_thread::get_id();
            busyInCallBack = job.Busy();
            answer = value;
        };
    }));
    EXPECT_FALSE(job.Start([] { return [] {}; }));  // one at a time
    ASSERT_TRUE(test::WaitUntil([&] { return !job.Busy(); }));
    EXPECT_NE(workThread, std::this_thread::get_id());
    EXPECT_EQ(callThread, std::this_thread::get_id());
    EXPECT_FALSE(busyInCallBack);
    EXPECT_EQ(answer, 42);

    // Work that ends while Abandon waits (as a cancelled session does) is waited for.
    const auto release = std::make_shared<std::atomic<bool>>(false);
    bool called = false;
    ASSERT_TRUE(job.Start([release, &called] {
        while (!*release) {
            std::this_thread::sleep_for(std::chrono::milliseconds{1});
        }
        return [&called] { called = true; };
    }));
    std::thread releaser([release] {
        std::this_thread::sleep_for(std::chrono::milliseconds{20});
        *release = true;
    });
    EXPECT_TRUE(job.Abandon(std::chrono::seconds{30}));
    releaser.join();
    EXPECT_FALSE(job.Busy());
    test::RunEventsFor(std::chrono::milliseconds{50});
    EXPECT_FALSE(called);
}

}  // namespace

// The background job: its work runs on another thread and its call back on the window's, once
// the job is free again; one work at a time. Abandoning it is tested with the configuration
// dialog, whose closing abandons a cancelled fetch.

#include <gtest/gtest.h>

#include <QObject>
#include <thread>

#include "tests/ui/UiTestSupport.h"
#include "ui/CBackgroundJob.h"

namespace {

TEST(BackgroundJobTest, WorksOnAThreadOfItsOwnAndCallsBackOnTheWindowsThreadOnceFree) {
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
}

}  // namespace

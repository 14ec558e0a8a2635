#include <gtest/gtest.h>

#include "nntp/CNewsServer.h"
#include "tests/support/Capture.h"
#include "tests/support/ScriptedNntpServer.h"

namespace {

using test::ScriptedNntpServer;
using test::ScriptedReply;

TEST(NewsServerSessionTest, ConnectReadsTheGreeting) {
    ScriptedNntpServer server;
    test::ConsoleCapture capture;
    CNewsServer session(server.Address(), CNewsServer::NNTP_PORT);
    ASSERT_TRUE(session.Init());
    ASSERT_TRUE(session.Connect());
    EXPECT_TRUE(session.IsConnected());
}

}  // namespace

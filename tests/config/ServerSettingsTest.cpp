// The connection settings beside zarvo.cfg, the server line's forms, and the password file.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "config/PasswordFile.h"
#include "config/ServerSettings.h"
#include "tests/support/TempDir.h"

namespace {

using Security = ConnectionSecurity;

TEST(ServerSettingsTest, ServerLinesKeepTheirOldMeaningAndTakeSchemes) {
    struct Case {
        std::string line;
        bool startTls;
        std::string hostAndPort;
        Security security;
    };
    const Case cases[] = {
        {"news.example.com", true, "news.example.com:119", Security::None},
        {"news.example.com:1190", false, "news.example.com:1190", Security::None},
        {"[::1]:563", false, "[::1]:563", Security::None},
        {"nntps://news.example.com", false, "news.example.com:563", Security::Tls},
        {"nntps://news.example.com:443/", false, "news.example.com:443", Security::Tls},
        {"nntp://news.example.com", true, "news.example.com:119", Security::StartTls},
        {"nntp://news.example.com", false, "news.example.com:119", Security::None},
        {"nntps://[2001:db8::1]:5563", false, "[2001:db8::1]:5563", Security::Tls},
    };
    for (const Case& c : cases) {
        CServerSettings settings;
        settings.startTls = c.startTls;
        const CServerAddress address = ParseServerLine(c.line, settings);
        EXPECT_EQ(address.HostAndPort(), c.hostAndPort) << c.line;
        EXPECT_EQ(address.security, c.security) << c.line;
        // What the dialog writes for it reads back the same.
        const std::string written = MakeServerLine(address.host, address.port, address.security);
        const CServerAddress again = ParseServerLine(written, settings);
        EXPECT_EQ(again.HostAndPort(), c.hostAndPort) << written;
        EXPECT_EQ(again.security, c.security) << written;
    }
    EXPECT_EQ(MakeServerLine("news", 0, Security::None), "news");
    EXPECT_EQ(MakeServerLine("news", 563, Security::Tls), "nntps://news");
}

TEST(ServerSettingsTest, SettingsRoundTripAndTrustingKeepsTheRest) {
    const test::TempDir folder(true);
    CServerSettings settings;
    std::string error;
    ASSERT_TRUE(ReadServerSettings(settings, error));  // no file: the defaults
    EXPECT_TRUE(settings.user.empty());
    settings.startTls = true;
    settings.user = "zarvo user=with equals";
    settings.allowUnencrypted = true;
    settings.trusted["news.example.com:563"] = "AA:BB";
    settings.onlyNewArticles = false;
    settings.firstRunNewest = 0;
    settings.connections = 8;
    settings.pipelineDepth = 1;
    ASSERT_TRUE(WriteServerSettings(settings, error)) << error;
    // A later version's line is skipped, not fatal.
    test::WriteFile(SETTINGS_FILE_NAME,
                    test::ReadFile(SETTINGS_FILE_NAME) + "future-setting=1\r\nnot a setting\n");
    ASSERT_TRUE(TrustCertificate("other.example.com:563", "CC:DD", error)) << error;
    CServerSettings read;
    ASSERT_TRUE(ReadServerSettings(read, error)) << error;
    EXPECT_TRUE(read.startTls);
    EXPECT_EQ(read.user, settings.user);
    EXPECT_TRUE(read.allowUnencrypted);
    EXPECT_FALSE(read.onlyNewArticles);
    EXPECT_EQ(read.firstRunNewest, 0u);
    EXPECT_EQ(read.connections, 8);
    EXPECT_EQ(read.pipelineDepth, 1);
    EXPECT_THAT(read.trusted,
                ::testing::ElementsAre(::testing::Pair("news.example.com:563", "AA:BB"),
                                       ::testing::Pair("other.example.com:563", "CC:DD")));
    // Values out of range keep their defaults.
    test::WriteFile(SETTINGS_FILE_NAME, "connections=0\npipeline-depth=65\nfirst-run-newest=x\n");
    ASSERT_TRUE(ReadServerSettings(read, error));
    EXPECT_EQ(read.connections, 2);
    EXPECT_EQ(read.pipelineDepth, 0);
    EXPECT_EQ(read.firstRunNewest, 1000u);
    EXPECT_TRUE(read.onlyNewArticles);
    settings.user = "two\nlines";
    EXPECT_FALSE(WriteServerSettings(settings, error));
}

TEST(ServerSettingsTest, PasswordFileIsPrivateOrRefused) {
    const test::TempDir folder(true);
    std::string password = "stale";
    std::string error;
    ASSERT_TRUE(ReadPasswordFile(PASSWORD_FILE_NAME, password, error));  // none yet
    EXPECT_EQ(password, "");
    ASSERT_TRUE(WritePasswordFile(PASSWORD_FILE_NAME, "s3cret word", error)) << error;
    struct stat status {};
    ASSERT_EQ(::stat(PASSWORD_FILE_NAME, &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    ASSERT_TRUE(ReadPasswordFile(PASSWORD_FILE_NAME, password, error)) << error;
    EXPECT_EQ(password, "s3cret word");
    // Written by hand, with a line feed at its end.
    test::WriteFile(PASSWORD_FILE_NAME, "typed\n");
    ASSERT_EQ(::chmod(PASSWORD_FILE_NAME, 0600), 0);
    ASSERT_TRUE(ReadPasswordFile(PASSWORD_FILE_NAME, password, error));
    EXPECT_EQ(password, "typed");
    ASSERT_EQ(::chmod(PASSWORD_FILE_NAME, 0644), 0);
    EXPECT_FALSE(ReadPasswordFile(PASSWORD_FILE_NAME, password, error));
    EXPECT_EQ(password, "");
    EXPECT_THAT(error, ::testing::HasSubstr("chmod 600"));
    ASSERT_TRUE(WritePasswordFile(PASSWORD_FILE_NAME, "", error));
    EXPECT_NE(::stat(PASSWORD_FILE_NAME, &status), 0);
}

}  // namespace

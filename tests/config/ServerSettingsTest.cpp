// The connection settings beside zarvo.cfg, the server line's forms, and the password file.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "config/PasswordFile.h"
#include "config/ServerSettings.h"
#include "tests/support/TempDir.h"

namespace {

using Security = ConnectionSecurity;
using ::testing::HasSubstr;
using ::testing::Not;

// A SHA-256 fingerprint of 32 bytes `byte` ("AB" gives "AB:AB:...:AB").
std::string Fingerprint(const std::string& byte, const std::string& separator = ":") {
    std::string text = byte;
    for (int i = 1; i < 32; ++i) {
        text += separator + byte;
    }
    return text;
}

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
    settings.trusted["news.example.com:563"] = Fingerprint("AA");
    settings.onlyNewArticles = false;
    settings.firstRunNewest = 0;
    settings.connections = 8;
    settings.pipelineDepth = 1;
    settings.collectPictures = false;
    settings.collectArchives = false;
    settings.maxPostMegabytes = 0;
    settings.maxUnnamedMegabytes = 1;
    settings.maxPictureMegabytes = 2;
    settings.archiveMaxMegabytes = 3;
    settings.archiveMaxFiles = 4;
    settings.skipPosters = {"*@spam.example", "a*,!*b"};
    settings.skipSubjects = {"*big sale*"};
    ASSERT_TRUE(WriteServerSettings(settings, error)) << error;
    // A later version's line is skipped, not fatal.
    test::WriteFile(SETTINGS_FILE_NAME,
                    test::ReadFile(SETTINGS_FILE_NAME) + "future-setting=1\r\nnot a setting\n");
    ASSERT_TRUE(TrustCertificate("other.example.com:563", Fingerprint("cd", ""), error)) << error;
    EXPECT_FALSE(TrustCertificate("third.example.com:563", "AA:BB", error));
    CServerSettings read;
    ASSERT_TRUE(ReadServerSettings(read, error)) << error;
    EXPECT_TRUE(read.startTls);
    EXPECT_EQ(read.user, settings.user);
    EXPECT_TRUE(read.allowUnencrypted);
    EXPECT_FALSE(read.onlyNewArticles);
    EXPECT_EQ(read.firstRunNewest, 0u);
    EXPECT_EQ(read.connections, 8);
    EXPECT_EQ(read.pipelineDepth, 1);
    EXPECT_FALSE(read.collectPictures);
    EXPECT_FALSE(read.collectArchives);
    EXPECT_EQ(read.maxPostMegabytes, 0u);
    EXPECT_EQ(read.maxUnnamedMegabytes, 1u);
    EXPECT_EQ(read.maxPictureMegabytes, 2u);
    EXPECT_EQ(read.archiveMaxMegabytes, 3u);
    EXPECT_EQ(read.archiveMaxFiles, 4u);
    EXPECT_EQ(read.skipPosters, settings.skipPosters);
    EXPECT_EQ(read.skipSubjects, settings.skipSubjects);
    EXPECT_THAT(read.otherLines, ::testing::ElementsAre("future-setting=1", "not a setting"));
    EXPECT_THAT(read.trusted, ::testing::ElementsAre(
                                  ::testing::Pair("news.example.com:563", Fingerprint("AA")),
                                  ::testing::Pair("other.example.com:563", Fingerprint("CD"))));
    // Values out of range keep their defaults.
    test::WriteFile(SETTINGS_FILE_NAME, "connections=0\npipeline-depth=65\nfirst-run-newest=x\n");
    ASSERT_TRUE(ReadServerSettings(read, error));
    EXPECT_EQ(read.connections, 2);
    EXPECT_EQ(read.pipelineDepth, 0);
    EXPECT_EQ(read.firstRunNewest, 1000u);
    EXPECT_TRUE(read.onlyNewArticles);
    settings.user = "two\nlines";
    EXPECT_FALSE(WriteServerSettings(settings, error));
    settings.user.clear();
    settings.skipSubjects = {"a\rb"};
    EXPECT_FALSE(WriteServerSettings(settings, error));
}

TEST(ServerSettingsTest, EachKeyReadsAndIsWrittenBackAndWhatIsNotKnownSurvives) {
    const test::TempDir folder(true);
    const std::string trust = "trust=news.example:563 ";
    const struct {
        std::string file;
        std::vector<std::string> written;  // lines of the file written back, in this order
        std::vector<std::string> absent;
    } cases[] = {
        // An older version's file: what to collect has its defaults.
        {"user=alice\nconnections=4\n",
         {"user=alice", "collect-pictures=1", "collect-archives=1", "max-post-size-mb=200",
          "max-unnamed-post-size-mb=50", "max-picture-size-mb=1024", "archive-max-size-mb=1024",
          "archive-max-files=10000", "connections=4"},
         {"skip-"}},
        {"collect-pictures=0\ncollect-archives=no\nmax-post-size-mb=0\n"
         "max-unnamed-post-size-mb=0\nmax-picture-size-mb=100000\narchive-max-size-mb=1\n"
         "archive-max-files=1000000\n",
         {"collect-pictures=0", "collect-archives=0", "max-post-size-mb=0",
          "max-unnamed-post-size-mb=0", "max-picture-size-mb=100000", "archive-max-size-mb=1",
          "archive-max-files=1000000"},
         {}},
        // Out of range, or no number: the default.
        {"max-post-size-mb=100001\nmax-unnamed-post-size-mb=-1\nmax-picture-size-mb=0\n"
         "archive-max-size-mb=1e3\narchive-max-files=1000001\n",
         {"max-post-size-mb=200", "max-unnamed-post-size-mb=50", "max-picture-size-mb=1024",
          "archive-max-size-mb=1024", "archive-max-files=10000"},
         {}},
        // Patterns keep their order; one that is no wildmat is left out.
        {"skip-subject=*big sale*\nskip-poster=*@spam.example\nskip-poster=bad [x]\n"
         "skip-poster=\nskip-poster=!a\nskip-poster=Spam*,!*friend*\n",
         {"skip-poster=*@spam.example", "skip-poster=Spam*,!*friend*", "skip-subject=*big sale*"},
         {"[x]", "skip-poster=\n", "!a\n"}},
        // A fingerprint in any case, with or without colons, is kept in one form.
        {trust + Fingerprint("ab", ""), {trust + Fingerprint("AB")}, {Fingerprint("ab", "")}},
        {"trust=b:1 " + Fingerprint("0f") + "\ntrust=a:1 " + Fingerprint("0F", ""),
         {"trust=a:1 " + Fingerprint("0F"), "trust=b:1 " + Fingerprint("0F")},
         {}},
        // One that is none is left out, and the rest of the file loads.
        {trust + "AA:BB\n" + trust + Fingerprint("A", "") + "\n" + trust + Fingerprint("AB", "-") +
             "\n" + trust + Fingerprint("GG") + "\nuser=bob\n",
         {"user=bob"},
         {"trust="}},
        // Lines it does not know come after the known ones, in their order; the header once.
        {"# Zarvo's connection settings; the server itself is on the first line of zarvo.cfg\n"
         "# my own note\nfuture-key=1\r\nuser=carol\n\nnot a setting\n#x=y\n",
         {"user=carol", "pipeline-depth=0", "# my own note", "future-key=1", "not a setting",
          "#x=y"},
         {"\r", "\n\n"}},
    };
    for (const auto& c : cases) {
        test::WriteFile(SETTINGS_FILE_NAME, c.file);
        CServerSettings settings;
        std::string error;
        ASSERT_TRUE(ReadServerSettings(settings, error)) << c.file;
        ASSERT_TRUE(WriteServerSettings(settings, error)) << c.file;
        const std::string written = test::ReadFile(SETTINGS_FILE_NAME);
        std::size_t after = 0;
        for (const std::string& line : c.written) {
            const std::size_t at = written.find("\n" + line + "\n", after);
            EXPECT_NE(at, std::string::npos) << line << " missing or out of order in\n" << written;
            after = at == std::string::npos ? after : at + 1;
        }
        for (const std::string& text : c.absent) {
            EXPECT_THAT(written, Not(HasSubstr(text))) << c.file;
        }
        // Written again, nothing changes: no header or other line is doubled.
        ASSERT_TRUE(ReadServerSettings(settings, error));
        ASSERT_TRUE(WriteServerSettings(settings, error));
        EXPECT_EQ(test::ReadFile(SETTINGS_FILE_NAME), written) << c.file;
    }
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

// The news server session's security against the real news server (INN as scripts/inn-server
// sets it up): TLS from the first byte on its own port, STARTTLS and AUTHINFO on the plain one,
// a self-signed certificate for 127.0.0.1, and groups that only a logged-in user may read.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "nntp/CNewsServer.h"
#include "tests/support/Capture.h"
#include "tests/support/InnServer.h"
#include "tests/support/UUEncode.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using Kind = CNewsServer::Failure::Kind;
using Security = CNewsServer::Security;

// A fingerprint in the same form that is not the certificate's: the server's certificate seen
// after it was replaced.
std::string OtherFingerprint(std::string fingerprint) {
    fingerprint[0] = fingerprint[0] == 'A' ? 'B' : 'A';
    return fingerprint;
}

// Sets an environment variable for as long as the object lives.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : m_name(name) {
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() { ::unsetenv(m_name); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* m_name;
};

class SecureSessionAgainstInnTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!inn.SecureAvailable()) {
            GTEST_SKIP() << test::InnServer::SecureSkipReason();
        }
        fingerprint = inn.CertificateFingerprint();
        ASSERT_FALSE(fingerprint.empty()) << inn.Error();
    }

    void TearDown() override {
        // The client logs what it does; never the password.
        if (!inn.Password().empty()) {
            EXPECT_THAT(capture.Text(), Not(HasSubstr(inn.Password())));
        }
    }

    // A session for the server at the address, protected as asked, trusting nothing yet.
    std::unique_ptr<CNewsServer> Session(const std::string& address, Security security) {
        auto session = std::make_unique<CNewsServer>(address, CNewsServer::NNTP_PORT);
        session->SetSecurity(security);
        return session;
    }

    test::InnServer inn;
    test::ConsoleCapture capture;
    std::string fingerprint;  // of the certificate the server shows
};

TEST_F(SecureSessionAgainstInnTest, EachSecurityLogsInAndReadsAGuardedArticleByteForByte) {
    const std::string group = inn.CreateGroup(test::InnServer::GroupAccess::LoginToRead);
    ASSERT_FALSE(group.empty()) << inn.Error();
    // Several TLS records' worth, with dot-stuffed lines among them.
    const std::string body = ".a dotted first line\r\n" +
                             test::UUEncode(test::PictureBytes(60000, 7), "guarded.jpg", "\r\n") +
                             "..\r\n.\r\nlast\r\n";
    ASSERT_FALSE(inn.Post(group, "guarded", body).empty()) << inn.Error();
    ASSERT_TRUE(inn.WaitForArticles(group, 1)) << inn.Error();

    const struct {
        const char* name;
        std::string address;
        Security security;
        bool allowUnencrypted;
    } cases[] = {
        {"plain, the password allowed unencrypted", inn.Address(), Security::None, true},
        {"implicit TLS", inn.TlsAddress(), Security::Tls, false},
        {"STARTTLS", inn.Address(), Security::StartTls, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto session = Session(c.address, c.security);
        session->SetCredentials(inn.User(), inn.Password(), c.allowUnencrypted);
        session->SetTrustedFingerprint(fingerprint);
        ASSERT_TRUE(session->Connect()) << session->LastFailure().text;
        std::unique_ptr<CNewsGroup> selected;
        ASSERT_TRUE(session->Open(group, selected));
        ASSERT_EQ(selected->last, 1);
        const auto message = session->ReadMessage(1);
        ASSERT_NE(message, nullptr);
        // EXPECT_TRUE rather than EXPECT_EQ: an 80 KB difference is no readable message.
        EXPECT_TRUE(message->body == body)
            << message->body.size() << " bytes back, " << body.size() << " posted";
        EXPECT_TRUE(session->Disconnect());
    }
}

TEST_F(SecureSessionAgainstInnTest, AnAnonymousReaderOfAGuardedGroupIsAskedToLogIn) {
    const std::string group = inn.CreateGroup(test::InnServer::GroupAccess::LoginToRead);
    ASSERT_FALSE(group.empty()) << inn.Error();
    const auto session = Session(inn.Address(), Security::None);
    ASSERT_TRUE(session->Connect());
    std::unique_ptr<CNewsGroup> selected;
    EXPECT_FALSE(session->Open(group, selected));
    EXPECT_EQ(session->LastFailure().kind, Kind::AuthenticationNeeded);
}

TEST_F(SecureSessionAgainstInnTest, APasswordIsNotSentUnencryptedWithoutConsent) {
    const auto session = Session(inn.Address(), Security::None);
    session->SetCredentials(inn.User(), inn.Password(), false);
    EXPECT_FALSE(session->Connect());
    EXPECT_EQ(session->LastFailure().kind, Kind::PasswordUnencrypted);
}

TEST_F(SecureSessionAgainstInnTest, WrongCredentialsAreRefusedAfterOneAttempt) {
    if (!inn.LogAvailable()) {
        GTEST_SKIP() << "the server's log cannot be read (" << test::InnServer::LOG_VARIABLE
                     << "): scripts/inn-server's syslog catcher is not running";
    }
    // ckpasswd's complaint for each attempt is what the server logs; a user name no one has,
    // unique to this process, cannot be confused with another test's attempts.
    const std::string stranger = "stranger" + std::to_string(::getpid());
    const struct {
        std::string user;
        std::string password;
        std::string logged;
    } cases[] = {
        {inn.User(), "not-" + inn.Password(), "invalid password for user " + inn.User()},
        {stranger, inn.Password(), "user " + stranger + " unknown"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.user);
        const std::string mark = inn.MarkLog();
        ASSERT_FALSE(mark.empty()) << inn.Error();
        const auto session = Session(inn.TlsAddress(), Security::Tls);
        session->SetCredentials(c.user, c.password, false);
        session->SetTrustedFingerprint(fingerprint);
        EXPECT_FALSE(session->Connect());
        EXPECT_EQ(session->LastFailure().kind, Kind::Credentials);
        EXPECT_EQ(session->LastFailure().text, "The server refused the user name or password.");
        EXPECT_EQ(inn.CountLogLinesSince(mark, c.logged), 1) << inn.Error();
    }
}

TEST_F(SecureSessionAgainstInnTest, TheSelfSignedCertificatePassesOnlyWhenTrusted) {
    const struct {
        const char* name;
        std::string address;
        Security security;
        std::string trusted;
    } cases[] = {
        {"implicit TLS", inn.TlsAddress(), Security::Tls, ""},
        {"STARTTLS", inn.Address(), Security::StartTls, ""},
        {"trusted", inn.TlsAddress(), Security::Tls, fingerprint},
        {"another certificate trusted", inn.TlsAddress(), Security::Tls,
         OtherFingerprint(fingerprint)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto session = Session(c.address, c.security);
        session->SetTrustedFingerprint(c.trusted);
        const bool trusted = c.trusted == fingerprint;
        EXPECT_EQ(session->Connect(), trusted) << session->LastFailure().text;
        if (trusted) {
            EXPECT_EQ(session->LastFailure().kind, Kind::None);
            continue;
        }
        EXPECT_EQ(session->LastFailure().kind, Kind::Certificate);
        EXPECT_EQ(session->LastFailure().fingerprint, fingerprint);
        EXPECT_THAT(session->LastFailure().reason, HasSubstr("self-signed"));
    }
}

TEST_F(SecureSessionAgainstInnTest, ACertificateTheSystemTrustsMustStillNameTheHost) {
    // OpenSSL's default store is this one certificate now: it verifies, but only for 127.0.0.1.
    const ScopedEnvironment authorities("SSL_CERT_FILE", inn.CertificatePath());
    const std::string localhost = "localhost:" + std::to_string(inn.TlsPort());
    const struct {
        std::string address;
        std::string trusted;
        std::string reason;  // empty: connects
    } cases[] = {
        {inn.TlsAddress(), "", ""},
        {localhost, "", "its certificate is for 127.0.0.1, not for localhost"},
        {localhost, fingerprint, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address + (c.trusted.empty() ? "" : ", trusted"));
        const auto session = Session(c.address, Security::Tls);
        session->SetTrustedFingerprint(c.trusted);
        EXPECT_EQ(session->Connect(), c.reason.empty()) << session->LastFailure().text;
        EXPECT_EQ(session->LastFailure().reason, c.reason);
        if (!c.reason.empty()) {
            EXPECT_EQ(session->LastFailure().kind, Kind::Certificate);
            EXPECT_EQ(session->LastFailure().fingerprint, fingerprint);
        }
    }
}

}  // namespace

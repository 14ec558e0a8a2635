// The news server session over TLS and with a log-in, against the scripted server: what the
// client sends, what it makes of certificates and of each answer to AUTHINFO, and that the
// password never reaches the log.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <thread>

#include "nntp/CNewsServer.h"
#include "tests/support/Capture.h"
#include "tests/support/ScriptedNntpServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificate.h"

namespace {

using namespace std::chrono_literals;
using test::ScriptedNntpServer;
using test::ScriptedReply;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using Kind = CNewsServer::Failure::Kind;
using Security = CNewsServer::Security;

constexpr const char* PASSWORD = "pa55-word";

class SecureSessionTest : public ::testing::Test {
protected:
    // A session for the scripted server, with short waits.
    CNewsServer& Session(Security security, const std::string& host = "127.0.0.1") {
        session.SetHost(host + ":" + std::to_string(server.Port()));
        session.SetSecurity(security);
        session.SetReadTimeout(5s);
        return session;
    }

    test::TestCertificate certificate;
    ScriptedNntpServer server;
    test::ConsoleCapture capture;
    CNewsServer session{"", CNewsServer::NNTP_PORT};
};

TEST_F(SecureSessionTest, ArticlesArriveWholeOverTlsAndStartTls) {
    // Longer than one TLS record, so that the body spans several.
    const std::string body = "line one\r\n.dotted\r\n" + std::string(40000, 'x') + "\r\n";
    const std::string wire =
        "222 1 <a@b>\r\nline one\r\n..dotted\r\n" + std::string(40000, 'x') + "\r\n.\r\n";
    for (const Security security : {Security::Tls, Security::StartTls}) {
        for (const ScriptedReply& reply :
             {ScriptedReply::Text(wire), ScriptedReply::SplitAt(wire, {3, 20, 21, 4000}, 5ms)}) {
            server.UseTls(security == Security::Tls ? ScriptedNntpServer::Tls::Implicit
                                                    : ScriptedNntpServer::Tls::StartTls,
                          certificate);
            server.On("GROUP  g", ScriptedReply::Text("211 1 1 1 g\r\n"));
            server.On("HEAD 1", ScriptedReply::ByteAtATime("221 1 <a@b>\r\nX: y\r\n.\r\n"));
            server.On("BODY 1", reply);
            CNewsServer client("127.0.0.1:" + std::to_string(server.Port()), 119);
            client.SetSecurity(security);
            client.SetTrustedFingerprint(certificate.Fingerprint());
            client.SetReadTimeout(5s);
            ASSERT_TRUE(client.Connect()) << client.LastFailure().text;
            std::unique_ptr<CNewsGroup> group;
            ASSERT_TRUE(client.Open("g", group));
            const auto message = client.ReadMessage(1);
            ASSERT_NE(message, nullptr);
            EXPECT_EQ(message->header, "X: y\r\n");
            EXPECT_TRUE(message->body == body) << "a body of " << message->body.size() << " bytes";
        }
    }
    const auto commands = server.Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "STARTTLS"), 2);
}

TEST_F(SecureSessionTest, ACertificateThatDoesNotVerifyIsRefusedUnlessTrusted) {
    server.UseTls(ScriptedNntpServer::Tls::Implicit, certificate);
    EXPECT_FALSE(Session(Security::Tls).Connect());
    const CNewsServer::Failure refused = session.LastFailure();
    EXPECT_EQ(refused.kind, Kind::Certificate);
    EXPECT_EQ(refused.fingerprint, certificate.Fingerprint());
    EXPECT_THAT(refused.reason, HasSubstr("self-signed"));
    EXPECT_THAT(refused.text, HasSubstr(certificate.Fingerprint()));
    EXPECT_THAT(server.Commands(), IsEmpty());

    // Trusted, it passes, in whichever form the fingerprint was typed; another certificate
    // under the same server is refused again.
    std::string typed;
    for (const char c : certificate.Fingerprint()) {
        if (c != ':') {
            typed += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    session.SetTrustedFingerprint(typed);
    EXPECT_TRUE(session.Connect());
    EXPECT_EQ(session.LastFailure().kind, Kind::None);
    const test::TestCertificate renewed;
    server.UseTls(ScriptedNntpServer::Tls::Implicit, renewed);
    EXPECT_FALSE(session.Connect());
    EXPECT_EQ(session.LastFailure().fingerprint, renewed.Fingerprint());
}

TEST_F(SecureSessionTest, ReasonsNameWhatIsWrongWithAnIssuerThisComputerKnows) {
    // The test certificates stand for the system's authorities here; a stranger is not one.
    const test::TestCertificate expired({.commonName = "expired test server", .expired = true});
    const test::TestCertificate stranger;
    const test::TempDir folder;
    const std::string authorities = folder.Folder() + "authorities.pem";
    test::WriteFile(authorities, certificate.Pem() + expired.Pem());
    ::setenv("SSL_CERT_FILE", authorities.c_str(), 1);
    struct Case {
        const test::TestCertificate& certificate;
        std::string host;
        std::string reason;
    };
    const Case cases[] = {
        {certificate, "127.0.0.1", ""},
        {certificate, "localhost", "its certificate is for 127.0.0.1, not for localhost"},
        {expired, "127.0.0.1", "its certificate expired on "},
        // Every fault is named, whom it is for first.
        {stranger, "localhost",
         "its certificate is for 127.0.0.1, not for localhost, and is self-signed: no authority "
         "this computer knows vouches for it"},
    };
    for (const Case& c : cases) {
        server.UseTls(ScriptedNntpServer::Tls::Implicit, c.certificate);
        const bool connected = Session(Security::Tls, c.host).Connect();
        EXPECT_EQ(connected, c.reason.empty()) << c.host;
        EXPECT_THAT(session.LastFailure().reason, ::testing::StartsWith(c.reason)) << c.host;
    }
    ::unsetenv("SSL_CERT_FILE");
}

TEST_F(SecureSessionTest, EachAnswerToALogInEndsAsItShould) {
    struct Case {
        std::string userReply;
        std::string passwordReply;  // empty: no password asked for
        Kind kind;
        std::string text;
    };
    const Case cases[] = {
        {"281 welcome", "", Kind::None, ""},
        {"381 password please", "281 welcome", Kind::None, ""},
        {"381 password please", "481 no", Kind::Credentials,
         "The server refused the user name or password."},
        {"482 too many connections", "", Kind::Refused,
         "The server refused the connection: too many connections"},
        {"381 password please", "502 go away", Kind::Refused,
         "The server refused the connection: go away"},
    };
    for (const Case& c : cases) {
        ScriptedNntpServer login;
        login.On("AUTHINFO USER zarvo", ScriptedReply::Text(c.userReply + "\r\n"));
        login.On(std::string("AUTHINFO PASS ") + PASSWORD,
                 ScriptedReply::Text(c.passwordReply + "\r\n"));
        CNewsServer client(login.Address(), 119);
        client.SetCredentials("zarvo", PASSWORD, true);
        EXPECT_EQ(client.Connect(), c.kind == Kind::None) << c.userReply;
        EXPECT_EQ(client.LastFailure().kind, c.kind) << c.userReply;
        EXPECT_EQ(client.LastFailure().text, c.text);
        std::vector<std::string> expected = {"AUTHINFO USER zarvo"};
        if (!c.passwordReply.empty()) {
            expected.push_back(std::string("AUTHINFO PASS ") + PASSWORD);
        }
        // One attempt, never a loop.
        EXPECT_EQ(login.Commands(), expected) << c.userReply;
    }
    EXPECT_THAT(capture.Text(), Not(HasSubstr(PASSWORD)));
}

TEST_F(SecureSessionTest, APasswordNeverGoesOutUnencryptedUnlessAllowed) {
    Session(Security::None).SetCredentials("zarvo", PASSWORD, false);
    EXPECT_FALSE(session.Connect());
    EXPECT_EQ(session.LastFailure().kind, Kind::PasswordUnencrypted);
    EXPECT_THAT(session.LastFailure().text, HasSubstr("Allow sending the password unencrypted"));
    EXPECT_THAT(server.Commands(), IsEmpty());
    // Over STARTTLS it goes out, after TLS has begun.
    server.UseTls(ScriptedNntpServer::Tls::StartTls, certificate);
    server.On("AUTHINFO USER zarvo", ScriptedReply::Text("381 more\r\n"));
    server.On(std::string("AUTHINFO PASS ") + PASSWORD, ScriptedReply::Text("281 ok\r\n"));
    session.SetSecurity(Security::StartTls);
    session.SetTrustedFingerprint(certificate.Fingerprint());
    ASSERT_TRUE(session.Connect()) << session.LastFailure().text;
    EXPECT_THAT(server.Commands(), ElementsAre("STARTTLS", "AUTHINFO USER zarvo",
                                               std::string("AUTHINFO PASS ") + PASSWORD));
}

TEST_F(SecureSessionTest, A480IsAnsweredByLoggingInAndAskingOnceMore) {
    bool loggedIn = false;
    server.SetHandler([&loggedIn](const std::string& command) {
        if (command == "GROUP  g") {
            return ScriptedReply::Text(loggedIn ? "211 1 1 1 g\r\n" : "480 who are you\r\n");
        }
        if (command == "AUTHINFO USER zarvo") {
            loggedIn = true;
            return ScriptedReply::Text("281 fine\r\n");
        }
        return ScriptedReply::Text("500 What?\r\n");
    });
    std::unique_ptr<CNewsGroup> group;
    ASSERT_TRUE(Session(Security::None).Connect());
    EXPECT_FALSE(session.Open("g", group));
    EXPECT_EQ(session.LastFailure().kind, Kind::AuthenticationNeeded);
    session.SetCredentials("zarvo", PASSWORD, true);
    EXPECT_TRUE(session.Open("g", group));
    EXPECT_THAT(server.Commands(),
                ElementsAre("GROUP  g", "GROUP  g", "AUTHINFO USER zarvo", "GROUP  g"));
}

TEST_F(SecureSessionTest, StartTlsRefusedOrFollowedByInjectedDataFails) {
    server.UseTls(ScriptedNntpServer::Tls::StartTls, certificate);
    const struct {
        std::string reply;
        Kind kind;
    } cases[] = {
        {"502 not here\r\n", Kind::StartTlsRefused},
        // A reply sent with more behind it: whatever follows was never protected by TLS.
        {"382 go ahead\r\n211 1 1 1 forged\r\n", Kind::Tls},
    };
    for (const auto& c : cases) {
        server.On("STARTTLS", ScriptedReply::Text(c.reply));
        EXPECT_FALSE(Session(Security::StartTls).Connect());
        EXPECT_EQ(session.LastFailure().kind, c.kind) << c.reply;
        EXPECT_TRUE(session.ConnectionLost());
    }
}

TEST_F(SecureSessionTest, AServerOnTls12CannotStartANewHandshake) {
    // A new handshake would bring a certificate that is never checked: the client refuses it,
    // and what follows goes over the first handshake's keys or not at all.
    server.UseTls(ScriptedNntpServer::Tls::Implicit, certificate, true);
    ScriptedReply date = ScriptedReply::Text("111 20240101000000\r\n");
    date.renegotiateFirst = true;
    server.On("DATE", date);
    server.On("MODE READER", ScriptedReply::Text("200 ready\r\n"));
    Session(Security::Tls).SetTrustedFingerprint(certificate.Fingerprint());
    ASSERT_TRUE(session.Connect());
    std::string reply;
    session.DoCommand("DATE", &reply, true);
    session.DoCommand("MODE READER", &reply, true);
    EXPECT_EQ(server.Handshakes(), 1);
}

TEST_F(SecureSessionTest, CancelEndsABlockedTlsRead) {
    server.UseTls(ScriptedNntpServer::Tls::Implicit, certificate);
    server.On("DATE", ScriptedReply::Silence());
    Session(Security::Tls).SetTrustedFingerprint(certificate.Fingerprint());
    ASSERT_TRUE(session.Connect());
    session.SetReadTimeout(CNewsServer::DEFAULT_READ_TIMEOUT);
    std::thread stopper([&] {
        server.WaitForCommands(1);
        session.Cancel();
    });
    const auto start = std::chrono::steady_clock::now();
    std::string reply;
    session.DoCommand("DATE", &reply, true);
    stopper.join();
    // The bound only tells an ended read from the minute-long time-out.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_TRUE(session.ConnectionLost());
}

}  // namespace

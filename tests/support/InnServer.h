#pragma once

// The real news server of the test run (Debian's INN, named by the environment variable
// ZARVO_INN as "host:port"), seen from a test: newsgroups of the test's own, made and removed
// through scripts/inn-server, and articles posted to them with NNTP POST. It neither starts nor
// stops the server (the test command does) and reads nothing back but status lines: reading
// articles is the client's job under test.
//
// The server's secure side comes from more variables that scripts/inn-server prints: the TLS
// port, the certificate both readers show, a test user, and the file of the server's log. Groups
// under "zarvo.secure." are readable only after a log-in; the helper logs in as the test user
// (on the plain port: the password goes to the loopback only) before it posts to them or looks
// at them.
//
// Every operation reports failure by its result and leaves the reason in Error(), worded for a
// test's failure message.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace test {

class InnServer {
public:
    static constexpr const char* ENVIRONMENT_VARIABLE = "ZARVO_INN";
    // "host:port" of the reader that speaks TLS from the first byte.
    static constexpr const char* TLS_VARIABLE = "ZARVO_INN_TLS";
    // The certificate file that both readers show.
    static constexpr const char* CERTIFICATE_VARIABLE = "ZARVO_INN_CERT";
    static constexpr const char* USER_VARIABLE = "ZARVO_INN_USER";
    static constexpr const char* PASSWORD_VARIABLE = "ZARVO_INN_PASSWORD";
    // The file that the server's log messages go to; unset when they go elsewhere.
    static constexpr const char* LOG_VARIABLE = "ZARVO_INN_LOG";
    // Groups whose names begin so are readable only after a log-in.
    static constexpr std::string_view LOGIN_HIERARCHY = "zarvo.secure.";

    enum class GroupAccess { Open, LoginToRead };

    // How long a new group or a new article may take to show in the reader.
    static constexpr std::chrono::seconds SETTLE_TIMEOUT{20};
    // How long one exchange with the server may take.
    static constexpr std::chrono::seconds IO_TIMEOUT{60};

    // The server that ZARVO_INN names; Available() is false when it names none.
    InnServer();
    // The server at "host:port" (or "host" for port 119).
    explicit InnServer(const std::string& address);
    // Removes every group that this object created and still holds.
    ~InnServer();
    InnServer(const InnServer&) = delete;
    InnServer& operator=(const InnServer&) = delete;

    bool Available() const { return !m_address.empty(); }
    // The text to skip a test with when no server is named.
    static std::string SkipReason();
    // "host:port", as Zarvo's client accepts it.
    const std::string& Address() const { return m_address; }

    // Whether the TLS reader, the certificate and the test user are named.
    bool SecureAvailable() const;
    static std::string SecureSkipReason();
    const std::string& TlsAddress() const { return m_tlsAddress; }
    int TlsPort() const { return m_tlsPort; }
    const std::string& CertificatePath() const { return m_certificatePath; }
    const std::string& User() const { return m_user; }
    const std::string& Password() const { return m_password; }
    // The user that the helper logs in as for the groups that need it.
    void SetCredentials(const std::string& user, const std::string& password);
    // The certificate's SHA-256 fingerprint as `openssl x509 -fingerprint` gives it, without its
    // label ("AB:CD:..."), or the empty text.
    std::string CertificateFingerprint();

    // Makes a newsgroup whose name no other test, process or run uses
    // ("zarvo.test.p<pid>.n<counter>.t<seconds>", or under LOGIN_HIERARCHY for LoginToRead),
    // open to posting, and waits until the reader knows it. Returns the name, or the empty text.
    std::string CreateGroup(GroupAccess access = GroupAccess::Open);
    // Removes the group from the server (and from this object's list).
    bool RemoveGroup(const std::string& name);

    // Posts one article with From, Newsgroups and Subject headers. The body's lines end in
    // CR LF (one is added at the end when missing); a bare CR or LF is refused, since the server
    // would not give it back as it was sent. Lines beginning with "." are sent dot-stuffed.
    // Returns the article's message id, or the empty text.
    std::string Post(const std::string& group, const std::string& subject, std::string_view body);
    // Waits until the reader counts at least `count` articles in the group.
    bool WaitForArticles(const std::string& group, std::uint32_t count);
    // Removes a posted article from the spool; its number stays in the group as a number
    // without an article.
    bool DeleteArticle(const std::string& messageId);

    // Whether the server's log can be read.
    bool LogAvailable() const;
    // Puts a line of its own into the server's log (through syslog) and waits until it is
    // there: whatever the server logged before has been written then too. Returns the line, or
    // the empty text.
    std::string MarkLog();
    // How many lines of the server's log after the mark hold the text, up to a new mark; none
    // on failure.
    std::optional<int> CountLogLinesSince(const std::string& mark, const std::string& text);

    const std::string& Error() const { return m_error; }

private:
    void SetAddress(const std::string& address);
    bool Fail(std::string message);
    // Runs a shell command and keeps its output (standard error included); false unless it
    // exits with 0.
    bool RunCommand(const std::string& command, std::string& output);
    bool RunScript(const std::string& arguments);
    bool EnsureConnected();
    // AUTHINFO USER and PASS on the kept connection, once per connection.
    bool LogIn();
    void CloseConnection();
    bool SendAll(std::string_view data);
    bool ReadStatusLine(std::string& line);
    // Sends a command and reads its status line, over a fresh connection when the kept one
    // turns out to be broken; logged in first when the group needs it.
    bool Exchange(const std::string& command, std::string& status, const std::string& group);
    // The GROUP reply's article count and whether the group is known, or false on failure.
    bool QueryGroup(const std::string& group, bool& known, std::uint32_t& count);

    std::string m_address;
    std::string m_host;
    int m_port = 119;
    std::string m_tlsAddress;
    int m_tlsPort = 0;
    std::string m_certificatePath;
    std::string m_user;
    std::string m_password;
    std::string m_logPath;
    int m_fd = -1;  // the connection kept for posting, or -1
    bool m_loggedIn = false;
    std::string m_pending;  // bytes received after the last status line
    std::vector<std::string> m_groups;
    std::string m_error;
};

}  // namespace test

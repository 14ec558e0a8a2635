#pragma once

// The real news server of the test run (Debian's INN, named by the environment variable
// ZARVO_INN as "host:port"), seen from a test: newsgroups of the test's own, made and removed
// through scripts/inn-server, and articles posted to them with NNTP POST. It neither starts nor
// stops the server (the test command does) and reads nothing back but status lines: reading
// articles is the client's job under test.
//
// Every operation reports failure by its result and leaves the reason in Error(), worded for a
// test's failure message.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace test {

class InnServer {
public:
    static constexpr const char* ENVIRONMENT_VARIABLE = "ZARVO_INN";
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

    // Makes a newsgroup whose name no other test, process or run uses
    // ("zarvo.test.p<pid>.n<counter>.t<seconds>"), open to posting, and waits until the reader
    // knows it. Returns the name, or the empty text.
    std::string CreateGroup();
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

    const std::string& Error() const { return m_error; }

private:
    void SetAddress(const std::string& address);
    bool Fail(std::string message);
    bool RunScript(const std::string& arguments);
    bool EnsureConnected();
    void CloseConnection();
    bool SendAll(std::string_view data);
    bool ReadStatusLine(std::string& line);
    // Sends a command and reads its status line, over a fresh connection when the kept one
    // turns out to be broken.
    bool Exchange(const std::string& command, std::string& status);
    // The GROUP reply's article count and whether the group is known, or false on failure.
    bool QueryGroup(const std::string& group, bool& known, std::uint32_t& count);

    std::string m_address;
    std::string m_host;
    int m_port = 119;
    int m_fd = -1;          // the connection kept for posting, or -1
    std::string m_pending;  // bytes received after the last status line
    std::vector<std::string> m_groups;
    std::string m_error;
};

}  // namespace test

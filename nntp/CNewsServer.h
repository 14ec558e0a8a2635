#pragma once

// One client session with one news server over one TCP connection (RFC 3977): connecting and
// reading the greeting, sending a command and reading its status line or its status line and
// dot-terminated block, listing and selecting newsgroups, and fetching articles. Every failure
// is written as one diagnostic line to standard output; nothing is ever shown to the user. It
// never reconnects on its own: it says when the connection was lost, and the caller decides.
//
// A session is used by one thread at a time; only Cancel(), ClearCancel() and Abort() may be
// called from another thread.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "nntp/CNewsGroup.h"
#include "nntp/CNewsMessage.h"
#include "nntp/COverviewEntry.h"
#include "nntp/CReplyReader.h"
#include "nntp/ConnectionSecurity.h"
#include "platform/TcpConnection.h"

class CNewsServer {
public:
    static constexpr int NNTP_PORT = 119;
    // Implicit TLS (RFC 8143).
    static constexpr int NNTPS_PORT = 563;

    using Security = ConnectionSecurity;

    // Why connecting (or authenticating when a command asked for it) failed, beyond the network
    // itself: what the user is to be told, and for a refused certificate what to offer to trust.
    struct Failure {
        enum class Kind {
            None,
            Certificate,           // the certificate does not verify; trusting it would help
            Tls,                   // the secure connection could not be set up
            StartTlsRefused,       // the server would not start TLS
            PasswordUnencrypted,   // the password would go out in plain text, and may not
            AuthenticationNeeded,  // the server asks for a user name, and none is set
            Credentials,           // 481: the user name or password is wrong
            Refused,               // 482 or 502: the server refused (often too many connections)
        };
        Kind kind = Kind::None;
        std::string text;         // for the user
        std::string reason;       // Certificate: why it does not verify
        std::string fingerprint;  // Certificate: its SHA-256 fingerprint
    };
    // A read that receives nothing for this long ends as if the server had closed.
    static constexpr std::chrono::milliseconds DEFAULT_READ_TIMEOUT{60000};
    // No reply may grow beyond this; a larger one fails like a failed allocation.
    static constexpr std::size_t MAX_REPLY_SIZE = std::size_t{64} << 20;

    // `host` may name a port ("host:port", "[v6-address]:port"); otherwise `port` is used.
    CNewsServer(const std::string& host, int port);
    // Wipes the password.
    ~CNewsServer();
    CNewsServer(const CNewsServer&) = delete;
    CNewsServer& operator=(const CNewsServer&) = delete;

    // Replaces the host. "host:port" and "[v6-address]:port" name a port too; a bare host (or a
    // bare IPv6 address) means port 119.
    void SetHost(const std::string& host);
    // There is no socket library to start on this platform: succeeds and says so in the log.
    bool Init();
    // Chooses how later connections are protected; None is the default.
    void SetSecurity(Security security) { this->security = security; }
    // With a user name, Connect authenticates (AUTHINFO USER/PASS, RFC 4643) right after the
    // greeting and after STARTTLS, and so does any command the server answers with 480. The
    // password goes out on a plain connection only with `allowUnencrypted`. An empty user name
    // means no authentication. The password is wiped from memory when replaced or destroyed.
    void SetCredentials(const std::string& user, const std::string& password,
                        bool allowUnencrypted);
    // A certificate, by its SHA-256 fingerprint (with or without colons, in either case), that
    // the user chose to trust for this server although it does not verify; empty for none.
    void SetTrustedFingerprint(const std::string& fingerprint) { trustedFingerprint = fingerprint; }
    // Why the last Connect or command failed beyond the network (securing the connection,
    // logging in, or the log-in a command asked for); kind None when nothing did.
    const Failure& LastFailure() const { return failure; }
    // Connects to the host (each of its addresses in turn) and reads the greeting, whatever it
    // says; with TLS, STARTTLS or a user name set, also secures the connection and logs in, and
    // fails when that fails (LastFailure() says why). A socket that an earlier Connect left is
    // closed first.
    bool Connect();
    // Sends the command and reads the reply: its status line, or with singleLine false its
    // status line followed by its block (a status line not beginning with "2" has no block).
    // True says only that nothing failed locally; the caller judges the reply.
    bool DoCommand(const std::string& command, std::string* reply, bool singleLine);
    // Reads one status line, CR LF included. A line cut short by the end of the connection
    // comes back as it is, with true; ConnectionLost() tells.
    bool ReadLine(std::string* reply);
    // Reads one block, up to and without its terminating dot line, with dot-stuffing undone.
    // False when the block did not end (the connection ended first) or outgrew the reply cap.
    bool ReadBuffer(std::string* reply);
    // Sends "quit" and shuts the connection down; true when the shutdown succeeded.
    bool Disconnect();
    // Gives the connection up at once, without a word and without reading what is still on its
    // way: for a connection whose replies can no longer be matched to its requests. It counts as
    // lost, so it is connected afresh before it is used again.
    void Drop();
    // Writes one diagnostic line: local time, the function name and the message.
    static void Log(std::string_view function, std::string_view message);

    // Appends the server's newsgroups (LIST) to the session's list; a second call appends again.
    bool FetchNewsGroups();
    // Hands over every record fetched so far; the session keeps none of them.
    bool GetNewsGroups(std::vector<std::unique_ptr<CNewsGroup>>& groups);
    // Selects a newsgroup (GROUP) and hands out its record with its first and last numbers.
    bool Open(const std::string& name, std::unique_ptr<CNewsGroup>& group);
    // Fetches one article of the selected group (HEAD, then BODY), or nothing. A reply that
    // names another article drops the connection (see Drop).
    std::unique_ptr<CNewsMessage> ReadMessage(std::uint32_t number);

    // Asks CAPABILITIES (RFC 3977, 5.2) and keeps the answer, which changes after logging in
    // (RFC 4643); false when the server has no such command, and then nothing is known.
    bool Capabilities();
    // As Capabilities, in two halves: AskCapabilities sends the command and returns at once, so
    // that the next command travels with it (RFC 3977, 3.5); its reply is read before the next
    // reply, or by ReadCapabilities.
    bool AskCapabilities();
    bool ReadCapabilities();
    // Whether the last answer to Capabilities listed the capability (its first word).
    bool HasCapability(std::string_view name) const;
    // The overview of the selected group's articles first..last: with OVER where the server
    // lists it, otherwise with XOVER, which older servers answer. A range without articles gives
    // no entries. False when the server offers neither, or the exchange failed; the caller then
    // reads headers instead.
    bool Overview(std::uint32_t first, std::uint32_t last, std::vector<COverviewEntry>& entries);
    // As Overview, in two halves, so that requests can follow the overview's in flight: its
    // reply must then be read, with ReadOverview, before theirs.
    bool AskOverview(std::uint32_t first, std::uint32_t last);
    bool ReadOverview(std::vector<COverviewEntry>& entries);
    // Whether an overview is to be expected: the server listed OVER, or gave one already.
    bool ExpectsOverview() const;

    // Pipelining (RFC 3977, 3.5): sends a command without waiting for its reply, so that several
    // are in flight at once; the replies come back in order through ReadReply. A command holding
    // a line break or a zero byte is refused, as in DoCommand.
    bool SendCommand(const std::string& command);
    // The next reply: its status line, and, when `hasBlock` says the command answers with one
    // and the status begins with 2, its block. False when the connection failed (ConnectionLost
    // then says so) or the reply outgrew the cap.
    bool ReadReply(std::string* status, std::string* block, bool hasBlock);

    // Callable from any thread: ends the exchange under way at once (a name look-up, a connect,
    // a blocked read) and makes every later one fail until ClearCancel(). For Stop.
    void Cancel();
    void ClearCancel();
    // Callable from any thread: as Cancel(), for good. For ending the program while the session
    // is busy.
    void Abort();
    // True once the connection has ended under the session (closed by the server, failed, timed
    // out, cancelled) since the last successful Connect: whatever is asked next cannot be
    // answered. A refusal by the server (a reply code) is not a lost connection.
    bool ConnectionLost() const { return lost; }
    // The last Connect's greeting said the server will not serve the connection (400 or 502,
    // as a server with too many connections says). Connect still returns true for it.
    bool GreetingRefused() const { return greetingRefused; }

    void SetReadTimeout(std::chrono::milliseconds timeout) { readTimeout = timeout; }
    // Lowers the reply cap; for tests, which cannot afford 64 MiB replies.
    void SetMaxReplySize(std::size_t bytes) { maxReplySize = bytes; }
    // Why the last Connect reached no server at all (no such host, refused, timed out), in a
    // user's words; empty when the network made a connection.
    const std::string& ConnectProblem() const { return sock.ConnectProblem(); }
    const std::string& GetHost() const { return host; }
    int GetPort() const { return port; }
    bool IsConnected() const { return connected; }

private:
    // The reply reader's source: receives into the room; 0 once the connection has ended.
    std::size_t Receive(std::span<char> room);
    // Sends the command (followed by `secret`, which is wiped from the send buffer afterwards)
    // and reads its reply, as DoCommand does, without its checks and without answering a 480.
    bool Exchange(std::string_view command, std::string* reply, bool singleLine,
                  std::string_view secret = {});
    // TLS on the connection just made; false, with `failure` set and the connection dropped,
    // when the handshake or the certificate fails.
    bool StartTls();
    // STARTTLS, then TLS (RFC 4642); false as StartTls.
    bool StartTlsOnPlainConnection();
    // AUTHINFO USER/PASS (RFC 4643); false, with `failure` set unless the network failed, and
    // the connection dropped.
    bool Authenticate();
    void Fail(Failure::Kind kind, std::string text);
    // Whether the status line of a reply to ReadMessage's request names article `number`; one
    // that does not drops the connection, which is out of step with the server.
    bool AnswersRequest(std::string_view code, std::uint32_t number, const std::string& status);
    // 480 (RFC 4643, 2.2): the server serves nothing more before a log-in.
    void FailLogInNeeded();

    std::string host;
    int port;
    Security security = Security::None;
    std::string user;
    std::string password;
    bool allowUnencrypted = false;
    std::string trustedFingerprint;
    Failure failure;
    bool authenticating = false;
    int defaultPort;
    platform::TcpConnection sock;
    bool connected = false;
    bool lost = false;
    std::vector<std::unique_ptr<CNewsGroup>> groupList;
    // The session's own copy of the group that the last successful Open selected, so that
    // ReadMessage never depends on a record that the caller may already have released.
    std::optional<CNewsGroup> currentGroup;
    // The first words of the last CAPABILITIES answer.
    std::vector<std::string> capabilities;
    // How this server answers for an overview: not asked yet, OVER, XOVER, or not at all.
    enum class OverviewCommand { Unknown, Over, Xover, None };
    OverviewCommand overviewCommand = OverviewCommand::Unknown;
    bool greetingRefused = false;
    bool capabilitiesPending = false;  // a CAPABILITIES was sent whose reply is unread
    bool overviewPending = false;      // likewise an OVER or XOVER
    bool overviewWorked = false;
    std::chrono::milliseconds readTimeout = DEFAULT_READ_TIMEOUT;
    std::size_t maxReplySize = MAX_REPLY_SIZE;

    // Cuts what arrives into replies and keeps what follows the current one for the next read.
    CReplyReader reader;
};

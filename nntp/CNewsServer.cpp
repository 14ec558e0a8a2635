#include "nntp/CNewsServer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>

#include "nntp/ArticleReply.h"
#include "nntp/HostAndPort.h"
#include "nntp/Split.h"
#include "platform/Console.h"
#include "platform/Secret.h"

namespace {

constexpr std::size_t GREETING_LOG_LIMIT = 2047;

// A reply used as text stops at its first zero byte.
std::string_view AsText(const std::string& reply) {
    return std::string_view(reply.data(), std::min(reply.size(), reply.find('\0')));
}

bool BeginsWith2(const std::string& reply) {
    return !reply.empty() && reply[0] == '2';
}

// The value of a field's leading decimal digits, after optional blanks and an optional sign;
// 0 when it has none. Article numbers run to 2^32 - 1 while the record holds signed 32-bit
// numbers, so the value is kept modulo 2^32 (readers compare them unsigned) and saturates
// rather than overflowing.
std::int32_t DecimalValue(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value =
            std::min<std::uint64_t>(value * 10 + static_cast<unsigned>(text[i] - '0'), UINT32_MAX);
    }
    std::uint32_t bits = static_cast<std::uint32_t>(value);
    if (negative) {
        bits = 0u - bits;
    }
    return static_cast<std::int32_t>(bits);
}

}  // namespace

CNewsServer::CNewsServer(const std::string& host_, int port_)
    : port(port_),
      defaultPort(port_),
      reader([this](std::span<char> room) { return Receive(room); }) {
    const HostAndPort parsed = ParseHostAndPort(host_);
    host = parsed.host;
    port = parsed.port.value_or(port_);
}

CNewsServer::~CNewsServer() {
    platform::WipeSecret(password);
}

void CNewsServer::SetCredentials(const std::string& user_, const std::string& password_,
                                 bool allowUnencrypted_) {
    platform::WipeSecret(password);
    user = user_;
    password = password_;
    allowUnencrypted = allowUnencrypted_;
}

void CNewsServer::Fail(Failure::Kind kind, std::string text) {
    failure.kind = kind;
    failure.text = std::move(text);
}

void CNewsServer::SetHost(const std::string& host_) {
    const HostAndPort parsed = ParseHostAndPort(host_);
    host = parsed.host;
    port = parsed.port.value_or(defaultPort);
}

bool CNewsServer::Init() {
    Log("CNewsServer::Init", "Winsock initialized correctly...");
    return true;
}

bool CNewsServer::Connect() {
    failure = {};
    // Until a connection is made there is none to use.
    lost = true;
    capabilitiesPending = false;
    overviewPending = false;
    const std::vector<platform::TcpConnection::Address> addresses =
        sock.ResolveCancellable(host, port);
    if (addresses.empty()) {
        Log("CNewsServer::Connect", "gethostbyname failed ()");
        return false;
    }
    bool madeSocket = false;
    for (const platform::TcpConnection::Address& address : addresses) {
        if (!sock.OpenSocket(address)) {
            continue;
        }
        reader.Clear();
        if (!madeSocket) {
            platform::WriteConsole("Socket is: '" + std::to_string(sock.Handle()) + "'\n");
            platform::WriteConsole("Server is '" + host + "'\n");
            madeSocket = true;
        }
        if (!sock.ConnectTo(address, readTimeout)) {
            continue;
        }
        lost = false;
        if (security == Security::Tls && !StartTls()) {
            return false;
        }
        std::string greeting;
        greetingRefused = false;
        if (ReadLine(&greeting)) {
            // RFC 3977, 5.1: 400 and 502 say the server will not serve this connection.
            greetingRefused = greeting.starts_with("4") || greeting.starts_with("5");
            std::string_view text = AsText(greeting);
            if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n") {
                text.remove_suffix(2);
            }
            Log("CNewsServer::Connect",
                "Server says '" + std::string(text.substr(0, GREETING_LOG_LIMIT)) + "'");
        }
        connected = true;
        if (lost) {
            return true;  // the greeting never came; the caller finds the connection gone
        }
        if (security == Security::StartTls && !StartTlsOnPlainConnection()) {
            return false;
        }
        return user.empty() || Authenticate();
    }
    sock.Close();
    Log("CNewsServer::Connect",
        madeSocket ? "connect failed ()" : "Couldn't create the socket... ()");
    return false;
}

bool CNewsServer::StartTls() {
    if (sock.StartTls(host, trustedFingerprint, readTimeout)) {
        return true;
    }
    const platform::TlsChannel* tls = sock.Tls();
    const std::string problem = tls != nullptr ? tls->Problem() : "the connection was cut";
    Log("CNewsServer::Connect", "TLS failed: " + problem);
    if (tls != nullptr && tls->CertificateRefused()) {
        Fail(Failure::Kind::Certificate, "Zarvo did not connect to " + host + ": " + problem +
                                             ". The certificate's SHA-256 fingerprint is " +
                                             tls->Fingerprint() + ".");
        failure.reason = problem;
        failure.fingerprint = tls->Fingerprint();
    } else {
        Fail(Failure::Kind::Tls,
             "Zarvo could not make a secure connection to " + host + ": " + problem + ".");
    }
    Drop();
    return false;
}

bool CNewsServer::StartTlsOnPlainConnection() {
    // RFC 4642: nothing but STARTTLS is said before TLS begins.
    std::string reply;
    if (!Exchange("STARTTLS", &reply, true) || lost || !reply.starts_with("382")) {
        const std::string text(AsText(reply).substr(0, AsText(reply).find('\r')));
        Log("CNewsServer::Connect", "STARTTLS refused, response '" + text + "'");
        if (!lost) {
            Fail(Failure::Kind::StartTlsRefused,
                 "The server " + host + " does not offer STARTTLS (it answered '" + text +
                     "'). Choose TLS, or no security, in Configure.");
        }
        Drop();
        return false;
    }
    // Bytes that came after the go-ahead were sent before TLS protects anything: whoever sent
    // them may not be the server.
    if (reader.Buffered() != 0) {
        Log("CNewsServer::Connect", "data after the STARTTLS reply");
        Fail(Failure::Kind::Tls, "The server " + host +
                                     " sent data it should not have before the secure connection "
                                     "began; Zarvo dropped the connection.");
        Drop();
        return false;
    }
    return StartTls();
}

bool CNewsServer::Authenticate() {
    constexpr std::string_view FN = "CNewsServer::Authenticate";
    // RFC 4643, 2.3: never a password in plain text unless the user said so.
    if (sock.Tls() == nullptr && !allowUnencrypted) {
        Log(FN, "the password would go out unencrypted");
        Fail(Failure::Kind::PasswordUnencrypted,
             "Zarvo did not send the password to " + host +
                 ": the connection is not encrypted. Choose TLS or STARTTLS in Configure, or "
                 "tick \"Allow sending the password unencrypted\".");
        Drop();
        return false;
    }
    if (user.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos ||
        password.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        Log(FN, "the user name or password holds a line break or a zero byte");
        Fail(Failure::Kind::Credentials, "The user name or password holds a line break.");
        Drop();
        return false;
    }
    authenticating = true;
    std::string reply;
    bool exchanged = Exchange("AUTHINFO USER " + user, &reply, true);
    if (exchanged && !lost && reply.starts_with("381") && password.empty()) {
        authenticating = false;
        Log(FN, "the server asks for a password, and none is set");
        Fail(Failure::Kind::Credentials,
             "The server asks for the password of " + user + ". Enter it in Configure.");
        Drop();
        return false;
    }
    if (exchanged && reply.starts_with("381")) {
        exchanged = Exchange("AUTHINFO PASS ", &reply, true, password);
    }
    authenticating = false;
    const std::string text(AsText(reply).substr(0, AsText(reply).find('\r')));
    if (exchanged && !lost && reply.starts_with("281")) {
        return true;
    }
    Log(FN, "refused, response '" + text + "'");
    if (lost) {
        return false;  // the network failed, not the log-in
    }
    if (reply.starts_with("481")) {
        Fail(Failure::Kind::Credentials, "The server refused the user name or password.");
    } else {
        // 482, 502 and anything unforeseen: the server's own words say most.
        const std::size_t blank = text.find(' ');
        Fail(Failure::Kind::Refused,
             "The server refused the connection: " +
                 (blank == std::string::npos ? text : text.substr(blank + 1)));
    }
    Drop();
    return false;
}

void CNewsServer::Drop() {
    sock.Shutdown();
    lost = true;
    reader.Clear();
}

bool CNewsServer::DoCommand(const std::string& command, std::string* reply, bool singleLine) {
    failure = {};
    if (!connected) {
        Log("CNewsServer::DoCommand", "No connection open...");
        return false;
    }
    if (reply == nullptr) {
        Log("CNewsServer::DoCommand", "result is NULL");
        return false;
    }
    // A name taken from a file or a server must never smuggle a second command onto the line.
    if (command.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        Log("CNewsServer::DoCommand", "refused a command holding a line break or a zero byte");
        return false;
    }
    if (!Exchange(command, reply, singleLine)) {
        return false;
    }
    // 480: the server wants to know who asks (RFC 4643, 2.2); log in, then ask once more.
    if (!reply->starts_with("480") || authenticating || lost) {
        return true;
    }
    if (user.empty()) {
        FailLogInNeeded();
        return true;
    }
    if (!Authenticate()) {
        return true;  // the 480 stays the reply; LastFailure() says why
    }
    return Exchange(command, reply, singleLine);
}

void CNewsServer::FailLogInNeeded() {
    Fail(Failure::Kind::AuthenticationNeeded,
         "The server " + host + " asks for a user name and password. Enter them in Configure.");
}

bool CNewsServer::Exchange(std::string_view command, std::string* reply, bool singleLine,
                           std::string_view secret) {
    // One buffer, of the right size from the start so that no copy of a secret is left behind
    // in memory given back; wiped once sent.
    std::string line;
    line.reserve(command.size() + secret.size() + 2);
    line.append(command).append(secret).append("\r\n");
    const bool sent = sock.SendAll(line, readTimeout);
    platform::WipeSecret(line);
    if (!sent) {
        lost = true;
        Log("CNewsServer::DoCommand", "Couldn't write to socket...");
    }
    // The reply to a CAPABILITIES sent ahead comes first.
    if (capabilitiesPending) {
        ReadCapabilities();
    }
    if (singleLine) {
        return ReadLine(reply);
    }
    // A multi-line command answers with a status line and, only when that says success, a
    // block (RFC 3977, 3.1.1); a refusal is a single line and has no block to wait for.
    if (!ReadLine(reply)) {
        return false;
    }
    if (!BeginsWith2(*reply)) {
        return true;
    }
    std::string block;
    if (!ReadBuffer(&block)) {
        return false;
    }
    reply->append(block);
    return true;
}

std::size_t CNewsServer::Receive(std::span<char> room) {
    const platform::TcpConnection::ReceiveResult result = sock.Receive(room, readTimeout);
    switch (result.status) {
        case platform::TcpConnection::ReceiveStatus::Data:
            return result.count;
        case platform::TcpConnection::ReceiveStatus::TimedOut:
            // A server that stays silent this long is treated as gone, for this read and every
            // later one, so that a dead server cannot cost a time-out per command.
            sock.Shutdown();
            break;
        default:
            break;
    }
    lost = true;
    return 0;
}

bool CNewsServer::ReadLine(std::string* reply) {
    if (reader.ReadLine(*reply, maxReplySize) == CReplyReader::Status::TooLarge) {
        Log("CNewsServer::ReadLine", "Couldn't realloc");
        return false;
    }
    return true;
}

bool CNewsServer::ReadBuffer(std::string* reply) {
    switch (reader.ReadBlock(*reply, maxReplySize)) {
        case CReplyReader::Status::Complete:
            return true;
        case CReplyReader::Status::TooLarge:
            Log("CNewsServer::ReadBuffer", "Couldn't realloc");
            return false;
        case CReplyReader::Status::Cut:
            break;
    }
    // A block without its dot line is not the whole block: a list or an article cut short
    // must never pass for a complete one.
    Log("CNewsServer::ReadBuffer", "the connection ended inside the block");
    return false;
}

bool CNewsServer::Disconnect() {
    std::string reply;
    if (!DoCommand("quit", &reply, true)) {
        Log("CNewsServer::Disconnect", "quit failed...");
    } else {
        Log("CNewsServer::Disconnect", "quit result '" + std::string(AsText(reply)) + "'");
    }
    lost = true;
    return sock.Shutdown();
}

void CNewsServer::Log(std::string_view function, std::string_view message) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d:%02d:%02d::%02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    std::string line;
    line.reserve(std::size(stamp) + function.size() + message.size() + 3);
    line.append(stamp).append(" ").append(function).append(" ").append(message).append("\n");
    platform::WriteConsole(line);
}

bool CNewsServer::FetchNewsGroups() {
    std::string reply;
    if (!DoCommand("LIST", &reply, false)) {
        return false;
    }
    // A refusal (or a connection that closed before answering) is not an empty list: say so,
    // rather than report success with no groups.
    if (!BeginsWith2(reply)) {
        Log("CNewsServer::FetchNewsGroups",
            "list failed, response '" + std::string(AsText(reply)) + "'");
        return false;
    }
    std::vector<std::string> lines;
    Split("\r\n", AsText(reply), lines);
    std::string().swap(reply);
    std::vector<std::string> fields;
    // Line 0 is the status line. A LIST line reads: name, last, first, posting status.
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.starts_with(".")) {
            continue;
        }
        if (Split(" ", line, fields) != 4) {
            continue;
        }
        groupList.push_back(
            std::make_unique<CNewsGroup>(std::move(fields[0]), DecimalValue(fields[2]),
                                         DecimalValue(fields[1]), std::move(fields[3])));
    }
    return true;
}

bool CNewsServer::GetNewsGroups(std::vector<std::unique_ptr<CNewsGroup>>& groups) {
    if (&groups != &groupList) {
        groups = std::move(groupList);
        groupList.clear();
    }
    return true;
}

bool CNewsServer::Open(const std::string& name, std::unique_ptr<CNewsGroup>& group) {
    std::string reply;
    // Two blanks after GROUP: the servers in use accept them, and nothing gains by changing the
    // line they have always been sent.
    if (!DoCommand("GROUP  " + name, &reply, true)) {
        Log("CNewsServer::Open", "DoCommand for 'Group' failed...");
        return false;
    }
    const std::string text(AsText(reply));
    if (!BeginsWith2(reply)) {
        Log("CNewsServer::Open", "open failed, response '" + text + "'");
        return false;
    }
    // 211 count first last name (RFC 3977, 6.1.1.2)
    std::vector<std::string> pieces;
    if (Split(" ", text, pieces) < 5) {
        Log("CNewsServer::Open", "malformed response '" + text + "'");
        std::string listing = "pieces: ";
        for (const std::string& piece : pieces) {
            listing.append("'").append(piece).append("' ");
        }
        Log("CNewsServer::Open", listing);
        return false;
    }
    const std::int32_t first = DecimalValue(pieces[2]);
    const std::int32_t last = DecimalValue(pieces[3]);
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, "%d %d", first, last);
    Log("CNewsServer::Open",
        "Creating a newsgroup '" + name + "' " + numbers + " '" + pieces[1] + "'");
    currentGroup.emplace(name, first, last, pieces[1]);
    group = std::make_unique<CNewsGroup>(*currentGroup);
    return true;
}

std::unique_ptr<CNewsMessage> CNewsServer::ReadMessage(std::uint32_t number) {
    constexpr std::string_view FN = "CNewsServer::ReadMessage";
    const std::string numberText = std::to_string(number);
    if (!currentGroup) {
        Log(FN, "No news groups opened...");
        return nullptr;
    }
    if (number < static_cast<std::uint32_t>(currentGroup->first) ||
        number > static_cast<std::uint32_t>(currentGroup->last)) {
        Log(FN, "no such message");
        return nullptr;
    }
    auto message = std::make_unique<CNewsMessage>();
    message->number = number;
    std::string status;
    if (!DoCommand("HEAD " + numberText, &status, true)) {
        Log(FN, "DoCommand failed...");
        return nullptr;
    }
    if (!BeginsWith2(status)) {
        Log(FN, "head failed, response '" + std::string(AsText(status)) + "'");
        return nullptr;
    }
    if (!AnswersRequest("221", number, status)) {
        return nullptr;
    }
    if (!ReadBuffer(&message->header)) {
        Log(FN, "readbuffer failed after successfull response about HEAD...");
        return nullptr;
    }
    if (!DoCommand("BODY " + numberText, &status, true)) {
        Log(FN, "DoCommand failed...");
        return nullptr;
    }
    if (!BeginsWith2(status)) {
        Log(FN, "body failed, response '" + std::string(AsText(status)) + "'");
        return nullptr;
    }
    if (!AnswersRequest("222", number, status)) {
        return nullptr;
    }
    if (!ReadBuffer(&message->body)) {
        Log(FN, "readbuffer failed after successfull response about BODY...");
        return nullptr;
    }
    message->headerLength = message->header.size();
    message->bodyLength = message->body.size();
    return message;
}

bool CNewsServer::AnswersRequest(std::string_view code, std::uint32_t number,
                                 const std::string& status) {
    if (AnswersArticleRequest(AsText(status), code, number, {})) {
        return true;
    }
    const std::string_view text = AsText(status);
    Log("CNewsServer::ReadMessage",
        "the reply '" + std::string(text.substr(0, std::min<std::size_t>(text.find('\r'), 200))) +
            "' answers another request; the connection is dropped");
    Drop();
    return false;
}

bool CNewsServer::Capabilities() {
    return AskCapabilities() && ReadCapabilities();
}

bool CNewsServer::AskCapabilities() {
    // Asked afresh, as is which overview command the server takes.
    capabilities.clear();
    overviewCommand = OverviewCommand::Unknown;
    overviewWorked = false;
    capabilitiesPending = SendCommand("CAPABILITIES");
    return capabilitiesPending;
}

bool CNewsServer::ReadCapabilities() {
    if (!capabilitiesPending) {
        return false;
    }
    capabilitiesPending = false;
    // Its block follows a 101, not a 2xx code as other blocks do.
    std::string status;
    std::string list;
    if (!ReadLine(&status) || lost || !status.starts_with("101") || !ReadBuffer(&list)) {
        return false;
    }
    std::vector<std::string> lines;
    Split("\r\n", AsText(list), lines);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::size_t blank = lines[i].find(' ');
        std::string word = lines[i].substr(0, blank);
        std::transform(word.begin(), word.end(), word.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        capabilities.push_back(std::move(word));
    }
    return true;
}

bool CNewsServer::HasCapability(std::string_view name) const {
    return std::find(capabilities.begin(), capabilities.end(), name) != capabilities.end();
}

bool CNewsServer::Overview(std::uint32_t first, std::uint32_t last,
                           std::vector<COverviewEntry>& entries) {
    entries.clear();
    return AskOverview(first, last) && ReadOverview(entries);
}

bool CNewsServer::ExpectsOverview() const {
    return overviewWorked || (overviewCommand != OverviewCommand::None && HasCapability("OVER"));
}

bool CNewsServer::AskOverview(std::uint32_t first, std::uint32_t last) {
    overviewPending = false;
    if (capabilitiesPending && !ReadCapabilities() && lost) {
        return false;
    }
    if (overviewCommand == OverviewCommand::Unknown) {
        overviewCommand = HasCapability("OVER") ? OverviewCommand::Over : OverviewCommand::Xover;
    }
    if (overviewCommand == OverviewCommand::None) {
        return false;
    }
    const std::string range = std::to_string(first) + "-" + std::to_string(last);
    const bool over = overviewCommand == OverviewCommand::Over;
    overviewPending = SendCommand((over ? "OVER " : "XOVER ") + range);
    return overviewPending;
}

bool CNewsServer::ReadOverview(std::vector<COverviewEntry>& entries) {
    entries.clear();
    if (!overviewPending) {
        return false;
    }
    overviewPending = false;
    std::string status;
    std::string block;
    if (!ReadReply(&status, &block, true)) {
        return false;
    }
    if (status.starts_with("423") || status.starts_with("420")) {
        return true;  // no articles in that range
    }
    if (!status.starts_with("224")) {
        // A server that does not know the command says so once; headers are read from now on.
        if (status.starts_with("500") || status.starts_with("501") || status.starts_with("502")) {
            overviewCommand = OverviewCommand::None;
        }
        Log("CNewsServer::Overview",
            "overview refused, response '" + std::string(AsText(status).substr(0, 200)) + "'");
        return false;
    }
    overviewWorked = true;
    std::size_t start = 0;
    while (start < block.size()) {
        std::size_t end = block.find("\r\n", start);
        if (end == std::string::npos) {
            end = block.size();
        }
        if (const std::optional<COverviewEntry> entry =
                COverviewEntry::Parse(std::string_view(block).substr(start, end - start))) {
            entries.push_back(std::move(*entry));
        }
        start = end + 2;
    }
    return true;
}

bool CNewsServer::SendCommand(const std::string& command) {
    failure = {};
    if (!connected || command.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        Log("CNewsServer::SendCommand", "refused a command");
        return false;
    }
    std::string line;
    line.reserve(command.size() + 2);
    line.append(command).append("\r\n");
    if (!sock.SendAll(line, readTimeout)) {
        lost = true;
        Log("CNewsServer::SendCommand", "Couldn't write to socket...");
        return false;
    }
    return true;
}

bool CNewsServer::ReadReply(std::string* status, std::string* block, bool hasBlock) {
    block->clear();
    if (capabilitiesPending) {
        ReadCapabilities();
    }
    if (!ReadLine(status) || lost) {
        return false;
    }
    // A request in flight cannot log in and be asked again as DoCommand does: the caller is told.
    if (status->starts_with("480")) {
        FailLogInNeeded();
    }
    if (!hasBlock || !BeginsWith2(*status)) {
        return true;
    }
    return ReadBuffer(block);
}

void CNewsServer::Cancel() {
    sock.Cancel();
}

void CNewsServer::ClearCancel() {
    sock.ClearCancel();
}

void CNewsServer::Abort() {
    sock.Abort();
}

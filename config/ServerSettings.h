#pragma once

// The connection settings that go with the server named on the first line of zarvo.cfg: whether
// an "nntp://" server is reached with STARTTLS, the user name, whether the password may go out
// unencrypted, and the certificates the user chose to trust, server by server. They live in
// "zarvo.settings" beside zarvo.cfg, one "key=value" a line, and are written whole through a
// temporary file, so that a crash never leaves half of them. Without the file every setting has
// its default, which is the plain connection without a user name. The password is kept
// elsewhere (PasswordFile.h, or the desktop's keyring).
//
// The first line of zarvo.cfg keeps its old meaning: a bare "host" or "host:port" is a plain
// connection. "nntps://host[:port]" is implicit TLS (port 563 by default), and
// "nntp://host[:port]" is plain or STARTTLS as the settings say.

#include <cstdint>
#include <map>
#include <string>

#include "nntp/ConnectionSecurity.h"

inline constexpr const char* SETTINGS_FILE_NAME = "zarvo.settings";

struct CServerSettings {
    // The most connections to one server a run opens, and the most requests in flight on one.
    static constexpr int MAX_CONNECTIONS = 50;
    static constexpr int MAX_PIPELINE_DEPTH = 64;

    bool startTls = false;  // for an "nntp://" server line
    std::string user;       // empty: no log-in
    bool allowUnencrypted = false;
    // Visit only the articles of a group that no earlier run processed (zarvo-*.newsrc).
    bool onlyNewArticles = true;
    // On a group's first run, at most its newest N articles; 0 for all of them.
    std::uint32_t firstRunNewest = 1000;
    // Sessions working on one group at once, 1 to MAX_CONNECTIONS.
    int connections = 2;
    // Requests in flight on one connection: 0 adapts to the link, up to MAX_PIPELINE_DEPTH;
    // 1 asks for one article and waits for it before asking for the next.
    int pipelineDepth = 0;
    // The SHA-256 fingerprint ("AB:CD:...") of the certificate trusted for each server, keyed
    // by "host:port".
    std::map<std::string, std::string> trusted;
};

// The server line of zarvo.cfg taken apart.
struct CServerAddress {
    std::string host;  // as typed, without brackets around an IPv6 address
    int port = 0;      // the port given, or the security's default
    ConnectionSecurity security = ConnectionSecurity::None;

    // "host:port" (brackets around an IPv6 address), as the news server session takes it and as
    // trusted certificates are keyed.
    std::string HostAndPort() const;
};

// Reads zarvo.settings in the current directory. A missing file gives the defaults; lines it
// does not know are skipped, so that a newer version's file still loads. False, with `error`
// set for the user, when the file exists but cannot be read.
bool ReadServerSettings(CServerSettings& settings, std::string& error);
// Writes zarvo.settings whole; false, with `error` set for the user, when it could not.
bool WriteServerSettings(const CServerSettings& settings, std::string& error);
// Adds (or replaces) the trusted certificate of one server in zarvo.settings, keeping every
// other setting as the file holds it now.
bool TrustCertificate(const std::string& hostAndPort, const std::string& fingerprint,
                      std::string& error);

// The server line as the connection is to be made. A line without a scheme is left to the
// session to take apart ("host", "host:port", "[v6]:port"), as it always was.
CServerAddress ParseServerLine(const std::string& line, const CServerSettings& settings);
// The server line for a host, a port (0: the security's default) and a security: what the
// configuration dialog writes. Plain connections get the old form, so that earlier versions
// still read the file.
std::string MakeServerLine(const std::string& host, int port, ConnectionSecurity security);

#pragma once

// The connection settings that go with the server named on the first line of zarvo.cfg: whether
// an "nntp://" server is reached with STARTTLS, the user name, whether the password may go out
// unencrypted, and the certificates the user chose to trust, server by server; how a run walks
// a group, and what it collects. They live in "zarvo.settings" beside zarvo.cfg, one
// "key=value" a line, and are written whole through a temporary file, so that a crash never
// leaves half of them. Without the file every setting has its default, which is the plain
// connection without a user name. The password is kept elsewhere (PasswordFile.h, or the
// desktop's keyring).
//
// The first line of zarvo.cfg keeps its old meaning: a bare "host" or "host:port" is a plain
// connection. "nntps://host[:port]" is implicit TLS (port 563 by default), and
// "nntp://host[:port]" is plain or STARTTLS as the settings say.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "nntp/ConnectionSecurity.h"

inline constexpr const char* SETTINGS_FILE_NAME = "zarvo.settings";

struct CServerSettings {
    // The most connections to one server a run opens, and the most requests in flight on one.
    static constexpr int MAX_CONNECTIONS = 50;
    static constexpr int MAX_PIPELINE_DEPTH = 64;
    // The bound of every size below, in megabytes, and of the files of an archive.
    static constexpr std::uint32_t MAX_MEGABYTES = 100000;
    static constexpr std::uint32_t MAX_ARCHIVE_FILES = 1000000;

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
    // by "host:port". The file may hold it in any form that CanonicalFingerprint takes; it is
    // read into that one.
    std::map<std::string, std::string> trusted;

    // What a run collects: pictures posted on their own, and pictures inside archives (ZIP,
    // RAR, 7z).
    bool collectPictures = true;
    bool collectArchives = true;
    // The largest post fetched, in megabytes; 0 for no limit.
    std::uint32_t maxPostMegabytes = 200;
    // A post whose name has no known extension is fetched, to see what its bytes hold, only up
    // to this size; 0 for none of them.
    std::uint32_t maxUnnamedMegabytes = 50;
    // The largest single picture, its parts and pending bytes included; at least 1.
    std::uint32_t maxPictureMegabytes = 1024;
    // The limits on one archive: its megabytes and its files; at least 1 each.
    std::uint32_t archiveMaxMegabytes = 1024;
    std::uint32_t archiveMaxFiles = 10000;
    // Wildmats (nntp/Wildmat.h, spaces allowed) of the posters and the subjects whose posts are
    // skipped, in the order given. A pattern that is not a valid wildmat is not read.
    std::vector<std::string> skipPosters;
    std::vector<std::string> skipSubjects;

    // The lines of the file that this version does not take (keys it does not know, comments),
    // in their order, so that writing the file keeps them, after the known ones.
    std::vector<std::string> otherLines;
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

// Reads zarvo.settings in the current directory. A missing file gives the defaults; a value
// out of its range, or malformed, leaves its setting at the default (or, for a repeated key,
// is left out), and lines it does not know go to `otherLines`, so that a newer version's file
// still loads. False, with `error` set for the user, when the file exists but cannot be read.
bool ReadServerSettings(CServerSettings& settings, std::string& error);
// Writes zarvo.settings whole, `otherLines` last; false, with `error` set for the user, when it
// could not (a value that would break its line is refused).
bool WriteServerSettings(const CServerSettings& settings, std::string& error);
// Adds (or replaces) the trusted certificate of one server in zarvo.settings, keeping every
// other setting as the file holds it now. The fingerprint is stored in its one form; one
// that CanonicalFingerprint does not take is refused.
bool TrustCertificate(const std::string& hostAndPort, const std::string& fingerprint,
                      std::string& error);

// The server line as the connection is to be made. A line without a scheme is left to the
// session to take apart ("host", "host:port", "[v6]:port"), as it always was.
CServerAddress ParseServerLine(const std::string& line, const CServerSettings& settings);
// The server line for a host, a port (0: the security's default) and a security: what the
// configuration dialog writes. Plain connections get the old form, so that earlier versions
// still read the file.
std::string MakeServerLine(const std::string& host, int port, ConnectionSecurity security);

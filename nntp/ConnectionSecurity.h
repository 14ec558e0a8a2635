#pragma once

// How a connection to a news server is protected. The configuration names it; the news server
// session carries it out.

enum class ConnectionSecurity {
    None,      // plain text
    Tls,       // TLS from the first byte (RFC 8143), by default on port 563
    StartTls,  // plain, then STARTTLS before anything else is said (RFC 4642)
};

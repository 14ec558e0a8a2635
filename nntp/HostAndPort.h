#pragma once

// A server's name as the user types it, taken apart into the host and the port it may name:
// "host", "host:port", "[v6-address]:port", "[v6-address]" or a bare IPv6 address. Anything
// else is a host name as it stands.

#include <optional>
#include <string>

struct HostAndPort {
    std::string host;
    std::optional<int> port;  // none when the text names no valid port (1 to 65535)
};

HostAndPort ParseHostAndPort(const std::string& text);

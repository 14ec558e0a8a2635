#include "nntp/HostAndPort.h"

#include <algorithm>
#include <string_view>

// "host", "host:port", "[v6-address]:port", "[v6-address]" or a bare IPv6 address.
HostAndPort ParseHostAndPort(const std::string& text) {
    const auto parsePort = [](std::string_view digits) -> std::optional<int> {
        if (digits.empty() || digits.size() > 5 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        const int port = std::stoi(std::string(digits));
        return port >= 1 && port <= 65535 ? std::optional<int>(port) : std::nullopt;
    };
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close != std::string::npos) {
            const std::string inner = text.substr(1, close - 1);
            if (close + 1 == text.size()) {
                return {inner, std::nullopt};
            }
            if (text[close + 1] == ':') {
                if (const auto port = parsePort(std::string_view(text).substr(close + 2))) {
                    return {inner, port};
                }
            }
        }
        return {text, std::nullopt};
    }
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) {
        return {text, std::nullopt};  // no port, or a bare IPv6 address
    }
    if (const auto port = parsePort(std::string_view(text).substr(colon + 1))) {
        return {text.substr(0, colon), port};
    }
    return {text, std::nullopt};
}

#include "config/ServerSettings.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>

#include "nntp/HostAndPort.h"
#include "platform/AtomicFile.h"

namespace {

constexpr std::string_view TLS_SCHEME = "nntps://";
constexpr std::string_view PLAIN_SCHEME = "nntp://";
constexpr int NNTP_PORT = 119;
constexpr int NNTPS_PORT = 563;

int DefaultPort(ConnectionSecurity security) {
    return security == ConnectionSecurity::Tls ? NNTPS_PORT : NNTP_PORT;
}

// "host" or "[v6-address]", as it goes before ":port".
std::string HostForLine(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// Sets `value` from a decimal number in minimum..maximum; a value outside, or no number, leaves
// it as it was.
template <typename Number>
void ParseNumber(std::string_view text, Number& value, std::uint64_t maximum,
                 std::uint64_t minimum = 0) {
    std::uint64_t parsed = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (!text.empty() && error == std::errc() && end == text.data() + text.size() &&
        parsed >= minimum && parsed <= maximum) {
        value = static_cast<Number>(parsed);
    }
}

bool IsOn(std::string_view value) {
    return value == "1" || value == "yes" || value == "true";
}

}  // namespace

std::string CServerAddress::HostAndPort() const {
    return HostForLine(host) + ":" + std::to_string(port);
}

bool ReadServerSettings(CServerSettings& settings, std::string& error) {
    settings = {};
    std::ifstream file(SETTINGS_FILE_NAME, std::ios::binary);
    if (!file) {
        struct stat status {};
        if (::stat(SETTINGS_FILE_NAME, &status) != 0 && errno == ENOENT) {
            return true;  // never saved: the defaults
        }
        error =
            std::string(SETTINGS_FILE_NAME) + " could not be read (" + std::strerror(errno) + ").";
        return false;
    }
    std::string line;
    while (std::getline(file, line)) {
        if (line.ends_with('\r')) {
            line.pop_back();
        }
        const std::size_t equals = line.find('=');
        if (line.starts_with('#') || equals == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "starttls") {
            settings.startTls = IsOn(value);
        } else if (key == "user") {
            settings.user = value;
        } else if (key == "allow-unencrypted-password") {
            settings.allowUnencrypted = IsOn(value);
        } else if (key == "only-new-articles") {
            settings.onlyNewArticles = IsOn(value);
        } else if (key == "first-run-newest") {
            ParseNumber(value, settings.firstRunNewest, UINT32_MAX);
        } else if (key == "connections") {
            ParseNumber(value, settings.connections, CServerSettings::MAX_CONNECTIONS, 1);
        } else if (key == "pipeline-depth") {
            ParseNumber(value, settings.pipelineDepth, CServerSettings::MAX_PIPELINE_DEPTH);
        } else if (key == "trust") {
            const std::size_t blank = value.rfind(' ');
            if (blank != std::string::npos && blank > 0) {
                settings.trusted[value.substr(0, blank)] = value.substr(blank + 1);
            }
        }
    }
    if (file.bad()) {
        error = std::string(SETTINGS_FILE_NAME) + " could not be read.";
        return false;
    }
    return true;
}

bool WriteServerSettings(const CServerSettings& settings, std::string& error) {
    std::ostringstream text;
    text << "# Zarvo's connection settings; the server itself is on the first line of zarvo.cfg\n"
         << "starttls=" << (settings.startTls ? 1 : 0) << "\n"
         << "user=" << settings.user << "\n"
         << "allow-unencrypted-password=" << (settings.allowUnencrypted ? 1 : 0) << "\n"
         << "only-new-articles=" << (settings.onlyNewArticles ? 1 : 0) << "\n"
         << "first-run-newest=" << settings.firstRunNewest << "\n"
         << "connections=" << settings.connections << "\n"
         << "pipeline-depth=" << settings.pipelineDepth << "\n";
    for (const auto& [server, fingerprint] : settings.trusted) {
        text << "trust=" << server << " " << fingerprint << "\n";
    }
    if (settings.user.find_first_of("\r\n") != std::string::npos) {
        error = "A user name cannot hold a line break.";
        return false;
    }
    std::string reason;
    if (!platform::WriteFileAtomically(SETTINGS_FILE_NAME, text.str(), 0644, reason)) {
        error = std::string(SETTINGS_FILE_NAME) + " could not be written (" + reason + ").";
        return false;
    }
    return true;
}

bool TrustCertificate(const std::string& hostAndPort, const std::string& fingerprint,
                      std::string& error) {
    CServerSettings settings;
    if (!ReadServerSettings(settings, error)) {
        return false;
    }
    settings.trusted[hostAndPort] = fingerprint;
    return WriteServerSettings(settings, error);
}

CServerAddress ParseServerLine(const std::string& line, const CServerSettings& settings) {
    CServerAddress address;
    std::string rest = line;
    if (line.starts_with(TLS_SCHEME)) {
        address.security = ConnectionSecurity::Tls;
        rest = line.substr(TLS_SCHEME.size());
    } else if (line.starts_with(PLAIN_SCHEME)) {
        address.security =
            settings.startTls ? ConnectionSecurity::StartTls : ConnectionSecurity::None;
        rest = line.substr(PLAIN_SCHEME.size());
    }
    if (rest.ends_with('/') && rest.size() != line.size()) {
        rest.pop_back();  // "nntps://news.example.com/"
    }
    const ::HostAndPort parsed = ParseHostAndPort(rest);
    address.host = parsed.host;
    address.port = parsed.port.value_or(DefaultPort(address.security));
    return address;
}

std::string MakeServerLine(const std::string& host, int port, ConnectionSecurity security) {
    const bool defaultPort = port == 0 || port == DefaultPort(security);
    const std::string hostAndPort =
        defaultPort ? host : HostForLine(host) + ":" + std::to_string(port);
    switch (security) {
        case ConnectionSecurity::Tls:
            return std::string(TLS_SCHEME) + hostAndPort;
        case ConnectionSecurity::StartTls:
            return std::string(PLAIN_SCHEME) + hostAndPort;
        case ConnectionSecurity::None:
            break;
    }
    return hostAndPort;
}

#include "config/ServerSettings.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <utility>

#include "nntp/HostAndPort.h"
#include "nntp/Wildmat.h"
#include "platform/AtomicFile.h"
#include "platform/CertificateFingerprint.h"

namespace {

constexpr std::string_view TLS_SCHEME = "nntps://";
constexpr std::string_view PLAIN_SCHEME = "nntp://";
constexpr int NNTP_PORT = 119;
constexpr int NNTPS_PORT = 563;

// The first line of the file as written; a line that begins like it is not kept as another.
constexpr std::string_view HEADER =
    "# Zarvo's connection settings; the server itself is on the first line of zarvo.cfg";
constexpr std::string_view HEADER_MORE = ". Lines that Zarvo does not know are kept.";

// The settings that are a yes or a no, and those that are a number in a range, by their keys.
struct Flag {
    std::string_view key;
    bool CServerSettings::*member;
};
constexpr Flag FLAGS[] = {
    {"starttls", &CServerSettings::startTls},
    {"allow-unencrypted-password", &CServerSettings::allowUnencrypted},
    {"only-new-articles", &CServerSettings::onlyNewArticles},
    {"collect-pictures", &CServerSettings::collectPictures},
    {"collect-archives", &CServerSettings::collectArchives},
};
struct Count {
    std::string_view key;
    std::uint32_t CServerSettings::*member;
    std::uint32_t minimum;
    std::uint32_t maximum;
};
constexpr Count COUNTS[] = {
    {"first-run-newest", &CServerSettings::firstRunNewest, 0, UINT32_MAX},
    {"max-post-size-mb", &CServerSettings::maxPostMegabytes, 0, CServerSettings::MAX_MEGABYTES},
    {"max-unnamed-post-size-mb", &CServerSettings::maxUnnamedMegabytes, 0,
     CServerSettings::MAX_MEGABYTES},
    {"max-picture-size-mb", &CServerSettings::maxPictureMegabytes, 1,
     CServerSettings::MAX_MEGABYTES},
    {"archive-max-size-mb", &CServerSettings::archiveMaxMegabytes, 1,
     CServerSettings::MAX_MEGABYTES},
    {"archive-max-files", &CServerSettings::archiveMaxFiles, 1, CServerSettings::MAX_ARCHIVE_FILES},
};
// The repeated keys of wildmats.
constexpr std::string_view SKIP_POSTER = "skip-poster";
constexpr std::string_view SKIP_SUBJECT = "skip-subject";

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

// Takes one line of the file into the settings; false when its key is not one of them.
bool ReadLine(const std::string& line, CServerSettings& settings) {
    const std::size_t equals = line.find('=');
    if (line.starts_with('#') || equals == std::string::npos) {
        return false;
    }
    const std::string_view key = std::string_view(line).substr(0, equals);
    const std::string value = line.substr(equals + 1);
    for (const Flag& flag : FLAGS) {
        if (key == flag.key) {
            settings.*flag.member = IsOn(value);
            return true;
        }
    }
    for (const Count& count : COUNTS) {
        if (key == count.key) {
            ParseNumber(value, settings.*count.member, count.maximum, count.minimum);
            return true;
        }
    }
    if (key == "user") {
        settings.user = value;
    } else if (key == "connections") {
        ParseNumber(value, settings.connections, CServerSettings::MAX_CONNECTIONS, 1);
    } else if (key == "pipeline-depth") {
        ParseNumber(value, settings.pipelineDepth, CServerSettings::MAX_PIPELINE_DEPTH);
    } else if (key == SKIP_POSTER || key == SKIP_SUBJECT) {
        if (IsWildmatValid(value, true)) {
            (key == SKIP_POSTER ? settings.skipPosters : settings.skipSubjects).push_back(value);
        }
    } else if (key == "trust") {
        // "host:port fingerprint"; a fingerprint that is none is left out.
        const std::size_t blank = value.rfind(' ');
        const std::optional<std::string> fingerprint =
            blank != std::string::npos && blank > 0
                ? platform::CanonicalFingerprint(std::string_view(value).substr(blank + 1))
                : std::nullopt;
        if (fingerprint) {
            settings.trusted[value.substr(0, blank)] = *fingerprint;
        }
    } else {
        return false;
    }
    return true;
}

bool HoldsLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
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
        if (!ReadLine(line, settings) && !line.empty() && !line.starts_with(HEADER)) {
            settings.otherLines.push_back(line);
        }
    }
    if (file.bad()) {
        error = std::string(SETTINGS_FILE_NAME) + " could not be read.";
        return false;
    }
    return true;
}

bool WriteServerSettings(const CServerSettings& settings, std::string& error) {
    if (HoldsLineBreak(settings.user)) {
        error = "A user name cannot hold a line break.";
        return false;
    }
    std::ostringstream text;
    text << HEADER << HEADER_MORE << "\n"
         << "user=" << settings.user << "\n";
    for (const Flag& flag : FLAGS) {
        text << flag.key << "=" << (settings.*flag.member ? 1 : 0) << "\n";
    }
    for (const Count& count : COUNTS) {
        text << count.key << "=" << settings.*count.member << "\n";
    }
    text << "connections=" << settings.connections << "\n"
         << "pipeline-depth=" << settings.pipelineDepth << "\n";
    for (const auto& [key, patterns] : {std::pair{SKIP_POSTER, &settings.skipPosters},
                                        std::pair{SKIP_SUBJECT, &settings.skipSubjects}}) {
        for (const std::string& pattern : *patterns) {
            if (HoldsLineBreak(pattern)) {
                error = "A pattern cannot hold a line break.";
                return false;
            }
            text << key << "=" << pattern << "\n";
        }
    }
    for (const auto& [server, fingerprint] : settings.trusted) {
        text << "trust=" << server << " " << fingerprint << "\n";
    }
    for (const std::string& line : settings.otherLines) {
        text << line << "\n";
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
    const std::optional<std::string> canonical = platform::CanonicalFingerprint(fingerprint);
    if (!canonical) {
        error = "\"" + fingerprint + "\" is not a SHA-256 fingerprint.";
        return false;
    }
    CServerSettings settings;
    if (!ReadServerSettings(settings, error)) {
        return false;
    }
    settings.trusted[hostAndPort] = *canonical;
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

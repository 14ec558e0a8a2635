#include "platform/CertificateFingerprint.h"

#include <cctype>
#include <cstddef>

namespace platform {

namespace {

constexpr std::size_t DIGEST_BYTES = 32;

}  // namespace

std::optional<std::string> CanonicalFingerprint(std::string_view text) {
    const bool colons = text.size() == DIGEST_BYTES * 3 - 1;
    if (!colons && text.size() != DIGEST_BYTES * 2) {
        return std::nullopt;
    }
    std::string digits;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (colons && i % 3 == 2 ? c != ':' : std::isxdigit(c) == 0) {
            return std::nullopt;
        }
        if (c != ':') {
            digits += static_cast<char>(std::toupper(c));
        }
    }
    std::string canonical;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        canonical += i == 0 ? "" : ":";
        canonical.append(digits, i, 2);
    }
    return canonical;
}

}  // namespace platform

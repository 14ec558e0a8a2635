#pragma once

// The one form in which Zarvo keeps and compares a certificate's SHA-256 fingerprint: 32 bytes
// in upper-case hexadecimal separated by colons ("AB:CD:..."), as TlsChannel names a
// certificate. It reads what a user may type or paste; it computes no fingerprints.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The fingerprint in the one form, from 64 hexadecimal digits in either case, with a colon
// between every two of them or with no colons at all; nothing for anything else.
std::optional<std::string> CanonicalFingerprint(std::string_view text);

}  // namespace platform

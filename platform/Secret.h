#pragma once

// Wiping a secret (a password) from memory before the memory is given back, in a way the
// compiler may not leave out as a dead store.

#include <string.h>

#include <string>

namespace platform {

inline void WipeSecret(std::string& secret) {
    // explicit_bzero is glibc's; the size is the capacity, so bytes past a shorter value that an
    // earlier, longer one left are wiped too.
    secret.resize(secret.capacity());
    ::explicit_bzero(secret.data(), secret.size());
    secret.clear();
}

}  // namespace platform

#pragma once

// The password where no keyring keeps it: the file "zarvo.password" beside zarvo.cfg, readable
// by its owner alone. A file that others may read is refused, never used: it is the user's to
// make private again. The file holds the password's bytes and nothing else; it is written
// through a private temporary file and renamed, so it is never readable by others, not even for
// a moment, and never half written.

#include <string>

inline constexpr const char* PASSWORD_FILE_NAME = "zarvo.password";

// True with the password (possibly empty when there is no file); false, with `error` set for
// the user, when the file is readable by others or cannot be read.
bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error);
// Writes the password; an empty one removes the file. False, with `error` set, on failure.
bool WritePasswordFile(const std::string& path, const std::string& password, std::string& error);

#pragma once

// Renaming that never replaces: a file (or folder) gets a new name only when nothing has that
// name yet, decided by the file system in one step, so two processes racing for one name never
// overwrite each other. It does not pick another name when the name is taken; the caller does.

#include <string>

namespace platform {

enum class RenameResult { Renamed, NameTaken, Failed };

// Renames `from` to `to` unless `to` exists (NameTaken; nothing changes). Where the file system
// refuses the no-replace flag it falls back to LinkThenUnlink. Failed leaves errno set.
RenameResult RenameNoReplace(const std::string& from, const std::string& to);

// The fallback on its own: a hard link under the new name, which fails when the name exists,
// then the old name removed. Files only, since folders cannot be linked.
RenameResult LinkThenUnlink(const std::string& from, const std::string& to);

}  // namespace platform

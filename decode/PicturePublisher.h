#pragma once

// Gives a finished picture its name in the picture folder without ever replacing a file that
// stands there. A taken name that holds the very same bytes is the picture already (a second
// run over a group, another process that got there first): the new copy is dropped and the
// existing file is the result. A taken name with other bytes moves the picture on to
// "name (2).ext", "name (3).ext" and so on. It writes no bytes itself; the caller hands over a
// complete temporary file in the same folder.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The longest file name the Linux file systems take, in bytes.
inline constexpr std::size_t PICTURE_NAME_LIMIT = 255;

// The name for the `number`th picture called `name`: for 1 the name itself, for 2 and up the
// name with " (number)" before its extension (what follows the last dot, unless that dot is the
// first character: "README" gives "README (2)"). A name over PICTURE_NAME_LIMIT bytes loses the
// end of its stem, never the extension nor the number, and never half a UTF-8 character.
std::string NumberedPictureName(std::string_view name, unsigned number);

// Copies `file` into a new hidden file of the folder ("folder/", or "" for the current one),
// synced to the disk, for a picture that cannot be renamed there (another file system). Returns
// the copy's path, or nothing (errno set) when it could not be made; `file` stays as it was.
std::optional<std::string> CopyIntoFolder(const std::string& file, const std::string& folder);

// Moves the complete file `temporary` to `target` ("folder/name", relative or absolute) or, when
// that name is taken by other bytes, to the first free numbered name beside it, as above.
// Returns the path the picture has now: `target`'s folder and the name used (an existing file
// with the same bytes counts as used). Nothing when no name could be had (errno tells why). The
// temporary file is gone afterwards in every case, and no existing file is ever changed. A
// temporary file on another file system than the folder is copied beside the target first.
std::optional<std::string> PublishPicture(const std::string& temporary, const std::string& target);

#pragma once

// Turns the file name that a post gives its picture into a name that is safe to create in the
// picture folder: valid UTF-8, the last part of a path only, short enough for the file system.
// It does not look at the folder or at other pictures (PublishPicture settles names that are
// taken).

#include <optional>
#include <string>
#include <string_view>

// The name for a picture posted as `posted`: bytes that are no valid UTF-8 read as
// Windows-1252 (Latin-1 where that leaves a byte undefined) and written as UTF-8, so that an old
// poster's "café.jpg" stays readable and distinct; then only what follows the last "\", "/" or
// ":" (the first character is never taken for such a separator), without a leading "/", and cut
// to PICTURE_NAME_LIMIT bytes keeping its extension and whole characters. Nothing when that
// leaves no file name: empty, "." or "..".
std::optional<std::string> SafePictureName(std::string_view posted);

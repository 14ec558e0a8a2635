#pragma once

// Turns the file name that a post gives its picture into a name that is safe to create in the
// picture folder: the last part of a path only, short enough for the file system. It does not
// look at the folder or at other pictures (PublishPicture settles names that are taken).

#include <optional>
#include <string>
#include <string_view>

// The name for a picture posted as `posted`: only what follows the last "\", "/" or ":" (the
// first character is never taken for such a separator), without a leading "/", and cut to
// PICTURE_NAME_LIMIT bytes keeping its extension. Nothing when that leaves no file name: empty,
// "." or "..".
std::optional<std::string> SafePictureName(std::string_view posted);

#pragma once

// The uudecoder: turns one saved news article into a picture file under images/ in the current
// directory. It reads the article as text lines, finds the uuencoded block (begin line, data
// lines, end line) and decodes it. It creates no folder and shows nothing to the user but the
// one error box for a program folder that cannot be found; its progress lines go to standard
// output.

#include <optional>
#include <string>

// Decodes the uuencoded picture in `articleFile` into images/<subFolder>/<base name> (into
// images/<base name> without a sub-folder), relative to the current directory, which the caller
// makes the program folder; images/<subFolder> must exist. Returns the picture's full path (the
// program folder, then images/, subFolder/ and the base name), or "" when the article holds no
// complete picture. An empty `articleFile` stands for a missing article file.
std::string UUDecodeFile(const std::string& articleFile,
                         const std::optional<std::string>& subFolder);

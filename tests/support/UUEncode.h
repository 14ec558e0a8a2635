#pragma once

// A small uuencoder for tests that need articles carrying pictures. It writes standard uuencode
// as the common command-line encoders do: 45 bytes per line, the grave accent for zero values,
// the closing "`" line and "end". It knows nothing of articles around the block.

#include <string>
#include <string_view>

namespace test {

// One data line for at most 45 bytes: the length character and the groups, without a line end.
std::string UUEncodeLine(std::string_view bytes);

// The data lines for `data`, each followed by `lineEnd`; no begin line and no closing lines.
std::string UUEncodeLines(std::string_view data, std::string_view lineEnd = "\n");

// A whole block: "begin <mode> <name>", the data lines, "`" and "end", each line followed by
// `lineEnd`.
std::string UUEncode(std::string_view data, std::string_view name, std::string_view lineEnd = "\n",
                     std::string_view mode = "644");

// `size` pseudo-random bytes, the same for the same seed, that begin as a JPEG (or a PNG) does:
// picture data for tests.
std::string PictureBytes(std::size_t size, unsigned seed, bool png = false);

}  // namespace test

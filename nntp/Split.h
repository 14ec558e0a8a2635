#pragma once

// Cuts a text into pieces at any character of a delimiter set. After a delimiter it steps over
// as many characters as the set holds, so with "\r\n" each CR LF pair ends one piece (and a lone
// CR or LF swallows the character after it). Adjacent delimiters give empty pieces; a delimiter
// at the very end gives no empty last piece. Used for reply lines and fields and for uuencode
// begin lines.

#include <string>
#include <string_view>
#include <vector>

// Returns the number of pieces. With an empty text or an empty set it returns 0 and leaves
// `pieces` as it was; otherwise `pieces` is replaced.
unsigned Split(std::string_view delimiters, std::string_view text,
               std::vector<std::string>& pieces);

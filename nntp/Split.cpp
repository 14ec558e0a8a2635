#include "nntp/Split.h"

unsigned Split(std::string_view delimiters, std::string_view text,
               std::vector<std::string>& pieces) {
    if (text.empty() || delimiters.empty()) {
        return 0;
    }
    pieces.clear();
    unsigned count = 0;
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t found = text.find_first_of(delimiters, position);
        ++count;
        if (found == std::string_view::npos) {
            pieces.emplace_back(text.substr(position));
            break;
        }
        pieces.emplace_back(text.substr(position, found - position));
        position = found + delimiters.size();
    }
    return count;
}

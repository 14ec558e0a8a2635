#include "nntp/ArticleReply.h"

#include <algorithm>
#include <string>

namespace {

// The next blank-separated field of the status line; `text` moves past it.
std::string_view NextField(std::string_view& text) {
    const std::size_t start = std::min(text.find_first_not_of(" \t"), text.size());
    text.remove_prefix(start);
    const std::size_t end = std::min(text.find_first_of(" \t\r\n"), text.size());
    const std::string_view field = text.substr(0, end);
    text.remove_prefix(end);
    return field;
}

}  // namespace

bool AnswersArticleRequest(std::string_view status, std::string_view code, std::uint32_t number,
                           std::string_view messageId) {
    if (!status.starts_with(code) || !status.substr(code.size()).starts_with(' ')) {
        return false;
    }
    std::string_view rest = status.substr(code.size());
    const std::string_view numberField = NextField(rest);
    const std::string_view idField = NextField(rest);
    if (numberField == std::to_string(number)) {
        return true;
    }
    if (numberField.empty()) {
        return false;
    }
    std::uint64_t value = 0;
    for (const char c : numberField) {
        if (c < '0' || c > '9') {
            return false;
        }
        // Saturates past every article number.
        value = std::min<std::uint64_t>(value * 10 + static_cast<unsigned>(c - '0'),
                                        std::uint64_t{UINT32_MAX} + 1);
    }
    if (value != 0 && value != number) {
        return false;
    }
    return messageId.empty() || idField == messageId;
}

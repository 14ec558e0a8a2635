#pragma once

// Whether a reply to HEAD, BODY or ARTICLE answers the request it is read for: its status line
// names the article (RFC 3977, 6.2.1-6.2.4: "222 n <message-id>"). Replies come back in the
// order the requests went out (3.5), so one that names another article says the session is out
// of step with the server. It reads nothing itself and judges nothing but the status line.

#include <cstdint>
#include <string_view>

// True when `status` carries `code` and names article `number`: by that number written plainly,
// or, where the server writes it otherwise (0, as some servers answer every request, or with
// leading zeros), by `messageId`, the one the overview gave. With no message-id known such a
// number is taken as it stands.
bool AnswersArticleRequest(std::string_view status, std::string_view code, std::uint32_t number,
                           std::string_view messageId);

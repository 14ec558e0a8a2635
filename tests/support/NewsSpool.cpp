#include "tests/support/NewsSpool.h"

#include <algorithm>

namespace test {

void NewsSpool::AddGroup(const std::string& name, std::uint32_t first, std::uint32_t last) {
    std::lock_guard lock(m_mutex);
    m_groups[name].first = first;
    m_groups[name].last = last;
}

void NewsSpool::AddArticle(const std::string& group, std::uint32_t number, const std::string& body,
                           const std::string& subject, const std::string& from) {
    std::lock_guard lock(m_mutex);
    m_groups[group].articles[number] = {
        body, subject.empty() ? "article " + std::to_string(number) : subject, from};
}

void NewsSpool::SetOverview(Overview overview) {
    std::lock_guard lock(m_mutex);
    m_overview = overview;
}

ScriptedNntpServer::Handler NewsSpool::Handler() {
    return [this](const std::string& command) { return Answer(command); };
}

ScriptedReply NewsSpool::OverviewOf(const Group& group, const std::string& range) const {
    const std::size_t dash = range.find('-');
    const std::uint32_t first = static_cast<std::uint32_t>(std::stoul(range));
    const std::uint32_t last = dash == std::string::npos
                                   ? first
                                   : static_cast<std::uint32_t>(std::stoul(range.substr(dash + 1)));
    std::string reply = "224 overview follows\r\n";
    for (auto article = group.articles.lower_bound(first);
         article != group.articles.end() && article->first <= last; ++article) {
        const std::string& body = article->second.body;
        const auto lines = std::count(body.begin(), body.end(), '\n');
        reply += std::to_string(article->first) + "\t" + article->second.subject + "\t" +
                 article->second.from + "\t1 Jan 2026 00:00:00 GMT\t<" +
                 std::to_string(article->first) + "@spool>\t\t" + std::to_string(body.size()) +
                 "\t" + std::to_string(lines) + "\r\n";
    }
    return ScriptedReply::Text(reply + ".\r\n");
}

ScriptedReply NewsSpool::Answer(const std::string& command) {
    std::lock_guard lock(m_mutex);
    // Each connection is served on its own thread.
    thread_local std::string selected;
    if (command == "CAPABILITIES" && m_overview == Overview::Over) {
        return ScriptedReply::Text("101 Capability list:\r\nVERSION 2\r\nREADER\r\nOVER\r\n.\r\n");
    }
    const bool over = command.starts_with("OVER ") && m_overview == Overview::Over;
    if (over || (command.starts_with("XOVER ") && m_overview != Overview::None)) {
        const auto group = m_groups.find(selected);
        if (group == m_groups.end()) {
            return ScriptedReply::Text("412 No newsgroup selected\r\n");
        }
        return OverviewOf(group->second, command.substr(command.find(' ') + 1));
    }
    if (command == "quit") {
        return ScriptedReply::CloseAfter("205 Bye\r\n");
    }
    if (command == "LIST") {
        std::string reply = "215 list follows\r\n";
        for (const auto& [name, group] : m_groups) {
            reply += name + " " + std::to_string(group.last) + " " + std::to_string(group.first) +
                     " y\r\n";
        }
        return ScriptedReply::Text(reply + ".\r\n");
    }
    if (command.starts_with("GROUP")) {
        const std::string name = command.substr(command.find_first_not_of(' ', 5));
        const auto group = m_groups.find(name);
        if (group == m_groups.end()) {
            return ScriptedReply::Text("411 No such group " + name + "\r\n");
        }
        selected = name;
        return ScriptedReply::Text("211 " + std::to_string(group->second.articles.size()) + " " +
                                   std::to_string(group->second.first) + " " +
                                   std::to_string(group->second.last) + " " + name + "\r\n");
    }
    const bool head = command.starts_with("HEAD ");
    if (head || command.starts_with("BODY ")) {
        const auto group = m_groups.find(selected);
        if (group == m_groups.end()) {
            return ScriptedReply::Text("412 No newsgroup selected\r\n");
        }
        const std::uint32_t number = static_cast<std::uint32_t>(std::stoul(command.substr(5)));
        const auto article = group->second.articles.find(number);
        if (article == group->second.articles.end()) {
            return ScriptedReply::Text("423 No article with that number\r\n");
        }
        const std::string id = "<" + std::to_string(number) + "@spool>";
        if (head) {
            return ScriptedReply::Text("221 " + std::to_string(number) + " " + id + "\r\n" +
                                       DotStuff("Subject: " + article->second.subject +
                                                "\r\nFrom: " + article->second.from +
                                                "\r\nMessage-ID: " + id + "\r\n"));
        }
        return ScriptedReply::Text("222 " + std::to_string(number) + " " + id + "\r\n" +
                                   DotStuff(article->second.body));
    }
    return ScriptedReply::Text("500 What?\r\n");
}

std::string DotStuff(const std::string& block) {
    std::string stuffed;
    stuffed.reserve(block.size() + block.size() / 32 + 3);
    bool lineStart = true;
    for (const char c : block) {
        if (lineStart && c == '.') {
            stuffed += '.';
        }
        stuffed += c;
        lineStart = c == '\n';
    }
    if (!stuffed.empty() && !stuffed.ends_with("\r\n")) {
        stuffed += "\r\n";
    }
    return stuffed + ".\r\n";
}

}  // namespace test

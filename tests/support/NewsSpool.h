#pragma once

// A small news server's contents for the scripted server: groups with their article ranges and
// the articles in them. Its handler answers LIST, GROUP, HEAD, BODY, quit and, as set, the
// overview commands as a real server would (RFC 3977), dot-stuffing the blocks it sends. Each
// connection has its own selected group.

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "tests/support/ScriptedNntpServer.h"

namespace test {

class NewsSpool {
public:
    enum class Overview {
        None,       // CAPABILITIES, OVER and XOVER are unknown commands
        XoverOnly,  // XOVER is answered, CAPABILITIES is not known
        Over,       // CAPABILITIES lists OVER, and both OVER and XOVER are answered
    };
    void SetOverview(Overview overview);

    // A group with the given range as GROUP reports it, whatever articles it holds.
    void AddGroup(const std::string& name, std::uint32_t first, std::uint32_t last);
    // An article; its body lines end in CR LF as on the wire (before dot-stuffing). Its header
    // has the subject given ("article <number>" without one) and the poster.
    void AddArticle(const std::string& group, std::uint32_t number, const std::string& body,
                    const std::string& subject = {},
                    const std::string& from = "Poster <poster@example.com>");

    // A handler for ScriptedNntpServer::SetHandler. The spool must outlive the server.
    ScriptedNntpServer::Handler Handler();

private:
    struct Group {
        std::uint32_t first = 0;
        std::uint32_t last = 0;
        struct Article {
            std::string body;
            std::string subject;
            std::string from;
        };
        std::map<std::uint32_t, Article> articles;
    };
    ScriptedReply Answer(const std::string& command);
    ScriptedReply OverviewOf(const Group& group, const std::string& range) const;

    std::mutex m_mutex;
    std::map<std::string, Group> m_groups;
    Overview m_overview = Overview::None;
};

// Dot-stuffs a block and adds its terminating line.
std::string DotStuff(const std::string& block);

}  // namespace test

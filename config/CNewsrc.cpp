#include "config/CNewsrc.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/AtomicFile.h"

std::string CNewsrc::FileName(const std::string& hostAndPort) {
    std::string name = "zarvo-";
    for (const char c : hostAndPort) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-';
        name += plain ? c : (c == ':' ? '-' : '_');
    }
    return name + ".newsrc";
}

bool CNewsrc::Load(const std::string& path, std::string& error) {
    m_lines.clear();
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (errno == ENOENT) {
            return true;
        }
        error = path + " could not be read (" + std::strerror(errno) + ").";
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        error = path + " could not be read.";
        return false;
    }
    Parse(text.str());
    return true;
}

void CNewsrc::Parse(const std::string& text) {
    m_lines.clear();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string raw = text.substr(start, end - start);
        start = end + 1;
        // A CR LF file reads as one with LF; a line kept as it is keeps its CR too.
        const std::string line = raw.ends_with('\r') ? raw.substr(0, raw.size() - 1) : raw;
        Line entry;
        const std::size_t colon = line.find(':');
        const std::size_t blank = line.find_first_of(" \t");
        // "group: ranges"; a group another reader unsubscribed ("group! ranges"), or anything
        // else, stays as it is.
        if (colon != std::string::npos && colon > 0 &&
            (blank == std::string::npos || blank > colon)) {
            std::string numbers = line.substr(colon + 1);
            numbers.erase(0, numbers.find_first_not_of(" \t"));
            if (const std::optional<CArticleRanges> ranges = CArticleRanges::FromText(numbers)) {
                entry.group = line.substr(0, colon);
                entry.ranges = *ranges;
            }
        }
        if (entry.group.empty()) {
            if (raw.empty()) {
                continue;
            }
            entry.kept = raw;
        }
        m_lines.push_back(std::move(entry));
    }
}

std::string CNewsrc::Serialize() const {
    std::string text;
    for (const Line& line : m_lines) {
        text += line.group.empty() ? line.kept : line.group + ": " + line.ranges.ToText();
        text += '\n';
    }
    return text;
}

bool CNewsrc::Save(const std::string& path, std::string& error) const {
    std::string reason;
    if (!platform::WriteFileAtomically(path, Serialize(), 0644, reason)) {
        error = path + " could not be written (" + reason + ").";
        return false;
    }
    return true;
}

CArticleRanges& CNewsrc::Group(const std::string& name) {
    for (Line& line : m_lines) {
        if (line.group == name) {
            return line.ranges;
        }
    }
    m_lines.push_back(Line{name, {}, {}});
    return m_lines.back().ranges;
}

const CArticleRanges* CNewsrc::Find(const std::string& name) const {
    for (const Line& line : m_lines) {
        if (line.group == name) {
            return &line.ranges;
        }
    }
    return nullptr;
}

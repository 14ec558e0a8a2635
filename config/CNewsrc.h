#pragma once

// The record of the articles already processed, group by group, for one news server, in the
// newsreaders' own .newsrc format: one line a group, "alt.pictures: 1-2000,2005". Lines it does
// not understand, and groups marked "!" by another reader, are kept as they are. It is read
// whole and written whole through a temporary file, so a crash leaves the old record or the new
// one.

#include <string>
#include <vector>

#include "config/CArticleRanges.h"

class CNewsrc {
public:
    // The record's file beside zarvo.cfg for the server ("host:port"): zarvo-<host>-<port>.newsrc,
    // with every character a file name should not hold replaced.
    static std::string FileName(const std::string& hostAndPort);

    // Reads the file; a missing file is an empty record. False, with `error` set for the user,
    // when it exists and cannot be read.
    bool Load(const std::string& path, std::string& error);
    bool Save(const std::string& path, std::string& error) const;

    // The group's processed articles; an empty set is made for a group not yet in the record.
    CArticleRanges& Group(const std::string& name);
    // Nothing for a group not in the record.
    const CArticleRanges* Find(const std::string& name) const;

    std::string Serialize() const;
    void Parse(const std::string& text);

private:
    struct Line {
        std::string group;  // empty for a line kept as it is
        CArticleRanges ranges;
        std::string kept;  // the whole line, when it is not ours to change
    };
    std::vector<Line> m_lines;
};

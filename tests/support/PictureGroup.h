#pragma once

// A group built like today's picture groups, for the worker's tests against the scripted server
// and against INN: single- and multi-part yEnc pictures, a ZIP, a 7z and a two-volume RAR set of
// pictures, the PAR2 and NFO files of a set, a video in 25 parts, a picture posted under an
// obfuscated name without an extension, reposts of earlier pictures, a uuencoded scan in two
// parts, and text replies. It says which articles a collector should never ask for and which
// pictures it should end up with.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace test {

struct PostedArticle {
    std::string subject;
    std::string from;
    std::string body;  // lines ending in CR LF
    // Whether fetching it can give a picture the collection does not have yet, or is needed to
    // tell: false for the video, the PAR2 and the NFO files, which must never be asked for.
    bool wanted = true;
};

struct PictureGroup {
    std::vector<PostedArticle> articles;  // in posting order
    // The pictures the collection should hold afterwards, by path under images/<group>/
    // ("beach01.jpg", "set-beach/shell.jpg"), with their bytes.
    std::map<std::string, std::string> pictures;
};

// The group of the first run.
PictureGroup TodaysPictureGroup();
// What is posted after the first run: one new picture and one repost of an earlier one; its
// `pictures` holds only the new one.
PictureGroup NextDaysPosts();

}  // namespace test

#pragma once

// Groups a newsgroup's overview entries into posts, the files that posters post, each in one or
// more articles, before anything is fetched: the parts of one post share the poster, the subject
// (but for the part number) and the part count. It holds a post until it is complete or its
// missing parts can no longer come, and fetches or decodes nothing.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "nntp/COverviewEntry.h"

struct CPost {
    struct Part {
        std::uint32_t number = 0;   // the part number, 1 .. parts
        std::uint32_t article = 0;  // the article number in the group
        std::uint64_t bytes = 0;    // the article's size, as the overview gives it
        std::string messageId;
        std::string subject;                 // as the overview gives it, with this part's number
        std::optional<std::uint32_t> lines;  // the body's lines, when the overview tells
    };

    // Poster, subject (with a placeholder for the part number) and part count (0 for the part 0
    // some uuencoded posts send ahead, a post of its own): shared by every part of this post and
    // no other.
    std::string key;
    std::string name;         // from the subject; empty when it tells none
    std::string poster;       // the From field
    std::string subject;      // the Subject field of the entry that started the post
    std::string date;         // the Date field of its first listed part
    std::uint32_t parts = 1;  // how many parts the post has; 1 for a single article
    std::uint32_t file = 0;   // the set marker, when the subject has one
    std::uint32_t files = 0;
    std::optional<std::uint64_t> declaredSize;  // the size the subject gives
    bool yenc = false;
    std::vector<Part> listed;  // the parts the overview lists, sorted by number, each number once

    // The listed parts' bytes, as the overview counts them.
    std::uint64_t Bytes() const;
    // Every part 1 .. parts is listed.
    bool Complete() const;
    // The lowest and highest article number listed.
    std::uint32_t Oldest() const;
    std::uint32_t Newest() const;
    // The part numbers not listed, ascending.
    std::vector<std::uint32_t> Missing() const;
    // The whole post's size as best known: the declared size when given, else the listed bytes
    // scaled up to every part.
    std::uint64_t EstimatedBytes() const;
};

class CPostList {
public:
    // Adds one overview entry to the post it belongs to, or starts a new one. An entry whose part
    // number is listed already for its key is a repost: it joins the first post of the same key
    // that lacks that part, or starts another. A subject without a part marker is a post of one
    // article; so is the text some uuencoded posts send as part 0.
    void Add(const COverviewEntry& entry);
    // Whether the entry would join a post the list holds and fill one of its missing parts (for
    // looking back before the first article visited: older entries count only when they complete
    // a post).
    bool Completes(const COverviewEntry& entry) const;
    // Takes out the posts that are settled, given that every article up to `frontier` has been
    // listed: complete posts, single articles, and posts whose newest listed article lies more
    // than `span` articles below the frontier (their missing parts would have been listed by
    // now). With `final`, every post. In the order of their oldest listed article.
    std::vector<CPost> TakeSettled(std::uint32_t frontier, std::uint32_t span, bool final);
    // The posts held.
    std::size_t Waiting() const { return m_posts.size(); }

private:
    struct Held {
        CPost post;
        std::uint32_t oldest = 0;
        std::uint32_t newest = 0;
        std::uint32_t firstPart = 0;  // the lowest part number listed, whose date the post has
        bool single = true;
    };
    // The posts held of one key, oldest first. The posts holding a given part number always come
    // first, so an entry of part p joins the post at having[p], if there is one.
    struct KeyPosts {
        std::vector<std::uint64_t> posts;
        std::unordered_map<std::uint32_t, std::uint32_t> having;
    };
    // What an entry's subject makes of it.
    struct Placed {
        std::string key;
        std::uint32_t part = 1;
        bool single = true;  // a post of one article, which nothing joins
    };

    // Reads the entry's subject; fills in what the post takes from it when `post` is given.
    static Placed Place(const COverviewEntry& entry, CPost* post);
    // Takes the posts out of their keys' lists.
    void Ungroup(const std::vector<std::uint64_t>& ids);

    std::uint64_t m_nextId = 0;  // posts are numbered as they are started
    std::unordered_map<std::uint64_t, Held> m_posts;
    std::unordered_map<std::string, KeyPosts> m_keys;
    std::vector<std::uint64_t> m_complete;                         // settled whatever the frontier
    std::set<std::pair<std::uint32_t, std::uint64_t>> m_byNewest;  // the others, by newest article
};

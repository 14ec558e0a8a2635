#pragma once

// The posts of one group in a run, batch by batch: the overview's entries are grouped into
// posts; a post that a batch's end cuts waits for its other parts, and the volumes of an archive
// set wait for each other; each post is then decided (DecidePost) and turned into the articles
// to fetch, each with the post it belongs to, and the articles passed over. A post is fetched
// whole or not at all: parts that earlier runs fetched are never asked for again, parts that
// lie before the articles visited are fetched with the rest, and a post with parts missing on
// the server is passed over unless they are its newest (still being posted). A post whose name
// says nothing is looked at first: its first part is fetched, and its bytes decide the rest. It
// asks no server and fetches nothing.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "config/CArticleRanges.h"
#include "decode/CPictureCollector.h"
#include "decode/FileKind.h"
#include "fetch/CPostList.h"
#include "fetch/PostDecision.h"
#include "nntp/COverviewEntry.h"

// What the post an article belongs to is taken for.
struct CPostTarget {
    std::string key;   // the post's key
    std::string name;  // the file name its subject gives
    FileKind kind = FileKind::Unknown;
    std::optional<CVolumeHint> volume;  // a volume of an archive set
    // Only the first part is fetched so far: its first bytes decide the rest (Looked).
    bool look = false;
};

struct CPlannedArticle {
    std::uint32_t number = 0;
    bool fetch = false;
    // One of the numbers the run visits; false for a part of a post that lies before them.
    bool visited = true;
    std::shared_ptr<const CPostTarget> target;  // none for an article not fetched
    // What the overview says of it, for the article's header.
    std::string subject;
    std::string from;
    std::string messageId;
    std::uint64_t bytes = 0;  // the article's size; 0 when unknown

    bool operator<(const CPlannedArticle& other) const { return number < other.number; }
};

class CGroupPlan {
public:
    // How far behind the newest article listed a post's parts may still be listed: a post
    // whose newest part lies further back than this is settled, whole or not.
    static constexpr std::uint32_t SPAN = 3000;

    // `earlier` holds the articles earlier runs processed; `groupLast` is GROUP's last number.
    CGroupPlan(CCollectPolicy policy, CArticleRanges earlier, std::uint32_t groupLast);

    // The overview of a batch visiting `numbers` (ascending). Entries of numbers it does not
    // visit are taken only where they complete a post.
    void AddBatch(const std::vector<std::uint32_t>& numbers,
                  const std::vector<COverviewEntry>& entries);
    // The overview of articles before those visited: taken only where they complete a post.
    void AddLookBack(const std::vector<COverviewEntry>& entries);
    // The articles whose post is settled, ascending; with `final` (every batch added), every one
    // but those of posts being looked at.
    std::vector<CPlannedArticle> TakeWork(bool final);
    // What the first part of a post being looked at gave: its first bytes, or nothing when it
    // gave none. The rest of the post comes with the next TakeWork.
    void Looked(const std::string& key, const std::optional<std::string>& firstBytes);
    // Whether anything is left for TakeWork.
    bool HasWork() const;

    const PassCounts& PassedOver() const { return m_passed; }

private:
    using Target = std::shared_ptr<const CPostTarget>;

    void AddContext(const COverviewEntry& entry);
    // Fetching, or passing over, every part of the post that no earlier run processed.
    void Emit(const CPost& post, const Target& target, std::vector<CPlannedArticle>& work);
    void PassOver(const CPost& post, PassReason reason, std::vector<CPlannedArticle>& work);
    // A post the overview lists with parts missing that may still come: its newest ones.
    bool StillBeingPosted(const CPost& post) const;
    void Decide(const CPost& post, std::vector<CPlannedArticle>& work);
    void DecideSet(std::vector<CPost>& set, std::vector<CPlannedArticle>& work);

    CCollectPolicy m_policy;
    CArticleRanges m_earlier;
    std::uint32_t m_groupLast;
    std::uint32_t m_frontier = 0;
    CPostList m_posts;
    // Numbers of entries taken from outside the visited ones.
    std::unordered_set<std::uint32_t> m_context;
    // Visited numbers the overview does not list: gone from the server.
    std::vector<std::uint32_t> m_gone;
    // The volumes of archive sets, by set, until the set is settled.
    std::map<std::string, std::vector<CPost>> m_sets;
    // Posts being looked at, by key: the parts after the first.
    std::unordered_map<std::string, CPost> m_looking;
    std::vector<CPlannedArticle> m_ready;
    PassCounts m_passed{};
};

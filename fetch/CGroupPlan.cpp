#include "fetch/CGroupPlan.h"

#include <algorithm>

namespace {

std::uint32_t Newest(const std::vector<CPost>& posts) {
    std::uint32_t newest = 0;
    for (const CPost& post : posts) {
        newest = std::max(newest, post.Newest());
    }
    return newest;
}

std::shared_ptr<CPostTarget> TargetOf(const CPost& post, FileKind kind) {
    auto target = std::make_shared<CPostTarget>();
    target->key = post.key;
    target->name = post.name;
    target->kind = kind;
    return target;
}

}  // namespace

CGroupPlan::CGroupPlan(CCollectPolicy policy, CArticleRanges earlier, std::uint32_t groupLast)
    : m_policy(std::move(policy)), m_earlier(std::move(earlier)), m_groupLast(groupLast) {}

void CGroupPlan::AddBatch(const std::vector<std::uint32_t>& numbers,
                          const std::vector<COverviewEntry>& entries) {
    if (numbers.empty()) {
        return;
    }
    m_frontier = std::max(m_frontier, numbers.back());
    std::vector<const COverviewEntry*> context;
    std::size_t next = 0;
    for (const std::uint32_t number : numbers) {
        while (next < entries.size() && entries[next].number < number) {
            context.push_back(&entries[next++]);
        }
        if (next < entries.size() && entries[next].number == number) {
            m_posts.Add(entries[next++]);
        } else {
            m_gone.push_back(number);
        }
    }
    // Entries between the visited numbers (articles processed before) count only where they
    // complete a post of this batch: so they are looked at after every visited one.
    for (const COverviewEntry* entry : context) {
        AddContext(*entry);
    }
}

void CGroupPlan::AddLookBack(const std::vector<COverviewEntry>& entries) {
    for (const COverviewEntry& entry : entries) {
        AddContext(entry);
    }
}

void CGroupPlan::AddContext(const COverviewEntry& entry) {
    if (m_posts.Completes(entry)) {
        m_context.insert(entry.number);
        m_posts.Add(entry);
    }
}

bool CGroupPlan::StillBeingPosted(const CPost& post) const {
    std::uint32_t highest = 0;
    for (const CPost::Part& part : post.listed) {
        highest = std::max(highest, part.number);
    }
    // Every part up to the highest listed is there (the parts listed are distinct), and some
    // after it are not: what is missing is the newest.
    return post.listed.size() == highest && highest < post.parts &&
           static_cast<std::uint64_t>(post.Newest()) + SPAN >= m_groupLast;
}

void CGroupPlan::Emit(const CPost& post, const Target& target, std::vector<CPlannedArticle>& work) {
    for (const CPost::Part& part : post.listed) {
        const bool context = m_context.erase(part.article) > 0;
        if (context && m_earlier.Contains(part.article)) {
            continue;  // an earlier run has it: pending, or passed over for good
        }
        work.push_back({part.article, target != nullptr, !context, target, part.subject,
                        post.poster, part.messageId, part.bytes});
    }
}

void CGroupPlan::PassOver(const CPost& post, PassReason reason,
                          std::vector<CPlannedArticle>& work) {
    ++m_passed[static_cast<std::size_t>(reason)];
    Emit(post, nullptr, work);
}

void CGroupPlan::Decide(const CPost& post, std::vector<CPlannedArticle>& work) {
    if (post.parts == 1 && post.listed.size() == 1 && post.listed.front().lines &&
        *post.listed.front().lines < 2) {
        // Fewer than two lines of body cannot hold a picture: not a post of a file at all.
        Emit(post, nullptr, work);
        return;
    }
    if (!post.Complete() && !StillBeingPosted(post)) {
        PassOver(post, PassReason::Incomplete, work);
        return;
    }
    const CPostVerdict verdict = DecidePost(post, m_policy, post.EstimatedBytes());
    if (verdict.action == PostAction::PassOver) {
        PassOver(post, verdict.reason, work);
        return;
    }
    const std::shared_ptr<CPostTarget> target = TargetOf(post, verdict.kind);
    const auto first = std::find_if(post.listed.begin(), post.listed.end(),
                                    [](const CPost::Part& part) { return part.number == 1; });
    const bool firstHeld = first == post.listed.end() || (m_context.count(first->article) > 0 &&
                                                          m_earlier.Contains(first->article));
    if (verdict.action == PostAction::Look && post.listed.size() > 1 && !firstHeld) {
        // Only the first part for now; the rest waits for what its bytes say.
        target->look = true;
        CPost head = post;
        head.listed = {*first};
        CPost rest = post;
        std::erase_if(rest.listed, [](const CPost::Part& part) { return part.number == 1; });
        Emit(head, target, work);
        m_looking[post.key] = std::move(rest);
        return;
    }
    Emit(post, target, work);
}

void CGroupPlan::DecideSet(std::vector<CPost>& set, std::vector<CPlannedArticle>& work) {
    std::stable_sort(set.begin(), set.end(), [](const CPost& a, const CPost& b) {
        return ArchiveVolumeOf(a.name)->index < ArchiveVolumeOf(b.name)->index;
    });
    // A volume posted twice (a repost in the same window) is fetched once.
    for (auto volume = set.begin(); volume != set.end();) {
        const auto earlier = std::find_if(set.begin(), volume, [&volume](const CPost& other) {
            return ArchiveVolumeOf(other.name)->index == ArchiveVolumeOf(volume->name)->index;
        });
        if (earlier != volume) {
            Emit(*volume, nullptr, work);
            volume = set.erase(volume);
        } else {
            ++volume;
        }
    }
    const CArchiveVolume last = *ArchiveVolumeOf(set.back().name);
    std::uint64_t bytes = 0;
    bool whole = set.size() == last.index + 1;
    for (std::size_t i = 0; i < set.size(); ++i) {
        bytes += set[i].EstimatedBytes();
        whole = whole && ArchiveVolumeOf(set[i].name)->index == i && set[i].Complete();
    }
    const bool stillBeingPosted =
        !whole && Newest(set) + static_cast<std::uint64_t>(SPAN) >= m_groupLast;
    if (!whole && !stillBeingPosted) {
        for (const CPost& volume : set) {
            PassOver(volume, PassReason::Incomplete, work);
        }
        return;
    }
    const CPostVerdict verdict = DecidePost(set.front(), m_policy, bytes);
    for (const CPost& volume : set) {
        if (verdict.action == PostAction::PassOver) {
            PassOver(volume, verdict.reason, work);
            continue;
        }
        const std::shared_ptr<CPostTarget> target = TargetOf(volume, verdict.kind);
        target->volume =
            CVolumeHint{last.stem, ArchiveVolumeOf(volume.name)->index, last.index + 1};
        Emit(volume, target, work);
    }
}

std::vector<CPlannedArticle> CGroupPlan::TakeWork(bool final) {
    std::vector<CPlannedArticle> work = std::move(m_ready);
    m_ready.clear();
    for (const std::uint32_t number : m_gone) {
        work.push_back({number, false, true, nullptr, {}, {}, {}});
    }
    m_gone.clear();
    for (CPost& post : m_posts.TakeSettled(m_frontier, SPAN, final)) {
        const std::optional<CArchiveVolume> volume = ArchiveVolumeOf(post.name);
        if (volume && KindOfName(post.name) == FileKind::Archive) {
            // One poster's volumes of one name make a set.
            m_sets[post.poster + "\n" + volume->stem].push_back(std::move(post));
        } else {
            Decide(post, work);
        }
    }
    for (auto set = m_sets.begin(); set != m_sets.end();) {
        // A set whose newest volume is recent may have more volumes to come.
        if (!final && static_cast<std::uint64_t>(Newest(set->second)) + SPAN >= m_frontier) {
            ++set;
            continue;
        }
        DecideSet(set->second, work);
        set = m_sets.erase(set);
    }
    std::sort(work.begin(), work.end());
    return work;
}

void CGroupPlan::Looked(const std::string& key, const std::optional<std::string>& firstBytes) {
    const auto looking = m_looking.find(key);
    if (looking == m_looking.end()) {
        return;
    }
    const CPost rest = std::move(looking->second);
    m_looking.erase(looking);
    const CSniffed sniffed = firstBytes ? SniffBytes(*firstBytes) : CSniffed{};
    if (sniffed.kind == FileKind::Picture || sniffed.kind == FileKind::Archive) {
        Emit(rest, TargetOf(rest, sniffed.kind), m_ready);
    } else {
        // Not a picture, nor an archive: the rest is not worth fetching.
        PassOver(rest, PassReason::OtherFile, m_ready);
    }
}

bool CGroupPlan::HasWork() const {
    return !m_ready.empty() || !m_looking.empty() || !m_gone.empty() || !m_sets.empty() ||
           m_posts.Waiting() > 0;
}

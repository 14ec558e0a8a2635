#include "fetch/CPostList.h"

#include <algorithm>
#include <limits>
#include <unordered_set>

#include "fetch/PostSubject.h"

namespace {

constexpr std::uint64_t kMostBytes = std::numeric_limits<std::uint64_t>::max();

}  // namespace

std::uint64_t CPost::Bytes() const {
    std::uint64_t sum = 0;
    for (const Part& part : listed) {
        if (__builtin_add_overflow(sum, part.bytes, &sum)) {
            return kMostBytes;
        }
    }
    return sum;
}

bool CPost::Complete() const {
    return listed.size() == parts;
}

std::uint32_t CPost::Oldest() const {
    const auto oldest =
        std::min_element(listed.begin(), listed.end(),
                         [](const Part& a, const Part& b) { return a.article < b.article; });
    return oldest == listed.end() ? 0 : oldest->article;
}

std::uint32_t CPost::Newest() const {
    const auto newest =
        std::max_element(listed.begin(), listed.end(),
                         [](const Part& a, const Part& b) { return a.article < b.article; });
    return newest == listed.end() ? 0 : newest->article;
}

std::vector<std::uint32_t> CPost::Missing() const {
    std::vector<std::uint32_t> missing;
    auto next = listed.begin();
    for (std::uint64_t number = 1; number <= parts; ++number) {
        while (next != listed.end() && next->number < number) {
            ++next;
        }
        if (next == listed.end() || next->number != number) {
            missing.push_back(static_cast<std::uint32_t>(number));
        }
    }
    return missing;
}

std::uint64_t CPost::EstimatedBytes() const {
    if (declaredSize) {
        return *declaredSize;
    }
    const std::uint64_t bytes = Bytes();
    if (listed.empty() || listed.size() >= parts) {
        return bytes;
    }
    std::uint64_t scaled = 0;
    if (!__builtin_mul_overflow(bytes, parts, &scaled)) {
        return scaled / listed.size();
    }
    return __builtin_mul_overflow(bytes / listed.size(), parts, &scaled) ? kMostBytes : scaled;
}

CPostList::Placed CPostList::Place(const COverviewEntry& entry, CPost* post) {
    const CPostSubject subject = ParseSubject(entry.subject);
    Placed placed;
    placed.single = subject.parts <= 1 || subject.part == 0;
    placed.part = placed.single ? 1 : subject.part;
    // A part 0 stands apart from the parts that follow it, under a count no post has.
    const std::uint32_t count = subject.part == 0 && subject.parts > 0 ? 0
                                : placed.single                        ? 1
                                                                       : subject.parts;
    placed.key = entry.from;
    placed.key += '\n';
    placed.key += subject.rest;
    placed.key += '\n';
    placed.key += std::to_string(count);
    if (post != nullptr) {
        post->key = placed.key;
        post->name = subject.name;
        post->poster = entry.from;
        post->subject = entry.subject;
        post->parts = placed.single ? 1 : subject.parts;
        post->file = subject.file;
        post->files = subject.files;
        post->declaredSize = subject.size;
        post->yenc = subject.yenc;
    }
    return placed;
}

void CPostList::Add(const COverviewEntry& entry) {
    Held fresh;
    const Placed placed = Place(entry, &fresh.post);
    CPost::Part part{placed.part,     entry.number,  entry.bytes,
                     entry.messageId, entry.subject, entry.lines};
    if (!placed.single) {
        KeyPosts& group = m_keys[placed.key];
        std::uint32_t& having = group.having[placed.part];
        if (having < group.posts.size()) {
            const std::uint64_t id = group.posts[having++];
            Held& held = m_posts.at(id);
            m_byNewest.erase({held.newest, id});
            if (placed.part < held.firstPart) {
                held.firstPart = placed.part;
                held.post.date = entry.date;
            }
            held.oldest = std::min(held.oldest, entry.number);
            held.newest = std::max(held.newest, entry.number);
            held.post.listed.push_back(std::move(part));
            if (held.post.Complete()) {
                m_complete.push_back(id);
            } else {
                m_byNewest.emplace(held.newest, id);
            }
            return;
        }
        ++having;
        group.posts.push_back(m_nextId);
    }
    const std::uint64_t id = m_nextId++;
    fresh.post.date = entry.date;
    fresh.post.listed.push_back(std::move(part));
    fresh.oldest = entry.number;
    fresh.newest = entry.number;
    fresh.firstPart = placed.part;
    fresh.single = placed.single;
    if (placed.single) {
        m_complete.push_back(id);
    } else {
        m_byNewest.emplace(entry.number, id);
    }
    m_posts.emplace(id, std::move(fresh));
}

bool CPostList::Completes(const COverviewEntry& entry) const {
    const Placed placed = Place(entry, nullptr);
    if (placed.single) {
        return false;
    }
    const auto group = m_keys.find(placed.key);
    if (group == m_keys.end()) {
        return false;
    }
    const auto having = group->second.having.find(placed.part);
    return (having == group->second.having.end() ? 0 : having->second) < group->second.posts.size();
}

std::vector<CPost> CPostList::TakeSettled(std::uint32_t frontier, std::uint32_t span, bool final) {
    std::vector<std::uint64_t> ids = std::move(m_complete);
    m_complete.clear();
    while (!m_byNewest.empty() &&
           (final || static_cast<std::uint64_t>(m_byNewest.begin()->first) + span < frontier)) {
        ids.push_back(m_byNewest.begin()->second);
        m_byNewest.erase(m_byNewest.begin());
    }
    Ungroup(ids);

    std::vector<std::pair<std::uint64_t, Held>> taken;
    taken.reserve(ids.size());
    for (const std::uint64_t id : ids) {
        const auto held = m_posts.find(id);
        taken.emplace_back(id, std::move(held->second));
        m_posts.erase(held);
    }
    std::sort(taken.begin(), taken.end(), [](const auto& a, const auto& b) {
        return std::pair(a.second.oldest, a.first) < std::pair(b.second.oldest, b.first);
    });
    std::vector<CPost> posts;
    posts.reserve(taken.size());
    for (auto& [id, held] : taken) {
        std::sort(held.post.listed.begin(), held.post.listed.end(),
                  [](const CPost::Part& a, const CPost::Part& b) { return a.number < b.number; });
        posts.push_back(std::move(held.post));
    }
    return posts;
}

void CPostList::Ungroup(const std::vector<std::uint64_t>& ids) {
    std::unordered_set<std::uint64_t> gone;
    std::unordered_set<std::string> keys;
    for (const std::uint64_t id : ids) {
        const Held& held = m_posts.at(id);
        if (held.single) {
            continue;
        }
        gone.insert(id);
        keys.insert(held.post.key);
        KeyPosts& group = m_keys.at(held.post.key);
        for (const CPost::Part& part : held.post.listed) {
            const auto having = group.having.find(part.number);
            if (--having->second == 0) {
                group.having.erase(having);
            }
        }
    }
    // Taking posts out keeps the rest in order, so those holding a part still come first.
    for (const std::string& key : keys) {
        const auto group = m_keys.find(key);
        std::erase_if(group->second.posts, [&](std::uint64_t id) { return gone.contains(id); });
        if (group->second.posts.empty()) {
            m_keys.erase(group);
        }
    }
}

#include "fetch/GroupFetch.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <optional>
#include <vector>

#include "fetch/ArticlePicture.h"
#include "fetch/BatchFetch.h"
#include "fetch/CGroupPlan.h"
#include "fetch/ControlIds.h"
#include "fetch/Reconnect.h"
#include "fetch/VisitPlan.h"
#include "platform/Console.h"

namespace {

// The articles one overview covers, and one queue holds.
constexpr std::uint32_t BATCH = 1000;
// How far before the first article visited the overview is read for earlier parts of the posts
// that the visited articles continue.
constexpr std::uint32_t LOOK_BACK = 2000;
// How often the record is written while a group goes on, in articles.
constexpr std::uint64_t RECORD_EVERY = 300;

std::string Counter(std::uint64_t done, std::uint64_t total) {
    return std::to_string(done) + " / " + std::to_string(total);
}

// GROUP's article count (RFC 3977, 6.1.1.2), when the server gave a readable one.
std::optional<std::uint64_t> ArticleCount(const CNewsGroup& group) {
    std::uint64_t count = 0;
    const char* const end = group.info.data() + group.info.size();
    const auto [parsedTo, error] = std::from_chars(group.info.data(), end, count);
    if (group.info.empty() || error != std::errc() || parsedTo != end) {
        return std::nullopt;
    }
    return count;
}

// Hands a picture the run made to the window and counts it.
void ShowPicture(CFetchRun& run, const std::string& picture) {
    CDisplayGate& dlg = run.arg.dlg;
    run.status.Picture();
    const std::size_t size = dlg.AppendPicture(picture);
    dlg.SetEditText(IDC_PICTURE_COUNTER, Counter(dlg.CurrentPicture() + 1, size));
    if (size == 1) {
        // The first picture of a run is shown as soon as it exists.
        dlg.OnNext();
    }
}

std::vector<CArticleQueue::Item> ItemsOf(std::vector<CPlannedArticle> work) {
    std::vector<CArticleQueue::Item> items(work.size());
    for (std::size_t i = 0; i < work.size(); ++i) {
        CArticleQueue::Item& item = items[i];
        item.number = work[i].number;
        item.fetch = work[i].fetch;
        item.overview = true;
        item.visited = work[i].visited;
        item.subject = std::move(work[i].subject);
        item.from = std::move(work[i].from);
        item.messageId = std::move(work[i].messageId);
        item.bytes = work[i].bytes;
        item.target = std::move(work[i].target);
    }
    return items;
}

// One group's articles, batch by batch, and what became of them.
class CGroupFetch {
public:
    CGroupFetch(CFetchRun& run, const std::string& name, const CNewsGroup& group, int& tries,
                std::string& why)
        : m_run(run),
          m_name(name),
          m_first(std::max<std::uint32_t>(static_cast<std::uint32_t>(group.first), 1)),
          m_last(static_cast<std::uint32_t>(group.last)),
          m_tries(tries),
          m_why(why),
          m_done(run.record.Group(name)),
          m_visit(PlanVisit(m_done, {run.settings.onlyNewArticles, run.settings.firstRunNewest},
                            static_cast<std::uint32_t>(group.first), m_last, ArticleCount(group))),
          m_posts(CCollectPolicy::FromSettings(run.settings),
                  m_visit.renumbered ? CArticleRanges() : m_done, m_last) {}

    GroupEnd Fetch();

private:
    // True to go on with the batch.
    bool Handle(const CArticleQueue::Item& item, std::unique_ptr<CNewsMessage> message);
    // Fetches the articles of one batch of numbers (`numbers` empty: what the posts still hold).
    void FetchNumbers(const std::vector<std::uint32_t>& numbers, bool firstOfRange, bool final);
    bool EnsureConnection();
    // The overview of first..last, or nothing: the server gives none, or the connection was
    // lost for good (the group's end then says so).
    std::optional<std::vector<COverviewEntry>> Overview(std::uint32_t first, std::uint32_t last);
    void RunBatch(std::vector<CArticleQueue::Item> items);

    CFetchRun& m_run;
    const std::string& m_name;
    const std::uint32_t m_first;
    const std::uint32_t m_last;
    int& m_tries;
    std::string& m_why;
    CArticleRanges& m_done;
    const CVisitPlan m_visit;
    CGroupPlan m_posts;
    std::uint64_t m_position = 0;
    GroupEnd m_end = GroupEnd::Done;
    bool m_diskFull = false;
};

bool CGroupFetch::Handle(const CArticleQueue::Item& item, std::unique_ptr<CNewsMessage> message) {
    if (item.visited) {
        ++m_position;
    }
    const CPostTarget* target = item.target.get();
    bool processed = true;
    std::optional<std::string> firstBytes;
    if (message != nullptr) {
        try {
            m_run.target = target;
            CArticleOutcome outcome =
                ExtractArticle(m_run.assembler, *m_run.collector, m_name, *message, target);
            m_run.target = nullptr;
            for (const std::string& picture : outcome.collected.pictures) {
                ShowPicture(m_run, picture);
            }
            m_run.status.Recognised(outcome.collected.recognised);
            m_run.status.NotPictures(outcome.collected.dropped);
            firstBytes = std::move(outcome.firstBytes);
            if (outcome.collected.failed) {
                // Nothing of it is lost: the next run fetches it again.
                processed = false;
                m_run.status.Unwritten();
                m_diskFull = m_diskFull || outcome.collected.diskFull;
            }
        } catch (const std::exception& error) {
            m_run.target = nullptr;
            platform::WriteConsole("article " + std::to_string(item.number) +
                                   " skipped: " + error.what() + "\n");
        }
    }
    if (target != nullptr && target->look) {
        m_posts.Looked(target->key, firstBytes);
    }
    // What came from the server: with the overview, the body alone was asked for.
    const std::uint64_t received =
        message == nullptr ? 0 : message->bodyLength + (item.overview ? 0 : message->headerLength);
    m_run.status.Article(m_position, received);
    // Only now is the article processed: the record never claims more.
    if (processed) {
        m_done.Add(item.number);
    }
    if (m_run.status.Figures().articles % RECORD_EVERY == 0) {
        m_run.SaveRecord();
    }
    return !m_diskFull;
}

bool CGroupFetch::EnsureConnection() {
    // The worker's own connection asks for the overview: win it back first when it is lost.
    if (!m_run.arg.server.ConnectionLost()) {
        return true;
    }
    std::unique_ptr<CNewsGroup> reopened;
    switch (ReconnectToGroup(m_run.arg.server, m_run.arg.stop, m_run.status, m_name, m_tries,
                             reopened, m_why, m_run.arg.reconnect)) {
        case Reconnect::Resumed:
            return true;
        case Reconnect::Stopped:
            m_end = GroupEnd::Stopped;
            return false;
        case Reconnect::Failed:
            m_end = GroupEnd::Lost;
            return false;
    }
    return false;
}

std::optional<std::vector<COverviewEntry>> CGroupFetch::Overview(std::uint32_t first,
                                                                 std::uint32_t last) {
    std::vector<COverviewEntry> entries;
    // A connection lost on the way is won back (up to the usual tries) and asked again: the
    // overview decides what is fetched, so it is not done without.
    while (m_run.overview && EnsureConnection()) {
        if (m_run.arg.server.Overview(first, last, entries)) {
            return entries;
        }
        // A server without an overview never gives one.
        m_run.overview = m_run.arg.server.ConnectionLost();
    }
    return std::nullopt;
}

void CGroupFetch::RunBatch(std::vector<CArticleQueue::Item> items) {
    // A batch cut short by a lost connection goes on from the first article not handed over,
    // once the worker's own connection is won back with the run's patience; the connections of
    // the batch tried only briefly.
    while (!items.empty() && m_end == GroupEnd::Done && EnsureConnection()) {
        std::size_t handed = 0;
        const ArticleHandler handle = [this, &handed](const CArticleQueue::Item& item,
                                                      std::unique_ptr<CNewsMessage> message) {
            ++handed;
            return Handle(item, std::move(message));
        };
        std::string why;
        const BatchEnd end = FetchBatch(m_run, m_name, items, 0, handle, why);
        if (handed > 0) {
            m_tries = 0;
        }
        switch (end) {
            case BatchEnd::Done:
                return;
            case BatchEnd::Stopped:
                m_end = GroupEnd::Stopped;
                return;
            case BatchEnd::Ended:
                m_end = GroupEnd::DiskFull;
                return;
            case BatchEnd::Lost:
                break;
        }
        // Only a lost connection is worth winning back: a log-in asked for, or a server that
        // refuses, would refuse again.
        if (!why.empty() || !m_run.arg.server.ConnectionLost()) {
            m_why = why;
            m_end = GroupEnd::Lost;
            return;
        }
        items.erase(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(handed));
    }
}

void CGroupFetch::FetchNumbers(const std::vector<std::uint32_t>& numbers, bool firstOfRange,
                               bool final) {
    if (m_end != GroupEnd::Done) {
        return;
    }
    const std::optional<std::vector<COverviewEntry>> entries =
        Overview(numbers.front(), numbers.back());
    if (m_end != GroupEnd::Done) {
        return;
    }
    if (!entries) {
        // Without an overview every article is fetched with its header, and the collection
        // alone decides.
        std::vector<CArticleQueue::Item> items(numbers.size());
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            items[i].number = numbers[i];
        }
        RunBatch(std::move(items));
        return;
    }
    m_posts.AddBatch(numbers, *entries);
    if (firstOfRange && numbers.front() > m_first) {
        // The posts that the first articles continue began before them: their earlier parts are
        // fetched with the rest, unless an earlier run had them.
        const std::uint32_t from = numbers.front() - std::min(numbers.front() - m_first, LOOK_BACK);
        if (const auto before = Overview(from, numbers.front() - 1)) {
            m_posts.AddLookBack(*before);
        }
    }
    RunBatch(ItemsOf(m_posts.TakeWork(final)));
}

GroupEnd CGroupFetch::Fetch() {
    if (m_visit.renumbered) {
        m_done.Clear();
    }
    if (m_visit.windowStart > 0) {
        // The older articles are passed over for good, as a newsreader catching up marks them:
        // otherwise the next run would fetch every one of them.
        m_done.Add(1, m_visit.windowStart - 1);
    }
    m_run.status.GroupBegins(m_name, m_visit.count);
    std::vector<std::uint32_t> numbers;
    std::uint64_t taken = 0;
    for (const CArticleRanges::Range& range : m_visit.ranges) {
        bool firstOfRange = true;
        // A 64-bit counter: the loop must end after article 4294967295 too.
        for (std::uint64_t n = range.first; n <= range.last && m_end == GroupEnd::Done; ++n) {
            numbers.push_back(static_cast<std::uint32_t>(n));
            ++taken;
            if (numbers.size() == BATCH || n == range.last) {
                FetchNumbers(numbers, firstOfRange, taken == m_visit.count);
                firstOfRange = false;
                numbers.clear();
            }
        }
    }
    // What waited for the last batch: posts looked at, and the rest of their parts.
    while (m_run.overview && m_end == GroupEnd::Done && m_posts.HasWork()) {
        std::vector<CPlannedArticle> work = m_posts.TakeWork(true);
        if (work.empty()) {
            break;
        }
        RunBatch(ItemsOf(std::move(work)));
    }
    m_run.status.PassedOver(m_posts.PassedOver());
    m_run.SaveRecord();
    return m_end;
}

}  // namespace

GroupEnd FetchGroupArticles(CFetchRun& run, const std::string& name, const CNewsGroup& group,
                            int& tries, std::string& why) {
    CGroupFetch fetch(run, name, group, tries, why);
    return fetch.Fetch();
}

#include "fetch/GroupFetch.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <optional>
#include <vector>

#include "fetch/ArticlePicture.h"
#include "fetch/BatchFetch.h"
#include "fetch/ControlIds.h"
#include "fetch/GroupConnection.h"
#include "fetch/Reconnect.h"
#include "fetch/VisitPlan.h"
#include "platform/Console.h"

namespace {

// The articles one overview covers, and one queue holds.
constexpr std::uint32_t BATCH = 1000;
// How often the record is written while a group goes on, in articles.
constexpr std::uint64_t RECORD_EVERY = 300;

std::string Counter(std::uint64_t done, std::uint64_t total) {
    return std::to_string(done) + " / " + std::to_string(total);
}

// The batch's articles: with an overview, those that can hold a picture are fetched with BODY
// alone and the rest passed over; without one, every article is fetched with HEAD and BODY.
// Where an overview is expected and requests may be in flight, the first articles' BODY
// requests follow the overview's at once, sparing the round trip they would wait for it;
// `sentAhead` says how many, and the worker's own connection reads their replies.
std::vector<CArticleQueue::Item> MakeItems(CFetchRun& run,
                                           const std::vector<std::uint32_t>& numbers,
                                           std::size_t& sentAhead) {
    CNewsServer& server = run.arg.server;
    sentAhead = 0;
    std::vector<CArticleQueue::Item> items(numbers.size());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        items[i].number = numbers[i];
    }
    if (numbers.empty() || !run.overview) {
        return items;
    }
    const bool ahead = run.settings.pipelineDepth != 1 && server.ExpectsOverview();
    std::vector<COverviewEntry> entries;
    bool given = false;
    if (server.AskOverview(numbers.front(), numbers.back())) {
        const auto count = static_cast<std::size_t>(
            ahead ? InitialRequestsInFlight(run.settings.pipelineDepth) : 0);
        while (sentAhead < std::min(count, numbers.size()) &&
               server.SendCommand("BODY " + std::to_string(numbers[sentAhead]))) {
            ++sentAhead;
        }
        given = server.ReadOverview(entries);
    }
    if (!given) {
        // Whatever was asked ahead is answered still: read and dropped, and asked again with
        // the header.
        std::string status;
        std::string body;
        for (std::size_t i = 0; i < sentAhead && !server.ConnectionLost(); ++i) {
            server.ReadReply(&status, &body, true);
        }
        sentAhead = 0;
        run.overview = server.ConnectionLost();
        return items;
    }
    std::size_t next = 0;
    for (CArticleQueue::Item& item : items) {
        while (next < entries.size() && entries[next].number < item.number) {
            ++next;
        }
        item.overview = true;
        // An article the overview does not know is gone; one of fewer than two lines of body
        // cannot hold a picture.
        item.fetch = next < entries.size() && entries[next].number == item.number &&
                     entries[next].lines >= 2;
        if (item.fetch) {
            item.subject = std::move(entries[next].subject);
            item.from = std::move(entries[next].from);
        }
    }
    return items;
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

}  // namespace

GroupEnd FetchGroupArticles(CFetchRun& run, const std::string& name, const CNewsGroup& group,
                            int& tries, std::string& why) {
    ThreadArg& arg = run.arg;
    const auto first = static_cast<std::uint32_t>(group.first);
    const auto last = static_cast<std::uint32_t>(group.last);
    CArticleRanges& done = run.record.Group(name);
    // GROUP's count (RFC 3977, 6.1.1.2), when the server gave a readable one.
    std::optional<std::uint64_t> articles;
    std::uint64_t parsed = 0;
    const char* const infoEnd = group.info.data() + group.info.size();
    const auto [parsedTo, error] = std::from_chars(group.info.data(), infoEnd, parsed);
    if (!group.info.empty() && error == std::errc() && parsedTo == infoEnd) {
        articles = parsed;
    }
    const CVisitPlan plan = PlanVisit(
        done, {run.settings.onlyNewArticles, run.settings.firstRunNewest}, first, last, articles);
    if (plan.renumbered) {
        done.Clear();
    }
    if (plan.windowStart > 0) {
        // The older articles are passed over for good, as a newsreader catching up marks them:
        // otherwise the next run would fetch every one of them.
        done.Add(1, plan.windowStart - 1);
    }
    const std::uint64_t count = plan.count;
    arg.dlg.SetProgress(IDC_GROUP_PROGRESS, 0, static_cast<std::int64_t>(count), 1, 0);
    std::uint64_t position = 0;
    const ArticleHandler handle = [&](const CArticleQueue::Item& item,
                                      std::unique_ptr<CNewsMessage> message) {
        ++position;
        arg.dlg.StepProgress(IDC_GROUP_PROGRESS);
        arg.dlg.SetEditText(IDC_ARTICLE_COUNTER, Counter(position, count));
        if (message != nullptr) {
            try {
                const std::string picture = ExtractPicture(run.assembler, name, *message);
                if (!picture.empty()) {
                    ShowPicture(run, picture);
                }
            } catch (const std::exception& error) {
                platform::WriteConsole("article " + std::to_string(item.number) +
                                       " skipped: " + error.what() + "\n");
            }
        }
        run.status.Article(name, position, count,
                           message ? message->headerLength + message->bodyLength : 0);
        // Only now is the article processed: the record never claims more.
        done.Add(item.number);
        if (position % RECORD_EVERY == 0) {
            run.SaveRecord();
        }
    };
    std::vector<std::uint32_t> numbers;
    GroupEnd end = GroupEnd::Done;
    const auto flush = [&] {
        if (numbers.empty() || end != GroupEnd::Done) {
            return;
        }
        // The worker's own connection asks for the overview: win it back first when it is lost.
        if (arg.server.ConnectionLost()) {
            std::unique_ptr<CNewsGroup> reopened;
            switch (
                ReconnectToGroup(arg.server, arg.stop, run.status, name, tries, reopened, why)) {
                case Reconnect::Resumed:
                    break;
                case Reconnect::Stopped:
                    end = GroupEnd::Stopped;
                    return;
                case Reconnect::Failed:
                    end = GroupEnd::Lost;
                    return;
            }
        }
        std::size_t sentAhead = 0;
        std::vector<CArticleQueue::Item> items = MakeItems(run, numbers, sentAhead);
        switch (FetchBatch(run, name, std::move(items), sentAhead, handle, why)) {
            case BatchEnd::Done:
                break;
            case BatchEnd::Stopped:
                end = GroupEnd::Stopped;
                break;
            case BatchEnd::Lost:
                end = GroupEnd::Lost;
                break;
        }
        tries = 0;
        numbers.clear();
    };
    for (const CArticleRanges::Range& range : plan.ranges) {
        // A 64-bit counter: the loop must end after article 4294967295 too.
        for (std::uint64_t n = range.first; n <= range.last && end == GroupEnd::Done; ++n) {
            numbers.push_back(static_cast<std::uint32_t>(n));
            if (numbers.size() == BATCH) {
                flush();
            }
        }
    }
    flush();
    run.SaveRecord();
    return end;
}

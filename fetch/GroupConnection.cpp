#include "fetch/GroupConnection.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <exception>
#include <memory>
#include <vector>

#include "fetch/Reconnect.h"
#include "nntp/ArticleReply.h"
#include "platform/Console.h"

namespace {

using Clock = std::chrono::steady_clock;

// A reply that kept the connection waiting this long says the link is long: ask further ahead.
constexpr std::chrono::milliseconds WAITED{2};
// Enough for a long fast line from the first request: a few hundred kilobytes of small
// articles. Each reply that kept the connection waiting adds one, so the depth doubles per
// round trip while it matters.
constexpr int START_DEPTH = 32;

struct InFlight {
    std::size_t index;
    bool head;  // a HEAD went out before the BODY
    // Asked ahead of the overview for an article it then said is not wanted: the reply is read
    // and dropped.
    bool drop = false;
};

// LogInNeeded: the server answered 480 (RFC 4643, 2.2): it serves no article before a log-in
// that this connection did not make. OutOfStep: the reply names another article than the one
// asked for, so the replies can no longer be matched to the requests.
enum class ReadOutcome { Article, Lost, LogInNeeded, OutOfStep };

// The reply to one HEAD or BODY for the item: its status line, checked against the article
// before anything more is read, and its block when it carries one. `arrived` says it did.
ReadOutcome ReadReplyTo(CNewsServer& session, const CArticleQueue::Item& item, bool head,
                        std::string& status, std::string& block, bool& arrived) {
    arrived = false;
    block.clear();
    if (!session.ReadReply(&status, &block, false)) {
        // A status line beyond the reply cap is no reply at all.
        return session.ConnectionLost() ? ReadOutcome::Lost : ReadOutcome::OutOfStep;
    }
    if (status.starts_with("480")) {
        return ReadOutcome::LogInNeeded;
    }
    if (!status.starts_with("2")) {
        return ReadOutcome::Article;  // refused: no message
    }
    if (!AnswersArticleRequest(status, head ? "221" : "222", item.number, item.messageId)) {
        platform::WriteConsole("article " + std::to_string(item.number) + ": the reply '" +
                               status.substr(0, std::min<std::size_t>(status.find('\r'), 200)) +
                               "' answers another request; the connection is dropped\n");
        return ReadOutcome::OutOfStep;
    }
    if (!session.ReadBuffer(&block)) {
        // Outgrew the cap, read to its end: no message.
        return session.ConnectionLost() ? ReadOutcome::Lost : ReadOutcome::Article;
    }
    arrived = true;
    return ReadOutcome::Article;
}

// The replies to one article's requests; an article the server refused gives no message.
ReadOutcome ReadArticle(CNewsServer& session, const CArticleQueue::Item& item, bool head,
                        std::unique_ptr<CNewsMessage>& message) {
    message.reset();
    std::string status;
    std::string header;
    bool headArrived = !head;
    if (head) {
        const ReadOutcome outcome = ReadReplyTo(session, item, true, status, header, headArrived);
        if (outcome != ReadOutcome::Article) {
            return outcome;
        }
    }
    std::string body;
    bool bodyArrived = false;
    const ReadOutcome outcome = ReadReplyTo(session, item, false, status, body, bodyArrived);
    if (outcome != ReadOutcome::Article || !headArrived || !bodyArrived) {
        return outcome;
    }
    message = std::make_unique<CNewsMessage>();
    message->number = item.number;
    message->header =
        head ? std::move(header) : "Subject: " + item.subject + "\r\nFrom: " + item.from + "\r\n";
    message->body = std::move(body);
    message->headerLength = message->header.size();
    message->bodyLength = message->body.size();
    return ReadOutcome::Article;
}

// One request at a time: HEAD and, when it came, BODY; with the overview, BODY alone.
ReadOutcome AskAndWait(CNewsServer& session, const CArticleQueue::Item& item,
                       std::unique_ptr<CNewsMessage>& message) {
    if (!item.overview) {
        message = session.ReadMessage(item.number);
        return message == nullptr && session.ConnectionLost() ? ReadOutcome::Lost
                                                              : ReadOutcome::Article;
    }
    if (!session.SendCommand("BODY " + std::to_string(item.number))) {
        return ReadOutcome::Lost;
    }
    return ReadArticle(session, item, false, message);
}

}  // namespace

int InitialRequestsInFlight(int depth) {
    return depth == 0 ? START_DEPTH : depth;
}

ConnectionEnd FetchWithConnection(CNewsServer& session, CArticleQueue& queue,
                                  const CGroupConnectionOptions& options,
                                  const platform::ManualResetEvent& stop, CRunStatus& status,
                                  std::string& why) {
    int tries = 0;
    std::unique_ptr<CNewsGroup> group;
    if (options.selectGroup && !session.Open(options.group, group)) {
        if (!session.ConnectionLost()) {
            return ConnectionEnd::Refused;
        }
        const Reconnect reconnect =
            ReconnectToGroup(session, stop, status, options.group, tries, group, why);
        if (reconnect != Reconnect::Resumed) {
            return reconnect == Reconnect::Stopped ? ConnectionEnd::Stopped : ConnectionEnd::Lost;
        }
    }
    const bool adaptive = options.depth == 0;
    int depth = adaptive ? START_DEPTH : options.depth;
    const int maxDepth = adaptive ? std::max(options.maxDepth, START_DEPTH) : options.depth;
    std::deque<InFlight> inFlight;
    // What was asked and not answered is asked again, first, on whatever connection.
    const auto giveBack = [&] {
        std::vector<std::size_t> unanswered;
        for (const InFlight& request : inFlight) {
            if (!request.drop) {
                unanswered.push_back(request.index);
            }
        }
        inFlight.clear();
        queue.GiveBack(unanswered);
    };
    for (std::size_t index = 0; index < options.sentAhead && index < queue.Size(); ++index) {
        inFlight.push_back({index, false, !queue.At(index).fetch});
    }
    for (;;) {
        if (stop.IsSet()) {
            return ConnectionEnd::Stopped;
        }
        bool sent = true;
        while (sent && static_cast<int>(inFlight.size()) < depth && depth > 1) {
            // Wait for the window only with nothing in flight: replies must be read meanwhile.
            const std::optional<std::size_t> index = queue.Take(inFlight.empty());
            if (!index) {
                break;
            }
            const CArticleQueue::Item& item = queue.At(*index);
            const std::string number = std::to_string(item.number);
            const bool head = !item.overview;
            sent = (!head || session.SendCommand("HEAD " + number)) &&
                   session.SendCommand("BODY " + number);
            inFlight.push_back({*index, head});
        }
        std::unique_ptr<CNewsMessage> message;
        ReadOutcome outcome = ReadOutcome::Article;
        std::size_t index = 0;
        const Clock::time_point asked = Clock::now();
        try {
            if (depth == 1) {
                const std::optional<std::size_t> taken = queue.Take(true);
                if (!taken) {
                    return stop.IsSet() ? ConnectionEnd::Stopped : ConnectionEnd::Done;
                }
                index = *taken;
                inFlight.push_back({index, false});
                outcome = AskAndWait(session, queue.At(index), message);
            } else {
                if (inFlight.empty()) {
                    return stop.IsSet() ? ConnectionEnd::Stopped : ConnectionEnd::Done;
                }
                index = inFlight.front().index;
                if (inFlight.front().drop) {
                    std::string status;
                    std::string body;
                    bool arrived = false;
                    outcome = ReadReplyTo(session, queue.At(index), false, status, body, arrived);
                    if (outcome == ReadOutcome::Article) {
                        inFlight.pop_front();
                        continue;
                    }
                } else {
                    outcome = ReadArticle(session, queue.At(index), inFlight.front().head, message);
                }
            }
        } catch (const std::exception& error) {
            // Memory running out near the reply cap costs this article and the connection,
            // never the process: the reply may be half read, so the session is out of step
            // with the server and must start afresh.
            platform::WriteConsole("article " + std::to_string(queue.At(index).number) +
                                   " skipped: " + error.what() + "\n");
            session.Drop();
            if (!inFlight.empty()) {
                const bool dropped = inFlight.front().drop;
                inFlight.pop_front();
                if (!dropped) {
                    queue.Deliver(index, nullptr);
                }
            }
            outcome = ReadOutcome::Lost;
        }
        if (outcome == ReadOutcome::LogInNeeded || outcome == ReadOutcome::OutOfStep) {
            // The replies to the other requests in flight are still on their way, and would be
            // read as the answers to whatever is asked next: the connection is given up, and is
            // connected afresh before it is used again.
            session.Drop();
        }
        if (outcome == ReadOutcome::LogInNeeded) {
            // Every article would be refused alike; none of them is counted as processed.
            giveBack();
            why = session.LastFailure().text;
            return ConnectionEnd::Lost;
        }
        if (outcome == ReadOutcome::Lost || outcome == ReadOutcome::OutOfStep) {
            giveBack();
            if (stop.IsSet() || queue.Closed()) {
                return ConnectionEnd::Stopped;
            }
            switch (ReconnectToGroup(session, stop, status, options.group, tries, group, why)) {
                case Reconnect::Resumed:
                    continue;
                case Reconnect::Stopped:
                    return ConnectionEnd::Stopped;
                case Reconnect::Failed:
                    return ConnectionEnd::Lost;
            }
        }
        tries = 0;
        inFlight.pop_front();
        queue.Deliver(index, std::move(message));
        if (adaptive && depth < maxDepth && Clock::now() - asked > WAITED) {
            ++depth;
        }
    }
}

#include "fetch/BatchFetch.h"

#include <exception>
#include <list>
#include <mutex>
#include <thread>

#include "fetch/GroupConnection.h"
#include "platform/Console.h"

namespace {

// How far ahead of the worker the connections may fetch, in articles and in bytes, all of them
// together.
constexpr std::size_t WINDOW = 128;
constexpr std::uint64_t BYTE_WINDOW = std::uint64_t{256} << 20;

// Connects an extra connection, or takes the one made early; `connecting` says so under
// `mutex` while it does, and a connection `cut` before it began is not made.
ConnectionEnd ConnectExtra(std::mutex& mutex, bool& connecting, const bool& cut,
                           CFetchRun::Extra& extra, const platform::ManualResetEvent& stop) {
    CNewsServer& session = *extra.session;
    {
        std::lock_guard lock(mutex);
        if (cut) {
            return ConnectionEnd::Stopped;
        }
        connecting = true;
    }
    const bool connected =
        !stop.IsSet() && (extra.early.valid() ? extra.early.get() : ConnectForUse(session));
    {
        std::lock_guard lock(mutex);
        connecting = false;
        if (cut || stop.IsSet()) {
            return ConnectionEnd::Stopped;
        }
    }
    if (!connected) {
        // A server that allows no more connections greets with 400 or 502, or refuses the
        // log-in with 482 or 502; the others go on.
        session.Disconnect();
        platform::WriteConsole("an extra connection to " + session.GetHost() +
                               " was not made; the others go on\n");
        return ConnectionEnd::Refused;
    }
    return ConnectionEnd::Done;
}

// One connection's thread in a batch, and what became of it.
struct CBatchWorker {
    CBatchWorker(CNewsServer* session_, CFetchRun::Extra* extra_)
        : session(session_), extra(extra_) {}

    CNewsServer* session;
    CFetchRun::Extra* extra;
    ConnectionEnd end = ConnectionEnd::Done;
    std::string why;
    // An extra connection still connecting when the batch is over is cut, under the lock,
    // rather than waited for.
    std::mutex mutex;
    bool connecting = false;
    bool cut = false;
};

// After the batch: what each extra connection is good for in the next one.
void SettleExtra(CBatchWorker& worker, const std::string& group) {
    CFetchRun::Extra& extra = *worker.extra;
    if (worker.cut) {
        // Tried again with the next batch, a few times: a server slow to greet still gets its
        // chance on a long group.
        worker.session->ClearCancel();
        worker.session->Disconnect();
        extra.connected = false;
        extra.usable = ++extra.cuts < CFetchRun::Extra::CUTS;
        return;
    }
    extra.connected = worker.end != ConnectionEnd::Refused || extra.connected;
    extra.group = group;
    // A connection the server refused or that could not be won back is given up: the others
    // go on.
    extra.usable = worker.end == ConnectionEnd::Done || worker.end == ConnectionEnd::Stopped;
}

}  // namespace

bool ConnectForUse(CNewsServer& session) {
    return session.Connect() && !session.ConnectionLost() && !session.GreetingRefused();
}

BatchEnd FetchBatch(CFetchRun& run, const std::string& group,
                    std::vector<CArticleQueue::Item> items, std::size_t sentAhead,
                    const ArticleHandler& handle, std::string& why) {
    ThreadArg& arg = run.arg;
    // Asking for one article at a time, a connection waits for the worker too: an article
    // that has arrived is always processed before Stop is looked at again.
    const std::size_t window = run.settings.pipelineDepth == 1
                                   ? static_cast<std::size_t>(run.settings.connections)
                                   : WINDOW;
    CArticleQueue queue(std::move(items), window, BYTE_WINDOW);
    queue.TakeThrough(sentAhead);
    const int depth = run.settings.pipelineDepth;
    std::list<CBatchWorker> workers;
    workers.emplace_back(&arg.server, nullptr);
    for (CFetchRun::Extra& extra : run.extras) {
        if (extra.usable) {
            workers.emplace_back(extra.session.get(), &extra);
        }
    }
    std::vector<std::thread> threads;
    for (CBatchWorker& worker : workers) {
        queue.Join();
        threads.emplace_back([&, &worker = worker] {
            CGroupConnectionOptions options;
            options.group = group;
            options.depth = depth;
            options.maxDepth = CServerSettings::MAX_PIPELINE_DEPTH;
            options.selectGroup = worker.extra != nullptr && worker.extra->group != group;
            options.sentAhead = worker.extra == nullptr ? sentAhead : 0;
            try {
                if (worker.extra != nullptr && !worker.extra->connected) {
                    worker.end = ConnectExtra(worker.mutex, worker.connecting, worker.cut,
                                              *worker.extra, arg.stop);
                    options.selectGroup = true;
                }
                if (worker.end == ConnectionEnd::Done) {
                    worker.end = FetchWithConnection(*worker.session, queue, options, arg.stop,
                                                     run.status, worker.why);
                }
            } catch (const std::exception& error) {
                platform::WriteConsole(std::string("a connection gave up: ") + error.what() + "\n");
                worker.end = ConnectionEnd::Lost;
            }
            queue.Leave();
        });
    }
    BatchEnd end = BatchEnd::Done;
    for (std::size_t handled = 0; handled < queue.Size(); ++handled) {
        std::size_t index = 0;
        std::unique_ptr<CNewsMessage> message;
        if (run.StopRequested() || !queue.Next(index, message)) {
            end = run.StopRequested() ? BatchEnd::Stopped : BatchEnd::Lost;
            break;
        }
        if (!handle(queue.At(index), std::move(message))) {
            end = BatchEnd::Ended;
            break;
        }
    }
    queue.Close();
    for (CBatchWorker& worker : workers) {
        std::lock_guard lock(worker.mutex);
        if (worker.connecting) {
            worker.cut = true;
            worker.session->Cancel();
        }
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (CBatchWorker& worker : workers) {
        if (worker.extra != nullptr) {
            SettleExtra(worker, group);
        }
        if (why.empty() && !worker.why.empty()) {
            why = worker.why;
        }
    }
    return end;
}

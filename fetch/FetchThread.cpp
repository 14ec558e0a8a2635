#include "fetch/FetchThread.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <functional>
#include <future>
#include <list>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "config/CNewsrc.h"
#include "config/ConfigFile.h"
#include "config/ServerSettings.h"
#include "decode/CPartAssembler.h"
#include "fetch/ArticlePicture.h"
#include "fetch/CArticleFile.h"
#include "fetch/CArticleQueue.h"
#include "fetch/CRunStatus.h"
#include "fetch/ControlIds.h"
#include "fetch/GroupConnection.h"
#include "fetch/Reconnect.h"
#include "platform/Console.h"
#include "platform/Secret.h"

namespace {

using namespace std::chrono_literals;

std::string Counter(std::uint64_t done, std::uint64_t total) {
    return std::to_string(done) + " / " + std::to_string(total);
}

bool StopRequested(const ThreadArg& arg) {
    return arg.stop.IsSet();
}

// What a run carries from group to group: its settings, its connections, the record of
// processed articles and the pictures being put together.
struct CRun {
    CRun(ThreadArg& arg_, CRunStatus& status_)
        : arg(arg_), status(status_), assembler(CArticleFile::FOLDER, "images") {}

    ThreadArg& arg;
    CRunStatus& status;
    CServerSettings settings;
    CServerAddress address;
    // The connections besides arg.server: made with the run, connected when a group first
    // needs them; one the server refuses, or that cannot be won back, is given up.
    struct Extra {
        std::unique_ptr<CNewsServer> session;
        bool connected = false;
        bool usable = true;
        std::string group;  // the group it has selected
        // How often it was cut while connecting: a batch ended first.
        int cuts = 0;
        static constexpr int CUTS = 3;
        // The connection made while the worker's own selects the first group, when the run
        // has one: true when it is ready for use.
        std::future<bool> early;
    };
    std::vector<Extra> extras;
    CPartAssembler assembler;
    CNewsrc record;
    std::string recordPath;
    bool recordUsable = false;
    // Whether the server gives overviews: asked on the first batch.
    bool overview = true;
};

// How far ahead of the worker the connections may fetch, in articles.
constexpr std::size_t WINDOW = 128;
// The articles one overview covers, and one queue holds.
constexpr std::uint32_t BATCH = 1000;
// How often the record is written while a group goes on, in articles.
constexpr std::uint64_t RECORD_EVERY = 300;

void SaveRecord(CRun& run) {
    std::string error;
    if (run.recordUsable && !run.record.Save(run.recordPath, error)) {
        platform::WriteConsole(error + "\n");
    }
}

// The batch's articles: with an overview, those that can hold a picture are fetched with BODY
// alone and the rest passed over; without one, every article is fetched with HEAD and BODY.
// Where an overview is expected and requests may be in flight, the first articles' BODY
// requests follow the overview's at once, sparing the round trip they would wait for it;
// `sentAhead` says how many, and the worker's own connection reads their replies.
std::vector<CArticleQueue::Item> MakeItems(CRun& run, const std::vector<std::uint32_t>& numbers,
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

enum class GroupEnd { Done, Stopped, Lost };

// Connects a session for an extra connection: true when the server serves it.
bool ConnectForUse(CNewsServer& session) {
    return session.Connect() && !session.ConnectionLost() && !session.GreetingRefused();
}

// Connects an extra connection, or takes the one made early; `connecting` says so under
// `mutex` while it does, and a connection `cut` before it began is not made.
ConnectionEnd ConnectExtra(std::mutex& mutex, bool& connecting, const bool& cut, CRun::Extra& extra,
                           const platform::ManualResetEvent& stop) {
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

// One batch: the connections fetch its articles, in flight and in parallel, and this thread
// decodes them in article order.
GroupEnd FetchBatch(CRun& run, const std::string& name, std::vector<CArticleQueue::Item> items,
                    std::size_t sentAhead, std::uint64_t& position, std::uint64_t count,
                    CArticleRanges& done, std::string& why) {
    ThreadArg& arg = run.arg;
    // Asking for one article at a time, a connection waits for the worker too: an article
    // that has arrived is always processed before Stop is looked at again.
    const std::size_t window = run.settings.pipelineDepth == 1
                                   ? static_cast<std::size_t>(run.settings.connections)
                                   : WINDOW;
    CArticleQueue queue(std::move(items), window);
    queue.TakeThrough(sentAhead);
    const int depth = run.settings.pipelineDepth;
    struct Worker {
        Worker(CNewsServer* session_, CRun::Extra* extra_) : session(session_), extra(extra_) {}

        CNewsServer* session;
        CRun::Extra* extra;
        ConnectionEnd end = ConnectionEnd::Done;
        std::string why;
        // An extra connection still connecting when the batch is over is cut, under the lock,
        // rather than waited for.
        std::mutex mutex;
        bool connecting = false;
        bool cut = false;
    };
    std::list<Worker> workers;
    workers.emplace_back(&arg.server, nullptr);
    for (CRun::Extra& extra : run.extras) {
        if (extra.usable) {
            workers.emplace_back(extra.session.get(), &extra);
        }
    }
    std::vector<std::thread> threads;
    for (Worker& worker : workers) {
        queue.Join();
        threads.emplace_back([&, &worker = worker] {
            CGroupConnectionOptions options;
            options.group = name;
            options.depth = depth;
            options.maxDepth = CServerSettings::MAX_PIPELINE_DEPTH;
            options.selectGroup = worker.extra != nullptr && worker.extra->group != name;
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
    GroupEnd end = GroupEnd::Done;
    for (std::size_t handled = 0; handled < queue.Size(); ++handled) {
        std::size_t index = 0;
        std::unique_ptr<CNewsMessage> message;
        if (StopRequested(arg) || !queue.Next(index, message)) {
            end = StopRequested(arg) ? GroupEnd::Stopped : GroupEnd::Lost;
            break;
        }
        ++position;
        arg.dlg.StepProgress(IDC_GROUP_PROGRESS);
        arg.dlg.SetEditText(IDC_ARTICLE_COUNTER, Counter(position, count));
        if (message != nullptr) {
            try {
                const std::string picture = ExtractPicture(run.assembler, name, *message);
                if (!picture.empty()) {
                    run.status.Picture();
                    const std::size_t size = arg.dlg.AppendPicture(picture);
                    arg.dlg.SetEditText(IDC_PICTURE_COUNTER,
                                        Counter(arg.dlg.CurrentPicture() + 1, size));
                    if (size == 1) {
                        // The first picture of a run is shown as soon as it exists.
                        arg.dlg.OnNext();
                    }
                }
            } catch (const std::exception& error) {
                platform::WriteConsole("article " + std::to_string(queue.At(index).number) +
                                       " skipped: " + error.what() + "\n");
            }
        }
        run.status.Article(name, position, count,
                           message ? message->headerLength + message->bodyLength : 0);
        // Only now is the article processed: the record never claims more.
        done.Add(queue.At(index).number);
        if (position % RECORD_EVERY == 0) {
            SaveRecord(run);
        }
    }
    queue.Close();
    for (Worker& worker : workers) {
        std::lock_guard lock(worker.mutex);
        if (worker.connecting) {
            worker.cut = true;
            worker.session->Cancel();
        }
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (Worker& worker : workers) {
        if (worker.extra != nullptr) {
            CRun::Extra& extra = *worker.extra;
            if (worker.cut) {
                // Tried again with the next batch, a few times: a server slow to greet still
                // gets its chance on a long group.
                worker.session->ClearCancel();
                worker.session->Disconnect();
                extra.connected = false;
                extra.usable = ++extra.cuts < CRun::Extra::CUTS;
                continue;
            }
            extra.connected = worker.end != ConnectionEnd::Refused || extra.connected;
            extra.group = name;
            // A connection the server refused or that could not be won back is given up: the
            // others go on.
            extra.usable =
                worker.end == ConnectionEnd::Done || worker.end == ConnectionEnd::Stopped;
        }
        if (why.empty() && !worker.why.empty()) {
            why = worker.why;
        }
    }
    return end;
}

// The numbers of the group this run visits, in order: those first..last that no earlier run
// processed (every one, with only-new off); on a group's first run, its newest N of them, the
// older ones then counting as processed.
std::vector<CArticleRanges::Range> PlanVisit(const CRun& run, CArticleRanges& done,
                                             std::uint32_t first, std::uint32_t last) {
    if (done.Highest() > last) {
        done.Clear();  // the server numbered the group afresh
    }
    const bool firstRun = done.Empty();
    std::vector<CArticleRanges::Range> visit;
    if (run.settings.onlyNewArticles) {
        visit = done.Missing(first, last);
    } else if (first <= last) {
        visit.push_back({first, last});
    }
    const std::uint32_t newest = run.settings.firstRunNewest;
    if (firstRun && newest > 0 && last >= first && last - first >= newest) {
        const std::uint32_t from = last - newest + 1;
        // The older articles are passed over for good, as a newsreader catching up marks them:
        // otherwise the next run would fetch every one of them.
        done.Add(1, from - 1);
        std::vector<CArticleRanges::Range> clipped;
        for (const CArticleRanges::Range& range : visit) {
            if (range.last >= from) {
                clipped.push_back({std::max(range.first, from), range.last});
            }
        }
        visit = std::move(clipped);
    }
    return visit;
}

// The articles of one group that this run visits (PlanVisit), batch by batch.
GroupEnd FetchGroupArticles(CRun& run, const std::string& name, const CNewsGroup& group, int& tries,
                            std::string& why) {
    ThreadArg& arg = run.arg;
    const auto first = static_cast<std::uint32_t>(group.first);
    const auto last = static_cast<std::uint32_t>(group.last);
    CArticleRanges& done = run.record.Group(name);
    const std::vector<CArticleRanges::Range> visit = PlanVisit(run, done, first, last);
    std::uint64_t count = 0;
    for (const CArticleRanges::Range& range : visit) {
        count += static_cast<std::uint64_t>(range.last) - range.first + 1;
    }
    arg.dlg.SetProgress(IDC_GROUP_PROGRESS, 0, static_cast<std::int64_t>(count), 1, 0);
    std::uint64_t position = 0;
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
        end = FetchBatch(run, name, std::move(items), sentAhead, position, count, done, why);
        tries = 0;
        numbers.clear();
    };
    for (const CArticleRanges::Range& range : visit) {
        // A 64-bit counter: the loop must end after article 4294967295 too.
        for (std::uint64_t n = range.first; n <= range.last && end == GroupEnd::Done; ++n) {
            numbers.push_back(static_cast<std::uint32_t>(n));
            if (numbers.size() == BATCH) {
                flush();
            }
        }
    }
    flush();
    SaveRecord(run);
    return end;
}

enum class Opened { Yes, Refused, Stopped, Lost };

// Selects the group; when the connection turns out to be lost, wins it back first. `connected`
// says whether the run ever had a connection: without one every group is simply refused.
Opened OpenGroup(ThreadArg& arg, CRunStatus& status, const std::string& name, bool connected,
                 int& tries, std::unique_ptr<CNewsGroup>& group, std::string& why) {
    const bool hadConnection = connected && !arg.server.ConnectionLost();
    if (arg.server.Open(name, group)) {
        return Opened::Yes;
    }
    if (StopRequested(arg)) {
        return Opened::Stopped;
    }
    if (!hadConnection || !arg.server.ConnectionLost()) {
        return Opened::Refused;
    }
    switch (ReconnectToGroup(arg.server, arg.stop, status, name, tries, group, why)) {
        case Reconnect::Resumed:
            return Opened::Yes;
        case Reconnect::Stopped:
            return Opened::Stopped;
        case Reconnect::Failed:
            break;
    }
    return Opened::Lost;
}

// Shows the message as a box and on the status line.
void EndEarly(ThreadArg& arg, CRunStatus& status, const std::string& message) {
    arg.dlg.ShowErrorBox(message);
    status.Show(message);
}

// Sets a session up for the server, as the settings say, with the password of this run.
void ConfigureOne(CNewsServer& session, const CRun& run, const std::string& password) {
    session.SetHost(run.address.HostAndPort());
    session.SetSecurity(run.address.security);
    session.SetCredentials(run.settings.user, password, run.settings.allowUnencrypted);
    const auto trusted = run.settings.trusted.find(run.address.HostAndPort());
    session.SetTrustedFingerprint(trusted != run.settings.trusted.end() ? trusted->second : "");
}

// Sets the run's sessions up from the server line and the connection settings, with the
// password of this run, and reads the record of processed articles. False, after the message,
// when the settings cannot be read.
bool ConfigureSessions(CRun& run, const std::string& serverLine) {
    ThreadArg& arg = run.arg;
    std::string password;
    {
        std::lock_guard lock(arg.passwordMutex);
        password.swap(arg.password);
    }
    std::string error;
    if (!ReadServerSettings(run.settings, error)) {
        platform::WipeSecret(password);
        EndEarly(arg, run.status, error);
        return false;
    }
    run.address = ParseServerLine(serverLine, run.settings);
    ConfigureOne(arg.server, run, password);
    for (int i = 1; i < run.settings.connections; ++i) {
        auto session = std::make_unique<CNewsServer>("", CNewsServer::NNTP_PORT);
        ConfigureOne(*session, run, password);
        session->SetReadTimeout(CNewsServer::DEFAULT_READ_TIMEOUT);
        arg.sessions.Add(*session);
        run.extras.emplace_back().session = std::move(session);
    }
    platform::WipeSecret(password);
    run.recordPath = CNewsrc::FileName(run.address.HostAndPort());
    run.recordUsable = run.record.Load(run.recordPath, error);
    if (!run.recordUsable) {
        // Without the record every article is visited, as if none had been before; nothing is
        // written over the file that could not be read.
        platform::WriteConsole(error + "\n");
    }
    return true;
}

// Connects; a certificate that does not verify is put to the user, and trusted for the server
// from now on (and this connection tried again) when the user says so. A failure beyond the
// network is shown and left in `failure`.
bool ConnectToServer(ThreadArg& arg, const CServerAddress& address, std::string& failure) {
    if (arg.server.Connect()) {
        return true;
    }
    const CNewsServer::Failure refused = arg.server.LastFailure();
    if (refused.kind == CNewsServer::Failure::Kind::Certificate && !StopRequested(arg)) {
        const std::string& server = arg.server.GetHost();
        if (arg.dlg.AskQuestion(refused.text + "\n\nTrust this certificate for " + server + "?")) {
            std::string error;
            if (!TrustCertificate(address.HostAndPort(), refused.fingerprint, error)) {
                arg.dlg.ShowErrorBox(error);
            }
            arg.server.SetTrustedFingerprint(refused.fingerprint);
            if (arg.server.Connect()) {
                return true;
            }
        }
    }
    const CNewsServer::Failure& last = arg.server.LastFailure();
    if (last.kind != CNewsServer::Failure::Kind::None) {
        failure = last.text;
        if (last.kind != CNewsServer::Failure::Kind::Certificate && !StopRequested(arg)) {
            arg.dlg.ShowErrorBox(failure);
        }
    }
    return false;
}

void Run(ThreadArg& arg, CRunStatus& status) {
    std::string newsServer;
    std::vector<std::string> newsGroups;
    if (!ReadConfigFile(CONFIG_FILE_NAME, newsGroups, newsServer)) {
        EndEarly(arg, status, "Couldn't open the configuration.  Please configure first");
        return;
    }
    if (newsGroups.empty()) {
        EndEarly(arg, status, "No newsgroups specified...");
        return;
    }
    if (newsServer.empty()) {
        EndEarly(arg, status, "No news server specified");
        return;
    }
    CRun run(arg, status);
    // The extra connections leave the registry before they go, whatever ends the run.
    struct CUnregister {
        CRun& run;
        ~CUnregister() {
            for (CRun::Extra& extra : run.extras) {
                if (extra.early.valid()) {
                    extra.session->Cancel();
                    extra.early.wait();
                    extra.session->ClearCancel();
                }
                extra.session->Disconnect();
                run.arg.sessions.Remove(*extra.session);
            }
        }
    } unregister{run};
    if (!ConfigureSessions(run, newsServer)) {
        return;
    }
    const CServerAddress& address = run.address;
    const std::string& host = arg.server.GetHost();
    const std::int64_t groupCount = static_cast<std::int64_t>(newsGroups.size());
    arg.dlg.SetProgress(IDC_OVERALL_PROGRESS, 0, groupCount, 1, 0);
    arg.dlg.SetEditText(IDC_PICTURE_COUNTER, Counter(0, 0));
    status.Connecting(host);
    std::string failure;
    const bool connected = ConnectToServer(arg, address, failure);
    if (connected) {
        // The extra connections are made meanwhile, so that they are ready when the first
        // group's articles are.
        for (CRun::Extra& extra : run.extras) {
            extra.early = std::async(std::launch::async, ConnectForUse, std::ref(*extra.session));
        }
        // Its reply comes with the first group's: one round trip less before the first article.
        arg.server.AskCapabilities();
    }
    // Securing the connection or logging in failed: the groups would only fail one by one.
    const bool refused = !connected && !failure.empty();
    if (!connected && !refused) {
        failure = "Couldn't connect to " + host;
        // The run goes on: each group then fails to open and says so. A connect that Stop
        // ended needs no box: the run ends at once.
        if (!StopRequested(arg)) {
            arg.dlg.ShowErrorBox("CONNECT FAILED");
        }
    }
    arg.dlg.ClearPictures();
    std::error_code ignored;  // a folder that exists already is fine
    std::filesystem::create_directory(CArticleFile::FOLDER, ignored);
    CRunStatus::Outcome outcome = CRunStatus::Outcome::Done;
    int tries = 0;
    for (std::size_t i = 0; i < newsGroups.size() && !refused; ++i) {
        if (StopRequested(arg)) {
            outcome = CRunStatus::Outcome::Stopped;
            break;
        }
        const std::string& name = newsGroups[i];
        // The name becomes a folder under images/; one from a server or a hand-edited file
        // must not reach outside it.
        if (!IsUsableFolderName(name)) {
            arg.dlg.ShowErrorBox("Newsgroup name '" + name + "' cannot be used as a folder name");
            continue;
        }
        std::unique_ptr<CNewsGroup> group;
        std::string why;
        const Opened opened = OpenGroup(arg, status, name, connected, tries, group, why);
        if (opened == Opened::Refused) {
            const CNewsServer::Failure& login = arg.server.LastFailure();
            if (IsFinal(login) && login.kind != CNewsServer::Failure::Kind::AuthenticationNeeded) {
                // The log-in that the server asked for failed: so would every other group's.
                failure = login.text;
                arg.dlg.ShowErrorBox(failure);
                break;
            }
            if (login.kind == CNewsServer::Failure::Kind::AuthenticationNeeded) {
                failure = login.text;
            }
            arg.dlg.ShowErrorBox("Open failed for newsgroup '" + name + "'");
            continue;
        }
        if (opened == Opened::Stopped) {
            outcome = CRunStatus::Outcome::Stopped;
            break;
        }
        GroupEnd end = GroupEnd::Lost;
        if (opened == Opened::Yes) {
            std::filesystem::create_directories(std::filesystem::path("images") / name, ignored);
            arg.dlg.SetEditText(IDC_GROUP_NAME, name);
            end = FetchGroupArticles(run, name, *group, tries, why);
            group.reset();
        }
        if (end == GroupEnd::Lost) {
            // The counters keep showing how far the run got.
            outcome = CRunStatus::Outcome::Failed;
            failure =
                why.empty() ? "Lost the connection to " + host + " while fetching " + name : why;
            arg.dlg.ShowErrorBox(failure);
            break;
        }
        // A group left by Stop counts as done here like any other.
        arg.dlg.SetEditText(IDC_GROUP_COUNTER, Counter(i + 1, newsGroups.size()));
        arg.dlg.StepProgress(IDC_OVERALL_PROGRESS);
        if (end == GroupEnd::Stopped) {
            outcome = CRunStatus::Outcome::Stopped;
            break;
        }
        status.GroupDone();
    }
    arg.server.Disconnect();
    // The password stays no longer than the run.
    arg.server.SetCredentials({}, {}, false);
    if (outcome == CRunStatus::Outcome::Done && !failure.empty()) {
        outcome = CRunStatus::Outcome::Failed;
    }
    status.Finish(outcome, failure);
}

}  // namespace

bool IsUsableFolderName(const std::string& name) {
    const bool hasControlCharacter = std::any_of(name.begin(), name.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
    return !name.empty() && name != "." && name != ".." && !hasControlCharacter &&
           name.find_first_of("/\\") == std::string::npos;
}

unsigned FetchThread(std::shared_ptr<ThreadArg> threadArg) {
    ThreadArg& arg = *threadArg;
    for (;;) {
        // Start wins when both are set: a run asked for before Exit is still carried out,
        // unless Exit also ended it through the stop flag.
        if (platform::ManualResetEvent::WaitForEither(arg.startEvent, arg.exitEvent) == 1) {
            break;
        }
        arg.startEvent.Reset();
        arg.dlg.SetRunning(true);
        {
            CRunStatus status(arg.dlg);
            Run(arg, status);
        }
        arg.dlg.SetRunning(false);
        {
            std::lock_guard lock(arg.progressMutex);
            ++arg.runsDone;
        }
        arg.progressChanged.notify_all();
    }
    {
        std::lock_guard lock(arg.progressMutex);
        arg.threadEnded = true;
    }
    arg.progressChanged.notify_all();
    return 0;
}

#include "fetch/FetchThread.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <system_error>
#include <vector>

#include "fetch/BatchFetch.h"
#include "fetch/CArticleFile.h"
#include "fetch/CFetchRun.h"
#include "fetch/CRunStatus.h"
#include "fetch/GroupFetch.h"
#include "fetch/Reconnect.h"
#include "fetch/RunSessions.h"
#include "fetch/RunSetup.h"
#include "nntp/ConnectFailure.h"
#include "platform/ProgramFolder.h"

namespace {

using namespace std::chrono_literals;

bool StopRequested(const ThreadArg& arg) {
    return arg.stop.IsSet();
}

enum class Opened { Yes, Refused, Stopped, Lost };

// Selects the group; when the connection is lost (now, or with the group before), wins it back
// first with the run's patience. Once an earlier group spent the tries, this one gets a single
// try at once.
Opened OpenGroup(ThreadArg& arg, CRunStatus& status, const std::string& name, int& tries,
                 std::unique_ptr<CNewsGroup>& group, std::string& why) {
    if (!arg.server.ConnectionLost()) {
        if (arg.server.Open(name, group)) {
            return Opened::Yes;
        }
        if (StopRequested(arg)) {
            return Opened::Stopped;
        }
        if (!arg.server.ConnectionLost()) {
            return Opened::Refused;
        }
    }
    int once = 0;
    const bool spent = tries >= arg.reconnect.Tries();
    const CBackOff atOnce({0ms});
    switch (ReconnectToGroup(arg.server, arg.stop, status, name, spent ? once : tries, group, why,
                             spent ? atOnce : arg.reconnect)) {
        case Reconnect::Resumed:
            return Opened::Yes;
        case Reconnect::Stopped:
            return Opened::Stopped;
        case Reconnect::Failed:
            break;
    }
    return Opened::Lost;
}

// Runs the groups. What ends the run before its end goes to `box`, shown once the run is over;
// what goes wrong with one group goes to the status line and the run log, and the run goes on.
void Run(ThreadArg& arg, CRunStatus& status, std::string& box) {
    std::string newsServer;
    std::vector<std::string> newsGroups;
    const RunSetup setup = CheckRunSetup(newsServer, newsGroups);
    if (setup != RunSetup::Ready) {
        // Nothing to fetch yet: the status line says what to do. A file that could not be read
        // said so in its own box.
        status.Show(setup == RunSetup::Unreadable
                        ? "Couldn't open the configuration.  Please configure first"
                        : DescribeRunSetup(setup, newsServer, newsGroups.size()));
        return;
    }
    CFetchRun run(arg, status);
    // The extra connections leave the registry before they go, whatever ends the run.
    struct CUnregister {
        CFetchRun& run;
        ~CUnregister() {
            for (CFetchRun::Extra& extra : run.extras) {
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
    std::string error;
    if (!run.OpenCollection(error)) {
        status.Show(error);
        box = error;
        return;
    }
    const std::string& host = arg.server.GetHost();
    status.Groups(newsGroups.size());
    status.Connecting(host);
    if (!ConnectToServer(run)) {
        // Nothing can be fetched: the server cannot be reached, or securing the connection or
        // logging in failed, which would fail for every group alike. A connect that Stop ended
        // needs no box, nor does a certificate the user has just declined.
        if (StopRequested(arg)) {
            status.Finish(CRunStatus::Outcome::Stopped);
            return;
        }
        const std::string failure = DescribeConnectFailure(arg.server);
        if (arg.server.LastFailure().kind != CNewsServer::Failure::Kind::Certificate) {
            box = failure;
        }
        status.Finish(CRunStatus::Outcome::Failed, failure);
        return;
    }
    // The extra connections are made meanwhile, so that they are ready when the first group's
    // articles are.
    for (CFetchRun::Extra& extra : run.extras) {
        extra.early = std::async(std::launch::async, ConnectForUse, std::ref(*extra.session));
    }
    // Its reply comes with the first group's: one round trip less before the first article.
    arg.server.AskCapabilities();
    arg.dlg.ClearPictures();
    std::error_code ignored;  // a folder that exists already is fine
    std::filesystem::create_directory(CArticleFile::FOLDER, ignored);
    CRunStatus::Outcome outcome = CRunStatus::Outcome::Done;
    std::string failure;
    int tries = 0;
    for (const std::string& name : newsGroups) {
        if (StopRequested(arg)) {
            outcome = CRunStatus::Outcome::Stopped;
            break;
        }
        // The name becomes a folder under images/; one from a server or a hand-edited file
        // must not reach outside it.
        if (!IsUsableFolderName(name)) {
            status.GroupFailed(name, "cannot be used as a folder name", "remove it in Configure");
            continue;
        }
        std::unique_ptr<CNewsGroup> group;
        std::string why;
        const Opened opened = OpenGroup(arg, status, name, tries, group, why);
        if (opened == Opened::Stopped) {
            outcome = CRunStatus::Outcome::Stopped;
            break;
        }
        GroupEnd end = GroupEnd::Lost;
        if (opened == Opened::Yes) {
            std::filesystem::create_directories(std::filesystem::path("images") / name, ignored);
            end = FetchGroupArticles(run, name, *group, tries, why);
            group.reset();
        }
        const CNewsServer::Failure& login = arg.server.LastFailure();
        const bool loginNeeded = login.kind == CNewsServer::Failure::Kind::AuthenticationNeeded;
        if (IsFinal(login) && !loginNeeded) {
            // The log-in failed, or cannot be made: so would every other group's.
            outcome = CRunStatus::Outcome::Failed;
            failure = login.text;
            box = failure;
            break;
        }
        if (opened == Opened::Refused) {
            if (loginNeeded) {
                status.GroupFailed(name, "needs a user name and password",
                                   "enter them in Configure");
            } else {
                status.GroupFailed(name,
                                   "could not be selected: the server has no such group, or "
                                   "does not let this account read it",
                                   "check its name, or remove it in Configure");
            }
            continue;
        }
        if (opened == Opened::Lost) {
            // The connection is gone for good: so is every group left.
            outcome = CRunStatus::Outcome::Failed;
            failure = "Lost the connection to " + host + " and could not win it back" +
                      (why.empty() ? "." : ": " + why);
            box = failure;
            break;
        }
        if (end == GroupEnd::DiskFull) {
            outcome = CRunStatus::Outcome::Failed;
            failure = "The disk is full: pictures could not be written into " +
                      platform::GetProgramFolder().value_or("") +
                      "images. Free some space and press Start again; what could not be written "
                      "is fetched again then.";
            box = failure;
            break;
        }
        if (end == GroupEnd::Lost) {
            // The counters keep showing how far the group got; the next run goes on from there.
            if (loginNeeded) {
                status.GroupFailed(name, "needs a user name and password",
                                   "enter them in Configure");
            } else {
                status.GroupFailed(name,
                                   "was cut short: the connection to " + host +
                                       " was lost and could not be won back" +
                                       (why.empty() ? "" : " (" + why + ")"),
                                   "press Start again later; the group goes on where it stopped");
            }
            continue;
        }
        if (end == GroupEnd::Stopped) {
            // A group left by Stop is not counted as done: the counters show how far it got.
            outcome = CRunStatus::Outcome::Stopped;
            break;
        }
        status.GroupDone();
    }
    arg.server.Disconnect();
    // The password stays no longer than the run.
    arg.server.SetCredentials({}, {}, false);
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
        std::string box;
        {
            CRunStatus status(arg.dlg);
            Run(arg, status, box);
        }
        arg.dlg.SetRunning(false);
        // What ended the run is shown once the run is over, with Start ready again: no run
        // waits on a box.
        if (!box.empty()) {
            arg.dlg.ShowErrorBox(box);
        }
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

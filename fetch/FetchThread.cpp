#include "fetch/FetchThread.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <system_error>
#include <vector>

#include "config/ConfigFile.h"
#include "fetch/BatchFetch.h"
#include "fetch/CArticleFile.h"
#include "fetch/CFetchRun.h"
#include "fetch/CRunStatus.h"
#include "fetch/ControlIds.h"
#include "fetch/GroupFetch.h"
#include "fetch/Reconnect.h"
#include "fetch/RunSessions.h"
#include "platform/ProgramFolder.h"

namespace {

using namespace std::chrono_literals;

std::string Counter(std::uint64_t done, std::uint64_t total) {
    return std::to_string(done) + " / " + std::to_string(total);
}

bool StopRequested(const ThreadArg& arg) {
    return arg.stop.IsSet();
}

enum class Opened { Yes, Refused, Stopped, Lost };

// Selects the group; when the connection is lost (given up by the last group, or found lost
// now), wins it back first. `connected` says whether the run ever had a connection: without one
// every group is simply refused.
Opened OpenGroup(ThreadArg& arg, CRunStatus& status, const std::string& name, bool connected,
                 int& tries, std::unique_ptr<CNewsGroup>& group, std::string& why) {
    if (!connected || !arg.server.ConnectionLost()) {
        if (arg.server.Open(name, group)) {
            return Opened::Yes;
        }
        if (StopRequested(arg)) {
            return Opened::Stopped;
        }
        if (!connected || !arg.server.ConnectionLost()) {
            return Opened::Refused;
        }
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
        EndEarly(arg, status, error);
        return;
    }
    const std::string& host = arg.server.GetHost();
    const std::int64_t groupCount = static_cast<std::int64_t>(newsGroups.size());
    arg.dlg.SetProgress(IDC_OVERALL_PROGRESS, 0, groupCount, 1, 0);
    arg.dlg.SetEditText(IDC_PICTURE_COUNTER, Counter(0, 0));
    status.Connecting(host);
    std::string failure;
    const bool connected = ConnectToServer(run, failure);
    if (connected) {
        // The extra connections are made meanwhile, so that they are ready when the first
        // group's articles are.
        for (CFetchRun::Extra& extra : run.extras) {
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
        if (end == GroupEnd::DiskFull) {
            outcome = CRunStatus::Outcome::Failed;
            failure = "The disk is full: pictures could not be written into " +
                      platform::GetProgramFolder().value_or("") +
                      "images. Free some space and press Start again; what could not be written "
                      "is fetched again then.";
            arg.dlg.ShowErrorBox(failure);
            break;
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

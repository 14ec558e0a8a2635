#include "fetch/FetchThread.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "config/ConfigFile.h"
#include "decode/UUDecoder.h"
#include "fetch/ControlIds.h"

namespace {

std::string Counter(std::uint64_t done, std::uint64_t total) {
    return std::to_string(done) + " / " + std::to_string(total);
}

bool StopRequested(const ThreadArg& arg) {
    return arg.stop.load() == 1;
}

// Writes the whole body into a fresh article file in one go; false leaves no file behind.
bool WriteArticleFile(const std::string& name, int fd, std::string_view body) {
    while (!body.empty()) {
        const ssize_t written = ::write(fd, body.data(), body.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            ::close(fd);
            std::remove(name.c_str());
            return false;
        }
        body.remove_prefix(static_cast<std::size_t>(written));
    }
    if (::close(fd) != 0) {
        std::remove(name.c_str());
        return false;
    }
    return true;
}

std::string DecodeArticle(const std::string& articleFile, const std::string& group) {
    // A failure inside the decoder costs this article its picture, never the run.
    try {
        return UUDecodeFile(articleFile, group);
    } catch (...) {
        return {};
    }
}

// Every article of one group, first to last inclusive.
void FetchGroupArticles(ThreadArg& arg, const std::string& name, const CNewsGroup& group) {
    const std::uint64_t first = static_cast<std::uint32_t>(group.first);
    const std::uint64_t last = static_cast<std::uint32_t>(group.last);
    const std::uint64_t count = last >= first ? last - first + 1 : 0;
    arg.dlg.SetProgress(IDC_GROUP_PROGRESS, 0, static_cast<std::int64_t>(count), 1, 0);
    // A 64-bit counter: the loop must end after article 4294967295 too.
    for (std::uint64_t n = first; n <= last; ++n) {
        if (StopRequested(arg)) {
            break;
        }
        const std::string articleFile = std::to_string(n);
        const int fd = ::open(articleFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            continue;
        }
        const std::unique_ptr<CNewsMessage> message =
            arg.server.ReadMessage(static_cast<std::uint32_t>(n));
        arg.dlg.StepProgress(IDC_GROUP_PROGRESS);
        arg.dlg.SetEditText(IDC_ARTICLE_COUNTER, Counter(n - first + 1, count));
        if (message == nullptr || message->body.empty()) {
            ::close(fd);
            std::remove(articleFile.c_str());
            continue;
        }
        if (!WriteArticleFile(articleFile, fd, message->body)) {
            continue;
        }
        const std::string picture = DecodeArticle(articleFile, name);
        if (!picture.empty()) {
            const std::size_t size = arg.dlg.AppendPicture(picture);
            arg.dlg.SetEditText(IDC_PICTURE_COUNTER, Counter(arg.dlg.CurrentPicture() + 1, size));
            if (size == 1) {
                // The first picture of a run is shown as soon as it exists.
                arg.dlg.OnNext();
            }
        }
        std::remove(articleFile.c_str());
    }
}

void Run(ThreadArg& arg) {
    std::string newsServer;
    std::vector<std::string> newsGroups;
    if (!ReadConfigFile(CONFIG_FILE_NAME, newsGroups, newsServer)) {
        arg.dlg.ShowErrorBox("Couldn't open the configuration.  Please configure first");
        return;
    }
    if (newsGroups.empty()) {
        arg.dlg.ShowErrorBox("No newsgroups specified...");
        return;
    }
    if (newsServer.empty()) {
        arg.dlg.ShowErrorBox("No news server specified");
        return;
    }
    arg.server.SetHost(newsServer);
    const std::int64_t groupCount = static_cast<std::int64_t>(newsGroups.size());
    arg.dlg.SetProgress(IDC_OVERALL_PROGRESS, 0, groupCount, 1, 0);
    arg.dlg.SetEditText(IDC_PICTURE_COUNTER, Counter(0, 0));
    if (!arg.server.Connect()) {
        // The run goes on: each group then fails to open and says so.
        arg.dlg.ShowErrorBox("CONNECT FAILED");
    }
    arg.dlg.ClearPictures();
    for (std::size_t i = 0; i < newsGroups.size(); ++i) {
        if (StopRequested(arg)) {
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
        if (!arg.server.Open(name, group)) {
            arg.dlg.ShowErrorBox("Open failed for newsgroup '" + name + "'");
            continue;
        }
        std::error_code ignored;  // a folder that exists already is fine
        std::filesystem::create_directories(std::filesystem::path("images") / name, ignored);
        arg.dlg.SetEditText(IDC_GROUP_NAME, name);
        FetchGroupArticles(arg, name, *group);
        group.reset();
        arg.dlg.SetEditText(IDC_GROUP_COUNTER, Counter(i + 1, newsGroups.size()));
        arg.dlg.StepProgress(IDC_OVERALL_PROGRESS);
    }
    arg.server.Disconnect();
}

}  // namespace

bool IsUsableFolderName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string::npos;
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
        Run(arg);
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

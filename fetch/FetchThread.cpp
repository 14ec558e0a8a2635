#include "fetch/FetchThread.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "config/ConfigFile.h"
#include "config/ServerSettings.h"
#include "decode/CPartAssembler.h"
#include "decode/PictureName.h"
#include "decode/UUDecoder.h"
#include "decode/YEncArticle.h"
#include "decode/YEncPicture.h"
#include "fetch/ArticleHeader.h"
#include "fetch/CArticleFile.h"
#include "fetch/CRunStatus.h"
#include "fetch/ControlIds.h"
#include "platform/Console.h"
#include "platform/Secret.h"

namespace {

using namespace std::chrono_literals;

// The waits before the tries to win a lost connection back.
constexpr std::chrono::seconds RECONNECT_DELAYS[] = {1s, 2s, 4s};
constexpr int RECONNECT_TRIES = static_cast<int>(std::size(RECONNECT_DELAYS));

std::string Counter(std::uint64_t done, std::uint64_t total) {
    return std::to_string(done) + " / " + std::to_string(total);
}

bool StopRequested(const ThreadArg& arg) {
    return arg.stop.IsSet();
}

std::string DecodeArticle(const std::string& articleFile, const std::string& group) {
    // A failure inside the decoder costs this article its picture, never the run.
    try {
        return UUDecodeFile(articleFile, group);
    } catch (...) {
        return {};
    }
}

// The picture an article completes, if any. A yEnc post is decoded straight from the body; a
// picture posted in several articles is put together part by part; anything else goes the
// uudecoder's way, through the article file. A part that fails its own checks is passed over:
// a repost may bring it whole.
std::string ExtractPicture(CPartAssembler& assembler, const std::string& group,
                           const CNewsMessage& message, CArticleFile& articleFile) {
    if (std::optional<CYEncPart> yenc = DecodeYEncArticle(message.body)) {
        if (!yenc->Verified()) {
            platform::WriteConsole("article " + std::to_string(message.number) +
                                   ": a yEnc part that fails its checks\n");
            return {};
        }
        if (yenc->WholeFile()) {
            return SaveYEncPicture(*yenc, group);
        }
        if (yenc->part == 0) {
            return {};  // part of a file, yet without its number: nothing to keep it apart by
        }
        CPartAssembler::Part part;
        part.kind = CPendingRecord::Kind::Ranges;
        part.key = yenc->name + "\n" + std::to_string(yenc->fileSize) + "\n" +
                   std::to_string(yenc->total);
        part.name = SafePictureName(yenc->name).value_or("");
        part.number = yenc->part;
        part.total = yenc->total;
        part.fileSize = yenc->fileSize;
        part.offset = yenc->begin - 1;
        part.data = yenc->data;
        part.fileCrc = yenc->fileCrc;
        return assembler.AddPart(group, part);
    }
    const std::optional<CSubjectParts> numbers =
        FindSubjectParts(HeaderField(message.header, "Subject"));
    if (numbers && numbers->total > 1) {
        CUUPart uu = UUDecodePart(message.body);
        // A whole picture in one article, whatever its subject says, is the uudecoder's.
        if (!(uu.begun && uu.ended)) {
            if (!uu.begun && uu.data.empty()) {
                return {};  // no uuencoded lines: a text part of the posting
            }
            CPartAssembler::Part part;
            part.kind = CPendingRecord::Kind::Ordered;
            part.key = HeaderField(message.header, "From") + "\n" + numbers->rest + "\n" +
                       std::to_string(numbers->total);
            part.name = uu.name;
            part.number = numbers->number;
            part.total = numbers->total;
            part.data = uu.data;
            part.last = uu.ended;
            return assembler.AddPart(group, part);
        }
    }
    if (message.body.empty() || !articleFile.Write(message.body)) {
        return {};
    }
    return DecodeArticle(articleFile.Path(), group);
}

// ReadMessage, with a failure that it raises (memory running out near the reply cap) costing
// this article and the connection, never the process: the reply may be half read, so the
// session is out of step with the server and must start afresh.
std::unique_ptr<CNewsMessage> ReadArticle(ThreadArg& arg, std::uint64_t number, bool& failed) {
    failed = false;
    try {
        return arg.server.ReadMessage(static_cast<std::uint32_t>(number));
    } catch (const std::exception& error) {
        platform::WriteConsole("article " + std::to_string(number) + " skipped: " + error.what() +
                               "\n");
        failed = true;
        arg.server.Disconnect();
        return nullptr;
    }
}

enum class Reconnect { Resumed, Stopped, Failed };

// True when trying again cannot help: the server refused the password, or the connection cannot
// be made secure. A server that refuses connections for now (482, 502) may take one later.
bool IsFinal(const CNewsServer::Failure& failure) {
    return failure.kind != CNewsServer::Failure::Kind::None &&
           failure.kind != CNewsServer::Failure::Kind::Refused;
}

// Wins the connection back after it was lost while fetching the group: waits, connects and
// selects the group again, up to the tries that are left. `tries` counts the tries since an
// article last got through, so a server that drops the connection at the same article every
// time is given up after three, not tried for ever. A failure that a retry cannot mend (a wrong
// password) ends the tries at once; `why` then holds its message.
Reconnect ReconnectToGroup(ThreadArg& arg, CRunStatus& status, const std::string& name, int& tries,
                           std::unique_ptr<CNewsGroup>& group, std::string& why) {
    while (tries < RECONNECT_TRIES) {
        const std::chrono::seconds delay = RECONNECT_DELAYS[tries];
        ++tries;
        status.Reconnecting(arg.server.GetHost(), delay, tries, RECONNECT_TRIES);
        if (arg.stop.Wait(delay)) {
            return Reconnect::Stopped;
        }
        if (arg.server.Connect() && !arg.server.ConnectionLost() && arg.server.Open(name, group)) {
            return Reconnect::Resumed;
        }
        if (StopRequested(arg)) {
            return Reconnect::Stopped;
        }
        if (IsFinal(arg.server.LastFailure())) {
            why = arg.server.LastFailure().text;
            break;
        }
    }
    if (why.empty() && arg.server.LastFailure().kind == CNewsServer::Failure::Kind::Refused) {
        why = arg.server.LastFailure().text;
    }
    return Reconnect::Failed;
}

enum class GroupEnd { Done, Stopped, Lost };

// Every article of one group, first to last inclusive. A lost connection is won back and the
// group resumed at the article that was under way.
GroupEnd FetchGroupArticles(ThreadArg& arg, CRunStatus& status, CPartAssembler& assembler,
                            const std::string& name, const CNewsGroup& group, int& tries,
                            std::string& why) {
    const std::uint64_t first = static_cast<std::uint32_t>(group.first);
    const std::uint64_t last = static_cast<std::uint32_t>(group.last);
    const std::uint64_t count = last >= first ? last - first + 1 : 0;
    arg.dlg.SetProgress(IDC_GROUP_PROGRESS, 0, static_cast<std::int64_t>(count), 1, 0);
    // A 64-bit counter: the loop must end after article 4294967295 too.
    for (std::uint64_t n = first; n <= last;) {
        if (StopRequested(arg)) {
            return GroupEnd::Stopped;
        }
        CArticleFile articleFile;
        if (!articleFile.Create(n)) {
            ++n;
            continue;
        }
        bool failed = false;
        const std::unique_ptr<CNewsMessage> message = ReadArticle(arg, n, failed);
        if (message == nullptr && !failed && arg.server.ConnectionLost()) {
            if (StopRequested(arg)) {
                return GroupEnd::Stopped;
            }
            std::unique_ptr<CNewsGroup> reopened;
            switch (ReconnectToGroup(arg, status, name, tries, reopened, why)) {
                case Reconnect::Resumed:
                    continue;  // the same article once more
                case Reconnect::Stopped:
                    return GroupEnd::Stopped;
                case Reconnect::Failed:
                    return GroupEnd::Lost;
            }
        }
        tries = 0;
        arg.dlg.StepProgress(IDC_GROUP_PROGRESS);
        arg.dlg.SetEditText(IDC_ARTICLE_COUNTER, Counter(n - first + 1, count));
        if (message != nullptr) {
            try {
                const std::string picture = ExtractPicture(assembler, name, *message, articleFile);
                if (!picture.empty()) {
                    status.Picture();
                    const std::size_t size = arg.dlg.AppendPicture(picture);
                    arg.dlg.SetEditText(IDC_PICTURE_COUNTER,
                                        Counter(arg.dlg.CurrentPicture() + 1, size));
                    if (size == 1) {
                        // The first picture of a run is shown as soon as it exists.
                        arg.dlg.OnNext();
                    }
                }
            } catch (const std::exception& error) {
                platform::WriteConsole("article " + std::to_string(n) +
                                       " skipped: " + error.what() + "\n");
            }
        }
        status.Article(name, n - first + 1, count,
                       message ? message->headerLength + message->bodyLength : 0);
        ++n;
    }
    return GroupEnd::Done;
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
    switch (ReconnectToGroup(arg, status, name, tries, group, why)) {
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

// Sets the session up from the server line and the connection settings, with the password of
// this run. False, after the message, when the settings cannot be read.
bool ConfigureSession(ThreadArg& arg, CRunStatus& status, const std::string& serverLine,
                      CServerAddress& address) {
    std::string password;
    {
        std::lock_guard lock(arg.passwordMutex);
        password.swap(arg.password);
    }
    CServerSettings settings;
    std::string error;
    if (!ReadServerSettings(settings, error)) {
        platform::WipeSecret(password);
        EndEarly(arg, status, error);
        return false;
    }
    address = ParseServerLine(serverLine, settings);
    arg.server.SetHost(address.HostAndPort());
    arg.server.SetSecurity(address.security);
    arg.server.SetCredentials(settings.user, password, settings.allowUnencrypted);
    platform::WipeSecret(password);
    const auto trusted = settings.trusted.find(address.HostAndPort());
    arg.server.SetTrustedFingerprint(trusted != settings.trusted.end() ? trusted->second : "");
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
    CServerAddress address;
    if (!ConfigureSession(arg, status, newsServer, address)) {
        return;
    }
    const std::string& host = arg.server.GetHost();
    const std::int64_t groupCount = static_cast<std::int64_t>(newsGroups.size());
    arg.dlg.SetProgress(IDC_OVERALL_PROGRESS, 0, groupCount, 1, 0);
    arg.dlg.SetEditText(IDC_PICTURE_COUNTER, Counter(0, 0));
    status.Connecting(host);
    std::string failure;
    const bool connected = ConnectToServer(arg, address, failure);
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
    CPartAssembler assembler(CArticleFile::FOLDER, "images");
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
            end = FetchGroupArticles(arg, status, assembler, name, *group, tries, why);
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

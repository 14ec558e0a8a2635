// Runs the real fetch worker for one run without a window, and prints one line of figures.
// It writes a zarvo.cfg into the folder given as the program folder, presses Start, waits until
// the run is over and presses Exit. Message boxes go to standard error and return at once.
//
// Usage: fetchbench --server [nntps://]HOST[:PORT] --group NAME [--group NAME ...] --folder DIR
//                   [--user NAME --password-file FILE [--allow-unencrypted]]
//                   [--trust-fingerprint SHA256 (with or without colons)] [--connections N]
//                   [--requests-in-flight N (0, the default, adapts to the link)]
//                   [--first-run-newest N (0: every article)] [--only-new 0|1]
// Its picture-bytes and MB/s count the pictures decoded (minclient counts the articles
// received); fetched-bytes counts what came from the server. The posts passed over are counted
// by reason: video or audio, files of sets (PAR2, NFO...), other files, too large, skipped by a
// pattern, of kinds turned off, incomplete.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "config/ConfigFile.h"
#include "config/PasswordFile.h"
#include "config/ServerSettings.h"
#include "fetch/CFetchWorker.h"
#include "platform/CertificateFingerprint.h"
#include "platform/ProgramFolder.h"
#include "platform/Secret.h"

namespace {

// Counts what the worker reports instead of showing it.
class CCountingDisplay final : public CFetchDisplay {
public:
    void SetEditText(int, const std::string&) override {}
    void SetProgress(int, std::int64_t, std::int64_t, int, std::int64_t) override {}
    void StepProgress(int) override {}
    void ClearPictures() override {
        std::lock_guard lock(mutex);
        pictures.clear();
    }
    std::size_t AppendPicture(const std::string& path) override {
        std::lock_guard lock(mutex);
        pictures.push_back(path);
        return pictures.size();
    }
    int CurrentPicture() override { return 0; }
    void OnNext() override {}
    void SetStatusText(const std::string&) override {}
    void AddLogEntry(const CRunLogEntry& entry) override {
        std::fprintf(stderr, "%s %s: %s\n", entry.group.c_str(), entry.what.c_str(),
                     entry.todo.c_str());
    }
    void SetRunning(bool) override {}
    void RunFinished(const CRunTotals& totals) override {
        std::lock_guard lock(mutex);
        this->totals = totals;
    }

    std::mutex mutex;
    std::vector<std::string> pictures;
    CRunTotals totals;
};

double Seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    std::string server;
    std::string folder;
    std::vector<std::string> groups;
    std::string passwordFile;
    std::string fingerprint;
    CServerSettings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--allow-unencrypted") {
            settings.allowUnencrypted = true;
            continue;
        }
        if (i + 1 >= argc) {
            break;
        }
        const std::string value = argv[++i];
        if (option == "--server") {
            server = value;
        } else if (option == "--group") {
            groups.push_back(value);
        } else if (option == "--folder") {
            folder = value;
        } else if (option == "--user") {
            settings.user = value;
        } else if (option == "--password-file") {
            passwordFile = std::filesystem::absolute(value).string();
        } else if (option == "--trust-fingerprint") {
            fingerprint = value;
        } else if (option == "--connections") {
            settings.connections =
                std::clamp(std::atoi(value.c_str()), 1, CServerSettings::MAX_CONNECTIONS);
        } else if (option == "--first-run-newest") {
            settings.firstRunNewest =
                static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
        } else if (option == "--only-new") {
            settings.onlyNewArticles = value != "0";
        } else if (option == "--requests-in-flight") {
            settings.pipelineDepth =
                std::clamp(std::atoi(value.c_str()), 0, CServerSettings::MAX_PIPELINE_DEPTH);
        }
    }
    if (server.empty() || folder.empty() || groups.empty()) {
        std::fprintf(stderr,
                     "usage: fetchbench --server [nntps://]HOST[:PORT] --group NAME "
                     "[--group NAME ...] --folder DIR [--user NAME --password-file FILE "
                     "[--allow-unencrypted]] [--trust-fingerprint SHA256] [--connections N] "
                     "[--requests-in-flight N (0: adapt)] [--first-run-newest N (0: all)] "
                     "[--only-new 0|1]\n");
        return 2;
    }
    std::optional<std::string> trusted;
    if (!fingerprint.empty() && !(trusted = platform::CanonicalFingerprint(fingerprint))) {
        std::fprintf(stderr,
                     "--trust-fingerprint: \"%s\" is not a SHA-256 fingerprint (64 hexadecimal "
                     "digits, with or without colons)\n",
                     fingerprint.c_str());
        return 2;
    }
    std::string password;
    std::string error;
    if (!passwordFile.empty() && !ReadPasswordFile(passwordFile, password, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    std::filesystem::create_directories(std::filesystem::path(folder) / "images");
    std::filesystem::current_path(folder);
    platform::SetProgramFolder(std::filesystem::current_path().string());
    WriteConfigFile(server, groups, {});
    if (trusted) {
        settings.trusted[ParseServerLine(server, settings).HostAndPort()] = *trusted;
    }
    if (!WriteServerSettings(settings, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }

    CCountingDisplay display;
    CFetchWorker worker(display);
    if (!worker.InitServer() || !worker.StartThread()) {
        std::fprintf(stderr, "the worker could not start\n");
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    worker.OnStart(password);
    platform::WipeSecret(password);
    worker.WaitForRuns(1, std::chrono::hours{24});
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    worker.EndRun(std::chrono::seconds{5});

    std::uintmax_t bytes = 0;
    for (const std::string& picture : display.pictures) {
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(picture, error);
        bytes += error ? 0 : size;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    const CRunTotals& totals = display.totals;
    const double articles = static_cast<double>(totals.articles);
    std::uint64_t passed = 0;
    for (const std::uint64_t count : totals.passedOver) {
        passed += count;
    }
    const auto reason = [&totals](PassReason why) {
        return static_cast<unsigned long>(totals.passedOver[static_cast<std::size_t>(why)]);
    };
    std::fprintf(
        stdout,
        "fetchbench: articles %lu pictures %zu picture-bytes %ju seconds %.3f "
        "articles/s %.1f MB/s %.2f cpu %.3f s (%.1f us/article) peak-rss %ld KiB "
        "recognised %lu not-pictures %lu fetched-bytes %lu passed-over %lu (video %lu "
        "set-files %lu other %lu too-large %lu skipped %lu off %lu incomplete %lu)\n",
        static_cast<unsigned long>(totals.articles), display.pictures.size(), bytes, seconds,
        articles / seconds, static_cast<double>(bytes) / seconds / 1e6, cpu,
        articles > 0 ? cpu / articles * 1e6 : 0.0, usage.ru_maxrss,
        static_cast<unsigned long>(totals.recognised),
        static_cast<unsigned long>(totals.notPictures), static_cast<unsigned long>(totals.bytes),
        static_cast<unsigned long>(passed), reason(PassReason::VideoOrAudio),
        reason(PassReason::SetFiles), reason(PassReason::OtherFile), reason(PassReason::TooLarge),
        reason(PassReason::Skipped), reason(PassReason::TurnedOff), reason(PassReason::Incomplete));
    return 0;
}

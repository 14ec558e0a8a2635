// uibench: fills the configuration dialog's Available list with 100,000 newsgroup names, the
// size of a large server's list, in the two ways the user meets: opening the dialog on a
// zarvo.cfg that caches the list (as written, sorted; and shuffled, as a hand-edited file may
// be), and Fetch Newsgroups from a news server on loopback that lists them. Prints the seconds
// each took, with the dialog shown on Qt's offscreen platform, the list view laid out and
// painted. Then types filters into the filter box above a list of 150,000 names, key by key,
// and back out again, and prints for each filter the milliseconds a key took on average and at
// worst, until the list was shown filtered and painted. Works in a temporary folder that it
// removes.
//
// Usage: uibench [names [filtered names]]   (default 100000 and 150000). Build without
// sanitizers, with -DCMAKE_BUILD_TYPE=Release, for figures.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "config/ConfigFile.h"
#include "platform/Console.h"
#include "ui/CConfigDlg.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::vector<std::string> GroupNames(std::size_t count) {
    static const char* const HIERARCHIES[] = {"alt.binaries.", "comp.",         "de.alt.",
                                              "rec.arts.",     "Alt.Pictures.", "sci."};
    std::vector<std::string> names;
    names.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        names.push_back(std::string(HIERARCHIES[i % std::size(HIERARCHIES)]) + "group" +
                        std::to_string(i * 7919 % count));
    }
    return names;
}

void WriteConfig(const std::vector<std::string>& available) {
    std::ofstream out(CONFIG_FILE_NAME, std::ios::binary | std::ios::trunc);
    out << "news.example\nalt.binaries.group1\n" << CONFIG_SEPARATOR << "\n";
    for (const std::string& name : available) {
        out << name << "\n";
    }
}

// Shows the dialog and lets it lay out and paint, as a user would see it.
void Settle(CConfigDlg& dialog) {
    dialog.show();
    QApplication::processEvents();
    dialog.grab();
}

double OpenOnFile(const std::vector<std::string>& available) {
    WriteConfig(available);
    const auto start = Clock::now();
    CConfigDlg dialog;
    dialog.OnInitDialog();
    Settle(dialog);
    const std::chrono::duration<double> took = Clock::now() - start;
    if (dialog.AvailableList().GetCount() != static_cast<int>(available.size())) {
        std::fprintf(stderr, "uibench: the list holds %d names, not %zu\n",
                     dialog.AvailableList().GetCount(), available.size());
        std::exit(1);
    }
    return took.count();
}

// A news server on loopback for one connection: a greeting, LIST with the given names, quit.
class CListServer {
public:
    explicit CListServer(const std::vector<std::string>& names) {
        m_reply = "215 list follows\r\n";
        for (const std::string& name : names) {
            m_reply += name + " 2000 1000 y\r\n";
        }
        m_reply += ".\r\n";
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_listen, 1) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::perror("uibench: listen");
            std::exit(1);
        }
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~CListServer() {
        m_thread.join();
        ::close(m_listen);
    }
    int Port() const { return m_port; }

private:
    void Send(int fd, const std::string& text) {
        for (std::size_t sent = 0; sent < text.size();) {
            const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                return;
            }
            sent += static_cast<std::size_t>(n);
        }
    }
    void Serve() {
        const int fd = ::accept(m_listen, nullptr, nullptr);
        if (fd < 0) {
            return;
        }
        Send(fd, "200 uibench server ready\r\n");
        std::string pending;
        char buffer[512];
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                break;
            }
            pending.append(buffer, static_cast<std::size_t>(n));
            std::size_t end;
            while ((end = pending.find("\r\n")) != std::string::npos) {
                const std::string command = pending.substr(0, end);
                pending.erase(0, end + 2);
                if (command == "LIST") {
                    Send(fd, m_reply);
                } else {
                    Send(fd, "205 bye\r\n");
                    ::close(fd);
                    return;
                }
            }
        }
        ::close(fd);
    }

    std::string m_reply;
    int m_listen = -1;
    int m_port = 0;
    std::thread m_thread;
};

double FetchFromServer(const std::vector<std::string>& names) {
    fs::remove(CONFIG_FILE_NAME);
    const CListServer server(names);
    CConfigDlg dialog;
    dialog.OnInitDialog();
    dialog.SetServerText("127.0.0.1:" + std::to_string(server.Port()));
    Settle(dialog);
    const auto start = Clock::now();
    dialog.OnFetchNewsgroups();
    // The list comes on the fetch's thread and is shown through the event loop.
    while (dialog.IsFetching()) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    Settle(dialog);
    const std::chrono::duration<double> took = Clock::now() - start;
    if (dialog.AvailableList().GetCount() != static_cast<int>(names.size())) {
        std::fprintf(stderr, "uibench: the list holds %d names, not %zu\n",
                     dialog.AvailableList().GetCount(), names.size());
        std::exit(1);
    }
    return took.count();
}

// Types the filter into the filter box one key at a time, then takes it back one key at a
// time, letting the dialog paint after each key; prints the milliseconds a key took, on
// average and at worst, and returns the worst.
double TypeFilter(CConfigDlg& dialog, const std::string& filter) {
    std::vector<std::string> keys;
    for (std::size_t length = 1; length <= filter.size(); ++length) {
        keys.push_back(filter.substr(0, length));
    }
    for (std::size_t length = filter.size(); length-- > 0;) {
        keys.push_back(filter.substr(0, length));
    }
    double total = 0;
    double worst = 0;
    std::size_t shownAtEnd = 0;
    for (const std::string& text : keys) {
        const auto start = Clock::now();
        dialog.FilterField().setText(QString::fromStdString(text));
        Settle(dialog);
        const std::chrono::duration<double, std::milli> took = Clock::now() - start;
        total += took.count();
        worst = std::max(worst, took.count());
        if (text == filter) {
            shownAtEnd = static_cast<std::size_t>(dialog.AvailableList().model()->rowCount());
        }
    }
    std::printf("filter %-22s %7.2f ms a key, %7.2f ms at worst (%zu keys, %zu shown)\n",
                ("\"" + filter + "\"").c_str(), total / static_cast<double>(keys.size()), worst,
                keys.size(), shownAtEnd);
    return worst;
}

void FilterAsTyped(const std::vector<std::string>& sorted) {
    WriteConfig(sorted);
    CConfigDlg dialog;
    dialog.OnInitDialog();
    Settle(dialog);
    std::printf("names in the filtered list     %d\n", dialog.AvailableList().GetCount());
    double worst = 0;
    // Substrings (in another case than the names, too), wildmats, and one that nothing passes.
    for (const char* filter : {"alt.binaries.group7", "GROUP1234", "pictures.group9",
                               "*.pictures.*", "alt.*group1?3*", "*,!alt.*", "no.such.group"}) {
        worst = std::max(worst, TypeFilter(dialog, filter));
    }
    std::printf("filter, worst key of all       %.2f ms\n", worst);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t count = argc > 1 ? std::stoul(argv[1]) : 100000;
    const std::size_t filtered = argc > 2 ? std::stoul(argv[2]) : 150000;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    // The session's log lines would only clutter the figures.
    platform::SetConsoleSink([](std::string_view) {});

    std::string pattern = (fs::temp_directory_path() / "zarvo-uibench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("uibench: mkdtemp");
        return 1;
    }
    const fs::path folder = pattern;
    const fs::path previous = fs::current_path();
    fs::current_path(folder);

    std::vector<std::string> names = GroupNames(count);
    std::vector<std::string> sorted = names;
    std::stable_sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
        return CSortedNameList::CompareNoCase(a, b) < 0;
    });
    std::shuffle(names.begin(), names.end(), std::mt19937(42));

    std::printf("names                          %zu\n", count);
    std::printf("open on zarvo.cfg, sorted      %.3f s\n", OpenOnFile(sorted));
    std::printf("open on zarvo.cfg, shuffled    %.3f s\n", OpenOnFile(names));
    std::printf("Fetch Newsgroups from a server %.3f s\n", FetchFromServer(names));
    std::vector<std::string> many = GroupNames(filtered);
    std::stable_sort(many.begin(), many.end(), [](const std::string& a, const std::string& b) {
        return CSortedNameList::CompareNoCase(a, b) < 0;
    });
    FilterAsTyped(many);

    fs::current_path(previous);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}

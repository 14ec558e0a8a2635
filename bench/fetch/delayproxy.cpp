// A delay proxy for measuring on the loopback what a distant news server would cost: every byte
// arrives half the round-trip time later in each direction, and the line may be capped at a
// bandwidth per direction that all connections share. It prints the port it listens on (one
// line), serves until SIGTERM or SIGINT, after --idle seconds without any connection or after
// --max-time seconds, and then prints what went through to standard error.
//
// Usage: delayproxy [--port N] [--target HOST:PORT] [--rtt MS] [--mbit MBIT_PER_S]
//                   [--buffer KIB] [--idle SECONDS] [--max-time SECONDS]

#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/fetch/DelayProxy.h"

namespace {

bool ParseNumber(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && value >= 0;
}

}  // namespace

int main(int argc, char** argv) {
    CDelayProxy::Settings settings;
    double port = 0;
    double roundTripMs = 0;
    double megabits = 0;
    double bufferKib = static_cast<double>(settings.bufferLimit / 1024);
    double idleSeconds = 60;
    double maxSeconds = 3600;
    bool valid = argc % 2 == 1;
    for (int i = 1; valid && i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const char* value = argv[i + 1];
        if (option == "--target") {
            const std::string target = value;
            const std::size_t colon = target.rfind(':');
            double targetPort = 0;
            valid = colon != std::string::npos &&
                    ParseNumber(target.substr(colon + 1).c_str(), targetPort);
            settings.targetHost = target.substr(0, colon);
            settings.targetPort = static_cast<int>(targetPort);
        } else if (option == "--port") {
            valid = ParseNumber(value, port) && port < 65536;
        } else if (option == "--rtt") {
            valid = ParseNumber(value, roundTripMs);
        } else if (option == "--mbit") {
            valid = ParseNumber(value, megabits);
        } else if (option == "--buffer") {
            valid = ParseNumber(value, bufferKib) && bufferKib >= 1;
        } else if (option == "--idle") {
            valid = ParseNumber(value, idleSeconds);
        } else if (option == "--max-time") {
            valid = ParseNumber(value, maxSeconds);
        } else {
            valid = false;
        }
    }
    if (!valid) {
        std::fprintf(stderr,
                     "usage: delayproxy [--port N] [--target HOST:PORT] [--rtt MS] "
                     "[--mbit MBIT_PER_S] [--buffer KIB] [--idle SECONDS] [--max-time SECONDS]\n");
        return 2;
    }
    settings.roundTrip = std::chrono::duration_cast<CDelayLine::Clock::duration>(
        std::chrono::duration<double, std::milli>(roundTripMs));
    settings.bitsPerSecond = megabits * 1e6;
    settings.bufferLimit = static_cast<std::size_t>(bufferKib * 1024);

    // The stop signals are read from a descriptor, so they must reach no thread as signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (signalFd < 0) {
        std::perror("signalfd");
        return 1;
    }

    const auto start = CDelayLine::Clock::now();
    CDelayProxy proxy(settings);
    if (!proxy.Listen(static_cast<int>(port))) {
        std::fprintf(stderr, "delayproxy: %s\n", proxy.Error().c_str());
        close(signalFd);
        return 1;
    }
    std::printf("%d\n", proxy.Port());
    std::fflush(stdout);
    const auto seconds = [](double value) {
        return std::chrono::duration_cast<CDelayLine::Clock::duration>(
            std::chrono::duration<double>(value));
    };
    proxy.Serve(signalFd, seconds(idleSeconds), start + seconds(maxSeconds));
    close(signalFd);
    const CDelayProxy::Totals totals = proxy.CountTotals();
    std::fprintf(stderr,
                 "delayproxy: %lu connections, %llu bytes to the server, %llu bytes to the "
                 "clients\n",
                 totals.connections, static_cast<unsigned long long>(totals.toServer),
                 static_cast<unsigned long long>(totals.toClients));
    return 0;
}

#include "fetch/Reconnect.h"

#include <chrono>
#include <iterator>

namespace {

using namespace std::chrono_literals;

// The waits before the tries.
constexpr std::chrono::seconds RECONNECT_DELAYS[] = {1s, 2s, 4s};
constexpr int RECONNECT_TRIES = static_cast<int>(std::size(RECONNECT_DELAYS));

}  // namespace

bool IsFinal(const CNewsServer::Failure& failure) {
    return failure.kind != CNewsServer::Failure::Kind::None &&
           failure.kind != CNewsServer::Failure::Kind::Refused;
}

Reconnect ReconnectToGroup(CNewsServer& session, const platform::ManualResetEvent& stop,
                           CRunStatus& status, const std::string& name, int& tries,
                           std::unique_ptr<CNewsGroup>& group, std::string& why) {
    while (tries < RECONNECT_TRIES) {
        const std::chrono::seconds delay = RECONNECT_DELAYS[tries];
        ++tries;
        status.Reconnecting(session.GetHost(), delay, tries, RECONNECT_TRIES);
        if (stop.Wait(delay)) {
            return Reconnect::Stopped;
        }
        if (session.Connect() && !session.ConnectionLost() && session.Open(name, group)) {
            return Reconnect::Resumed;
        }
        if (stop.IsSet()) {
            return Reconnect::Stopped;
        }
        if (IsFinal(session.LastFailure())) {
            why = session.LastFailure().text;
            break;
        }
    }
    if (why.empty() && session.LastFailure().kind == CNewsServer::Failure::Kind::Refused) {
        why = session.LastFailure().text;
    }
    return Reconnect::Failed;
}

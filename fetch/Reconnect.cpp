#include "fetch/Reconnect.h"

#include <chrono>

bool IsFinal(const CNewsServer::Failure& failure) {
    return failure.kind != CNewsServer::Failure::Kind::None &&
           failure.kind != CNewsServer::Failure::Kind::Refused;
}

Reconnect ReconnectToGroup(CNewsServer& session, const platform::ManualResetEvent& stop,
                           CRunStatus& status, const std::string& name, int& tries,
                           std::unique_ptr<CNewsGroup>& group, std::string& why,
                           const CBackOff& backOff) {
    while (tries < backOff.Tries()) {
        const CBackOff::Wait wait = backOff.Before(tries);
        ++tries;
        status.Reconnecting(session.GetHost(), std::chrono::system_clock::now() + wait, tries);
        if (stop.Wait(wait)) {
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

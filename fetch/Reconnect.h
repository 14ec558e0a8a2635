#pragma once

// Winning a lost connection back: wait as the back-off says before each try, connect and select
// the group again, the status line saying when the next try is. Stop ends the wait at once. It
// decides nothing about the articles.

#include <memory>
#include <string>

#include "fetch/CBackOff.h"
#include "fetch/CRunStatus.h"
#include "nntp/CNewsServer.h"
#include "platform/ManualResetEvent.h"

enum class Reconnect { Resumed, Stopped, Failed };

// True when trying again cannot help: the server refused the password, or the connection cannot
// be made secure. A server that refuses connections for now (482, 502) may take one later.
bool IsFinal(const CNewsServer::Failure& failure);

// Wins the session's connection back after it was lost while fetching the group, up to the
// tries of `backOff` that are left. `tries` counts the tries since an article last got through,
// so a server that drops the connection at the same article every time is given up once the
// tries are spent, not tried for ever. A failure that a retry cannot mend (a wrong password)
// ends the tries at once; `why` then holds its message, as it does for a server that kept
// refusing connections.
Reconnect ReconnectToGroup(CNewsServer& session, const platform::ManualResetEvent& stop,
                           CRunStatus& status, const std::string& name, int& tries,
                           std::unique_ptr<CNewsGroup>& group, std::string& why,
                           const CBackOff& backOff = CBackOff::Quick());

#pragma once

// One connection's share of fetching a group: it takes articles from the queue in order and
// keeps several requests in flight (RFC 3977, 3.5), BODY alone where the overview gave the
// header fields and HEAD with BODY where it did not, and hands each article to the queue as its
// replies come, in the order asked. How many requests are in flight adapts to the link: it grows
// while replies keep the connection waiting, up to the most allowed. A lost connection gives its
// unanswered articles back to the queue and is won back with the usual waits; a connection
// that cannot be won back leaves the work to the others. Each reply must name the article it
// answers (RFC 3977, 6.2.1-6.2.4); one that names another, or a 480, leaves the replies still on
// their way unmatched to their requests, so the connection is dropped, never read further, and
// its articles go back to the queue undelivered.

#include <string>

#include "fetch/CArticleQueue.h"
#include "fetch/CRunStatus.h"
#include "nntp/CNewsServer.h"
#include "platform/ManualResetEvent.h"

struct CGroupConnectionOptions {
    std::string group;
    // The session has not selected the group yet: it does so first.
    bool selectGroup = false;
    // Requests in flight: 0 adapts, from 32 up to `maxDepth`; 1 asks for each article and waits
    // for it (HEAD, then BODY only when the HEAD came).
    int depth = 0;
    int maxDepth = 64;
    // The BODY requests of the queue's first articles went out already on this session (after
    // the overview's), whether the articles are wanted or not; the queue counts them as taken.
    std::size_t sentAhead = 0;
};

// How many requests a connection keeps in flight at first, for the depth setting.
int InitialRequestsInFlight(int depth);

enum class ConnectionEnd {
    Done,     // nothing more to take
    Stopped,  // Stop, or the queue was closed
    Lost,     // the connection could not be won back; `why` may say why
    Refused,  // the server would not connect, or not select the group, on this connection
};

// Works on the queue until nothing is left to take; joins and leaves the queue itself is the
// caller's (Join before the thread starts, Leave when it ends).
ConnectionEnd FetchWithConnection(CNewsServer& session, CArticleQueue& queue,
                                  const CGroupConnectionOptions& options,
                                  const platform::ManualResetEvent& stop, CRunStatus& status,
                                  std::string& why);

#pragma once

// The news server sessions a run is using at the moment (the worker's own and the extra
// connections of a group), so that Stop and Exit can cut every one of them from the window's
// thread. It owns none of them: a session is added when it is made and removed before it goes.

#include <algorithm>
#include <mutex>
#include <vector>

#include "nntp/CNewsServer.h"

class CSessionRegistry {
public:
    void Add(CNewsServer& session) {
        std::lock_guard lock(m_mutex);
        m_sessions.push_back(&session);
    }
    void Remove(CNewsServer& session) {
        std::lock_guard lock(m_mutex);
        std::erase(m_sessions, &session);
    }
    // Cuts the exchange under way on every session, until ClearCancel (Stop).
    void Cancel() {
        std::lock_guard lock(m_mutex);
        for (CNewsServer* session : m_sessions) {
            session->Cancel();
        }
    }
    void ClearCancel() {
        std::lock_guard lock(m_mutex);
        for (CNewsServer* session : m_sessions) {
            session->ClearCancel();
        }
    }
    // As Cancel, for good (Exit).
    void Abort() {
        std::lock_guard lock(m_mutex);
        for (CNewsServer* session : m_sessions) {
            session->Abort();
        }
    }

private:
    std::mutex m_mutex;
    std::vector<CNewsServer*> m_sessions;
};

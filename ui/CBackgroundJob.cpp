#include "ui/CBackgroundJob.h"

#include <QMetaObject>
#include <utility>

CBackgroundJob::CBackgroundJob(QObject& context) : m_context(&context) {}

CBackgroundJob::~CBackgroundJob() {
    Abandon();
}

bool CBackgroundJob::Start(Work work) {
    if (Busy()) {
        return false;
    }
    auto state = std::make_shared<State>();
    m_state = state;
    m_thread = std::thread([this, state, context = m_context, work = std::move(work)] {
        std::function<void()> then = work();
        std::lock_guard lock(state->mutex);
        state->finished = true;
        state->ended.notify_all();
        if (state->abandoned) {
            return;
        }
        // Posted under the lock: Abandon() cannot slip in between the test and the post, and
        // the owner keeps the context alive until it has abandoned the work.
        QMetaObject::invokeMethod(
            context,
            [this, state, then = std::move(then)] {
                if (!state->abandoned) {
                    Deliver(state, then);
                }
            },
            Qt::QueuedConnection);
    });
    return true;
}

void CBackgroundJob::Deliver(const std::shared_ptr<State>& state,
                             const std::function<void()>& then) {
    // The thread has posted this as its last step; it ends at once.
    if (m_state == state && m_thread.joinable()) {
        m_thread.join();
    }
    m_state.reset();
    then();
}

bool CBackgroundJob::Abandon(std::chrono::milliseconds wait) {
    if (!m_state) {
        return true;
    }
    bool ended = false;
    {
        std::unique_lock lock(m_state->mutex);
        m_state->abandoned = true;
        ended = m_state->ended.wait_for(lock, wait, [this] { return m_state->finished; });
    }
    if (ended) {
        m_thread.join();
    } else {
        m_thread.detach();
    }
    m_state.reset();
    return ended;
}

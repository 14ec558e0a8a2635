#include "ui/CUiThreadRequests.h"

#include <QMetaObject>

CUiThreadRequests::CUiThreadRequests(QObject& context)
    : m_context(&context), m_thread(context.thread()) {}

CUiThreadRequests::~CUiThreadRequests() {
    Release();
}

bool CUiThreadRequests::Call(const std::function<void()>& request) {
    if (OnUiThread()) {
        if (IsReleased()) {
            return false;
        }
        request();
        return true;
    }
    return CallUntilFinished([request](const std::function<void()>& finished) {
        request();
        finished();
    });
}

bool CUiThreadRequests::CallUntilFinished(
    std::function<void(std::function<void()> finished)> request) {
    if (OnUiThread()) {
        // The thread cannot wait for itself: the request starts, and the caller goes on.
        if (IsReleased()) {
            return false;
        }
        request([] {});
        return true;
    }
    const std::shared_ptr<Shared> shared = m_shared;
    const auto done = std::make_shared<bool>(false);
    std::unique_lock lock(shared->mutex);
    if (shared->released) {
        return false;
    }
    // Posted under the lock: Release() cannot slip in between the test and the post, and the
    // owner keeps the context alive until it has released.
    QMetaObject::invokeMethod(
        m_context,
        [shared, done, request = std::move(request)] {
            {
                std::lock_guard check(shared->mutex);
                if (shared->released) {
                    return;
                }
            }
            request([shared, done] {
                {
                    std::lock_guard mark(shared->mutex);
                    *done = true;
                }
                shared->changed.notify_all();
            });
        },
        Qt::QueuedConnection);
    shared->changed.wait(lock, [&] { return *done || shared->released; });
    return *done;
}

void CUiThreadRequests::Release() {
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->released = true;
    }
    m_shared->changed.notify_all();
}

bool CUiThreadRequests::IsReleased() const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->released;
}

#pragma once

// Carries calls from other threads over to the user-interface thread as synchronous requests:
// the caller waits until its request has run there. Qt lets only that thread touch widgets,
// and the fetch worker must see its display updates done before it goes on. Release() wakes
// every waiting caller at once and turns every later request away, so that the window can end
// the worker without waiting for a request that the window itself would have to serve.
//
// It does not decide what a request does, and it never runs one after Release().

#include <QObject>
#include <QThread>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class CUiThreadRequests {
public:
    // Requests run on the thread of `context` (the user-interface thread), through its event
    // loop. The owner must call Release() before `context` goes.
    explicit CUiThreadRequests(QObject& context);
    ~CUiThreadRequests();
    CUiThreadRequests(const CUiThreadRequests&) = delete;
    CUiThreadRequests& operator=(const CUiThreadRequests&) = delete;

    // Runs the request and returns once it has run: at once on the user-interface thread,
    // otherwise through its event loop. False when the request was turned away or released
    // before it ran.
    bool Call(const std::function<void()>& request);
    // For a request that finishes after it returns (a box that the user closes later): it is
    // handed the function to call when it has finished, and the caller waits for that call.
    // On the user-interface thread, which cannot wait for itself, it only starts the request.
    bool CallUntilFinished(std::function<void(std::function<void()> finished)> request);

    // Wakes every waiting caller (their calls return false) and turns every later request
    // away. From any thread; for good.
    void Release();
    bool IsReleased() const;
    bool OnUiThread() const { return QThread::currentThread() == m_thread; }

private:
    // Shared with the requests in flight and their callers, so that a caller still waking up,
    // or a request still queued, never reaches a destroyed object.
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        bool released = false;
    };

    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    QObject* m_context;
    QThread* m_thread;
};

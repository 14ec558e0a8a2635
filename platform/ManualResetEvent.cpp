#include "platform/ManualResetEvent.h"

#include <condition_variable>
#include <mutex>

namespace platform {
namespace {

std::mutex& EventMutex() {
    static std::mutex mutex;
    return mutex;
}

std::condition_variable& EventChanged() {
    static std::condition_variable changed;
    return changed;
}

}  // namespace

void ManualResetEvent::Set() {
    {
        std::lock_guard lock(EventMutex());
        m_set = true;
    }
    EventChanged().notify_all();
}

void ManualResetEvent::Reset() {
    std::lock_guard lock(EventMutex());
    m_set = false;
}

bool ManualResetEvent::IsSet() const {
    std::lock_guard lock(EventMutex());
    return m_set;
}

bool ManualResetEvent::Wait(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(EventMutex());
    return EventChanged().wait_for(lock, timeout, [this] { return m_set; });
}

int ManualResetEvent::WaitForEither(const ManualResetEvent& first, const ManualResetEvent& second) {
    std::unique_lock lock(EventMutex());
    EventChanged().wait(lock, [&] { return first.m_set || second.m_set; });
    return first.m_set ? 0 : 1;
}

}  // namespace platform

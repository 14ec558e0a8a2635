#include "fetch/CArticleQueue.h"

#include <algorithm>

CArticleQueue::CArticleQueue(std::vector<Item> items, std::size_t window)
    : m_items(std::move(items)),
      m_window(window == 0 ? 1 : window),
      m_messages(m_items.size()),
      m_arrived(m_items.size(), 0) {
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        m_arrived[i] = m_items[i].fetch ? 0 : 1;
    }
}

std::optional<std::size_t> CArticleQueue::Take(bool wait) {
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_closed) {
            return std::nullopt;
        }
        if (!m_givenBack.empty()) {
            const std::size_t index = *m_givenBack.begin();
            m_givenBack.erase(m_givenBack.begin());
            return index;
        }
        while (m_nextToTake < m_items.size() && !m_items[m_nextToTake].fetch) {
            ++m_nextToTake;
        }
        if (m_nextToTake == m_items.size()) {
            return std::nullopt;
        }
        if (m_nextToTake < m_nextToHandOut + m_window) {
            return m_nextToTake++;
        }
        if (!wait) {
            return std::nullopt;
        }
        m_changed.wait(lock);
    }
}

void CArticleQueue::TakeThrough(std::size_t end) {
    std::lock_guard lock(m_mutex);
    m_nextToTake = std::max(m_nextToTake, std::min(end, m_items.size()));
}

void CArticleQueue::Deliver(std::size_t index, std::unique_ptr<CNewsMessage> message) {
    {
        std::lock_guard lock(m_mutex);
        m_messages[index] = std::move(message);
        m_arrived[index] = 1;
    }
    m_changed.notify_all();
}

void CArticleQueue::GiveBack(const std::vector<std::size_t>& indexes) {
    {
        std::lock_guard lock(m_mutex);
        m_givenBack.insert(indexes.begin(), indexes.end());
    }
    m_changed.notify_all();
}

void CArticleQueue::Join() {
    std::lock_guard lock(m_mutex);
    ++m_connections;
}

void CArticleQueue::Leave() {
    {
        std::lock_guard lock(m_mutex);
        --m_connections;
    }
    m_changed.notify_all();
}

bool CArticleQueue::Next(std::size_t& index, std::unique_ptr<CNewsMessage>& message) {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] {
        return m_nextToHandOut >= m_items.size() || Arrived(m_nextToHandOut) || m_closed ||
               m_connections == 0;
    });
    if (m_nextToHandOut >= m_items.size() || !Arrived(m_nextToHandOut)) {
        return false;
    }
    index = m_nextToHandOut++;
    message = std::move(m_messages[index]);
    lock.unlock();
    // The window moved on: a connection may take more.
    m_changed.notify_all();
    return true;
}

void CArticleQueue::Close() {
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    m_changed.notify_all();
}

bool CArticleQueue::Closed() const {
    std::lock_guard lock(m_mutex);
    return m_closed;
}

#include "fetch/CArticleQueue.h"

#include <algorithm>

CArticleQueue::CArticleQueue(std::vector<Item> items, std::size_t window, std::uint64_t byteWindow)
    : m_items(std::move(items)),
      m_window(window == 0 ? 1 : window),
      m_byteWindow(byteWindow == 0 ? 1 : byteWindow),
      m_messages(m_items.size()),
      m_arrived(m_items.size(), 0) {
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        m_arrived[i] = m_items[i].fetch ? 0 : 1;
    }
}

std::uint64_t CArticleQueue::Cost(std::size_t index) const {
    const Item& item = m_items[index];
    if (!item.fetch) {
        return 0;  // never taken
    }
    return std::min(item.bytes == 0 ? UNKNOWN_BYTES : item.bytes, m_byteWindow);
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
        // With nothing ahead of the worker any article may go, however large: it goes alone.
        const std::uint64_t cost = Cost(m_nextToTake);
        if (m_nextToTake < m_nextToHandOut + m_window &&
            (m_bytesAhead == 0 || m_bytesAhead + cost <= m_byteWindow)) {
            m_bytesAhead += cost;
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
    for (; m_nextToTake < std::min(end, m_items.size()); ++m_nextToTake) {
        m_bytesAhead += Cost(m_nextToTake);
    }
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
    m_bytesAhead -= Cost(index);
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

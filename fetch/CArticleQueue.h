#pragma once

// The articles of one group that a run fetches, shared between the connections that fetch them
// and the worker that processes them. Connections take the next articles in order and hand each
// one back when its reply has come; the worker takes them strictly in article order. Connections
// never run more than a window ahead of the worker, counted in articles and in bytes (the sizes
// the overview gave), so memory stays bounded however slowly the worker decodes and however
// large the articles; an article larger than the byte window is still taken, alone. A
// connection that loses its link gives back what had not arrived, and those articles are
// fetched again before any other. It talks to no server itself.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "nntp/CNewsMessage.h"

struct CPostTarget;

class CArticleQueue {
public:
    struct Item {
        std::uint32_t number = 0;
        // False for an article known not to hold a picture (the overview says so, or has no such
        // article): it is passed without asking the server.
        bool fetch = true;
        // The header fields the overview gave; with none the connection reads the header.
        std::string subject;
        std::string from;
        std::string messageId;
        // The article's size as the overview gave it; 0 when unknown.
        std::uint64_t bytes = 0;
        bool overview = false;
        // One of the numbers the run visits (counted in the group's progress), not a part of a
        // post fetched from before them.
        bool visited = true;
        // The post the article belongs to, when the overview told.
        std::shared_ptr<const CPostTarget> target;
    };

    // What an article of unknown size counts for in the byte window.
    static constexpr std::uint64_t UNKNOWN_BYTES = std::uint64_t{1} << 20;

    // `window` articles and `byteWindow` bytes at most are taken and not yet handed to the
    // worker, but for one article alone.
    CArticleQueue(std::vector<Item> items, std::size_t window, std::uint64_t byteWindow);

    // For the connections. The index of the next article to fetch, waiting while a window is
    // full when `wait` is true; nothing when every article is taken, the queue is closed, or
    // (without `wait`) a window is full.
    std::optional<std::size_t> Take(bool wait);
    const Item& At(std::size_t index) const { return m_items[index]; }
    // Counts every article before `end` as taken: one connection asked for them already.
    void TakeThrough(std::size_t end);
    // The article's message, or none when the server had no such article.
    void Deliver(std::size_t index, std::unique_ptr<CNewsMessage> message);
    // Articles taken whose replies never came: they are taken again before any other.
    void GiveBack(const std::vector<std::size_t>& indexes);
    // A connection begins or stops working on the queue: with none left, nothing more comes.
    void Join();
    void Leave();

    // For the worker. Waits for the next article in order: true with its index and message (none
    // for an article passed over or missing); false when it will never come (the queue was
    // closed, or every connection left).
    bool Next(std::size_t& index, std::unique_ptr<CNewsMessage>& message);
    // Ends the work at once: waiting connections and the worker wake up, and nothing more is
    // taken.
    void Close();
    bool Closed() const;

    std::size_t Size() const { return m_items.size(); }

private:
    bool Arrived(std::size_t index) const { return m_arrived[index] != 0; }
    // What the article counts for in the byte window: never more than the window, so that sums
    // cannot overflow.
    std::uint64_t Cost(std::size_t index) const;

    const std::vector<Item> m_items;
    const std::size_t m_window;
    const std::uint64_t m_byteWindow;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::unique_ptr<CNewsMessage>> m_messages;
    std::vector<unsigned char> m_arrived;
    std::set<std::size_t> m_givenBack;
    std::size_t m_nextToTake = 0;     // every index below is taken (or passed over)
    std::size_t m_nextToHandOut = 0;  // the worker's position
    std::uint64_t m_bytesAhead = 0;   // of the articles taken and not yet handed out
    int m_connections = 0;
    bool m_closed = false;
};

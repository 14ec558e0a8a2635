// The queue of one batch on its own: how far ahead of the worker the connections may take
// articles, counted in bytes.

#include <gtest/gtest.h>

#include <thread>

#include "fetch/CArticleQueue.h"

namespace {

std::vector<CArticleQueue::Item> Sized(const std::vector<std::uint64_t>& sizes) {
    std::vector<CArticleQueue::Item> items(sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        items[i].number = static_cast<std::uint32_t>(i + 1);
        items[i].bytes = sizes[i];
    }
    return items;
}

// Takes without waiting while the queue lets it: how many it let.
std::size_t TakeAll(CArticleQueue& queue) {
    std::size_t taken = 0;
    while (queue.Take(false)) {
        ++taken;
    }
    return taken;
}

// The article arrives and the worker handles it.
void Handle(CArticleQueue& queue, std::size_t index) {
    queue.Deliver(index, nullptr);
    std::size_t next = 0;
    std::unique_ptr<CNewsMessage> message;
    ASSERT_TRUE(queue.Next(next, message));
    ASSERT_EQ(next, index);
}

TEST(ArticleQueueTest, TakesStopAtTheByteWindowAndGoOnAsTheWorkerHandlesArticles) {
    constexpr std::uint64_t MIB = CArticleQueue::UNKNOWN_BYTES;
    const struct {
        const char* name;
        std::uint64_t window;
        std::vector<std::uint64_t> sizes;
        // Taken at first, then after the worker handled each article in turn.
        std::vector<std::size_t> taken;
    } cases[] = {
        {"within the window", 100, {40, 40, 40, 40}, {2, 1, 1, 0}},
        {"larger than the window, alone", 100, {30, 150, 30}, {1, 1, 1}},
        {"unknown sizes count 1 MiB", 3 * MIB, {0, 0, 0, 0}, {3, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CArticleQueue queue(Sized(c.sizes), 128, c.window);
        std::vector<std::size_t> taken = {TakeAll(queue)};
        for (std::size_t index = 0; taken.size() < c.taken.size(); ++index) {
            Handle(queue, index);
            taken.push_back(TakeAll(queue));
        }
        EXPECT_EQ(taken, c.taken);
    }
    // What a connection gives back counts already: it is taken again with the window full.
    CArticleQueue queue(Sized({60, 60}), 128, 100);
    EXPECT_EQ(queue.Take(false), 0u);
    EXPECT_EQ(queue.Take(false), std::nullopt);
    queue.GiveBack({0});
    EXPECT_EQ(queue.Take(false), 0u);
    EXPECT_EQ(queue.Take(false), std::nullopt);
    // A connection waiting for room wakes when the worker makes it.
    std::optional<std::size_t> waited;
    std::thread connection([&] { waited = queue.Take(true); });
    Handle(queue, 0);
    connection.join();
    EXPECT_EQ(waited, 1u);
}

}  // namespace

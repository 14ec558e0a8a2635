// The waits before the tries to win a connection back, one after the other.

#include <gtest/gtest.h>

#include <vector>

#include "fetch/CBackOff.h"

namespace {

using namespace std::chrono_literals;

TEST(BackOffTest, TheWaitsGrowThenRepeatUntilTheirTotal) {
    using Waits = std::vector<CBackOff::Wait>;
    const struct {
        const char* name;
        CBackOff backOff;
        Waits waits;
    } cases[] = {
        {"quick", CBackOff::Quick(), {1s, 2s, 4s}},
        // Ten minutes in all, a minute apart at most.
        {"patient",
         CBackOff::Patient(),
         {1s, 2s, 4s, 8s, 15s, 30s, 60s, 60s, 60s, 60s, 60s, 60s, 60s, 60s, 60s}},
        // A total the repeated wait does not divide is still reached.
        {"rounded up", CBackOff({1s}, 2s, 4s), {1s, 2s, 2s}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Waits waits;
        for (int attempt = 0; attempt < c.backOff.Tries(); ++attempt) {
            waits.push_back(c.backOff.Before(attempt));
        }
        EXPECT_EQ(waits, c.waits);
    }
}

}  // namespace

#include "base/ParallelFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

TEST(ParallelForTest, EveryPieceRunsOnceAndAThrownErrorReachesTheCaller) {
    std::vector<std::atomic<int>> runs(5000);
    ParallelFor(runs.size(), 4, [&](size_t i) { ++runs[i]; });
    for (size_t i = 0; i < runs.size(); ++i) ASSERT_EQ(1, runs[i].load()) << "piece " << i;

    // Nothing to do, or more threads than pieces.
    ParallelFor(0, 4, [](size_t) { FAIL(); });
    std::atomic<int> single{0};
    ParallelFor(1, 4, [&](size_t) { ++single; });
    EXPECT_EQ(1, single.load());

    // The error comes back on the calling thread, after the others have stopped.
    std::atomic<int> started{0};
    EXPECT_THROW(ParallelFor(1000, 4,
                             [&](size_t i) {
                                 ++started;
                                 if (i == 10) throw std::runtime_error("piece 10");
                                 std::this_thread::sleep_for(std::chrono::milliseconds(1));
                             }),
                 std::runtime_error);
    EXPECT_LT(started.load(), 1000) << "no piece is started once one has failed";
}

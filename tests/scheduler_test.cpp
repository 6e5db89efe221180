#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <vector>

#include "perform/Scheduler.h"

namespace {

struct Played {
    uint32_t event;
    double due;
};

// A scheduler on a clock the test moves itself, recording what it plays.
class SchedulerQueue : public ::testing::Test {
protected:
    static double now() { return clock; }
    static void play(void* self, uint32_t event, double due) {
        static_cast<SchedulerQueue*>(self)->played.push_back({event, due});
    }

    static inline double clock = 0.0;
    std::recursive_mutex lock;
    std::vector<Played> played;
    Scheduler scheduler{now, play, this, lock};
};

}  // namespace

TEST_F(SchedulerQueue, PlaysInTimeOrderAndKeepsTheOrderOfEventsDueTogether) {
    scheduler.add(5, 2.0);
    scheduler.add(1, 1.0);
    scheduler.add(2, 1.0);
    scheduler.add(3, 1.0);
    EXPECT_EQ(scheduler.runDue(0.5), 1.0);
    EXPECT_TRUE(played.empty());
    EXPECT_EQ(scheduler.runDue(1.0), 2.0);
    ASSERT_EQ(played.size(), 3u);
    EXPECT_EQ(played[0].event, 1u);
    EXPECT_EQ(played[1].event, 2u);
    EXPECT_EQ(played[2].event, 3u);
    EXPECT_TRUE(std::isinf(scheduler.runDue(9.0)));
    EXPECT_EQ(played.back().event, 5u);
    EXPECT_EQ(played.back().due, 2.0);
}

TEST_F(SchedulerQueue, CancelEmptiesItAndAFullQueueRefusesMore) {
    for (uint32_t i = 0; i < Scheduler::capacity; ++i) ASSERT_TRUE(scheduler.add(i, 1.0 + i));
    EXPECT_FALSE(scheduler.add(0, 0.5));
    EXPECT_EQ(scheduler.nextDue(), 1.0);
    scheduler.cancel();
    EXPECT_EQ(scheduler.pending(), 0u);
    scheduler.runDue(1e9);
    EXPECT_TRUE(played.empty());
}

// An output that places messages at their frames gets them its period and a wake-up margin early,
// with their due times; a mark for the engine plays when due.
TEST_F(SchedulerQueue, EventsForAnOutputThatWantsThemAheadPlayEarlyMarksWhenDue) {
    scheduler.setAhead([] { return 0.005; });
    scheduler.add(7, 1.0, false);
    scheduler.add(8, 1.0);
    EXPECT_DOUBLE_EQ(scheduler.runDue(0.995), 1.0);
    ASSERT_EQ(played.size(), 1u);
    EXPECT_EQ(played[0].event, 8u);
    EXPECT_EQ(played[0].due, 1.0);
    EXPECT_DOUBLE_EQ(scheduler.lead(), 0.005 + Scheduler::wakeMargin);
}

double clockSeconds();

TEST(SchedulerThread, PlaysEachEventOnceNoEarlierThanDueAndNothingAfterCancel) {
    struct Log {
        std::vector<Played> played;
        std::vector<double> at;
    } log;
    std::recursive_mutex lock;
    Scheduler scheduler{clockSeconds, [](void* self, uint32_t event, double due) {
                            auto& l = *static_cast<Log*>(self);
                            l.played.push_back({event, due});
                            l.at.push_back(clockSeconds());
                        }, &log, lock};
    ASSERT_TRUE(scheduler.start());
    const double start = clockSeconds();
    {
        std::lock_guard guard(lock);
        for (uint32_t i = 0; i < 20; ++i) scheduler.add(i, start + 0.005 * (20 - i));
        scheduler.add(100, start + 10.0);
    }
    while (clockSeconds() < start + 0.2) {
        std::lock_guard guard(lock);
        if (log.played.size() == 20) break;
    }
    {
        std::lock_guard guard(lock);
        scheduler.cancel();
        ASSERT_EQ(log.played.size(), 20u);
        for (uint32_t i = 0; i < 20; ++i) {
            EXPECT_EQ(log.played[i].event, 19 - i);
            EXPECT_GE(log.at[i], log.played[i].due);
        }
    }
    scheduler.stop();
    EXPECT_EQ(log.played.size(), 20u);
}

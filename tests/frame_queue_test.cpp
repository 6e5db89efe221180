// The queue between the sending threads and the JACK process callback, and the clock of the
// server's frames: the frame each message is written at, the order they leave in, nothing lost
// between two threads, and frames' times that the callback's wake-up jitter does not move.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "midi/FrameQueue.h"

namespace {

struct Written {
    uint32_t frame;
    uint8_t status;
    bool operator==(const Written&) const = default;
};

constexpr double rate = 48000.0;
// Cycles of 256 frames; the first from frame 48000, whose time is 1 s.
constexpr uint64_t first = 48000;
constexpr uint64_t second = first + 256;
double at(uint64_t frame) { return static_cast<double>(frame) / rate; }

class FrameQueueCycle : public ::testing::Test {
protected:
    FrameQueueCycle() { clock.cycle(first, rate, 1.0); }
    void push(uint8_t status, double due) {
        const uint8_t bytes[3] = {status, 60, 100};
        ASSERT_TRUE(queue.push(bytes, 3, due));
    }
    std::vector<Written> drain(uint64_t cycle, const FrameClock* times, int writable = 1000) {
        std::vector<Written> written;
        late += queue.drain(cycle, 256, times, [&](uint32_t frame, const uint8_t* bytes, uint8_t length) {
            EXPECT_EQ(length, 3);
            if (writable-- == 0) return false;
            written.push_back({frame, bytes[0]});
            return true;
        });
        return written;
    }
    FrameClock clock;
    FrameQueue queue;
    uint32_t late = 0;
};

}  // namespace

TEST_F(FrameQueueCycle, TimedMessagesLandAtTheFrameOfTheirDueTimeOrWaitForTheirCycle) {
    push(0x90, at(first + 50));
    push(0x91, at(first + 100));
    push(0x92, at(second + 44));
    push(0x93, at(second + 49));
    EXPECT_EQ(drain(first, &clock), (std::vector<Written>{{50, 0x90}, {100, 0x91}}));
    EXPECT_EQ(drain(second, &clock), (std::vector<Written>{{44, 0x92}, {49, 0x93}}));
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(late, 0u);
}

TEST_F(FrameQueueCycle, UntimedAndLateMessagesGoAtTheEarliestFrameAndFramesNeverGoBack) {
    push(0x90, 0);
    push(0x91, at(first - 144));
    push(0x92, at(first + 100));
    push(0x93, at(first + 50));
    EXPECT_EQ(drain(first, &clock), (std::vector<Written>{{0, 0x90}, {0, 0x91}, {50, 0x92}, {50, 0x93}}));
    EXPECT_EQ(late, 1u) << "only the timed message whose frame had passed is late";
    push(0x94, at(second + 100));
    EXPECT_EQ(drain(second, nullptr), (std::vector<Written>{{0, 0x94}})) << "without the frames' times";
}

// A tap's messages are due at its input frame: what was queued before them leaves no later.
TEST_F(FrameQueueCycle, AMessageDueNowTakesThoseQueuedBeforeItAlongToItsFrame) {
    push(0x90, at(first + 20));
    push(0x91, at(second + 300));
    push(0x92, at(first + 100));
    push(0x93, at(second + 10));
    EXPECT_EQ(drain(first, &clock), (std::vector<Written>{{20, 0x90}, {100, 0x91}, {100, 0x92}}));
    push(0xB0, 0);  // a silence
    push(0x94, at(second + 200));
    EXPECT_EQ(drain(second, &clock), (std::vector<Written>{{0, 0x93}, {0, 0xB0}, {200, 0x94}}));
    EXPECT_EQ(late, 0u);
}

TEST_F(FrameQueueCycle, AWriteThatFailsIsRetriedFirstInTheNextCycleAndAFullRingRefuses) {
    push(0x90, 0);
    push(0x91, 0);
    EXPECT_EQ(drain(first, &clock, 1), (std::vector<Written>{{0, 0x90}}));
    EXPECT_EQ(drain(second, &clock), (std::vector<Written>{{0, 0x91}}));
    const uint8_t bytes[3] = {0x90, 60, 100};
    for (uint32_t i = 0; i < FrameQueue::capacity; ++i) ASSERT_TRUE(queue.push(bytes, 3, 0));
    EXPECT_FALSE(queue.push(bytes, 3, 0));
    queue.clear();
    EXPECT_TRUE(queue.empty());
}

TEST(FrameQueueThreads, EveryMessageArrivesOnceAndInOrderWhileBothSidesRun) {
    FrameQueue queue;
    FrameClock clock;
    clock.cycle(first, rate, 1.0);
    constexpr uint32_t count = 200000;
    std::thread sender([&] {
        for (uint32_t i = 0; i < count;) {
            const uint8_t bytes[3] = {static_cast<uint8_t>(0x80 | (i >> 14)), static_cast<uint8_t>((i >> 7) & 127),
                                      static_cast<uint8_t>(i & 127)};
            if (queue.push(bytes, 3, i % 3 ? 0 : at(first + i % 240))) ++i;
            else std::this_thread::yield();
        }
    });
    uint32_t received = 0;
    bool inOrder = true;
    const auto take = [&](uint32_t, const uint8_t* b, uint8_t) {
        inOrder = inOrder && static_cast<uint32_t>((b[0] & 0x7F) << 14 | b[1] << 7 | b[2]) == received;
        ++received;
        return true;
    };
    while (received < count) queue.drain(first, 256, &clock, take);
    sender.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(received, count);
}

TEST(FrameClockTimes, TheEarliestCallbackSetsTheFramesTimesAndOnlyALastingShiftMovesThem) {
    FrameClock clock;
    EXPECT_FALSE(clock.known());
    clock.cycle(0, rate, 10.0);
    clock.cycle(256, rate, 10.0 + at(256) + 0.003);  // woken 3 ms late
    EXPECT_DOUBLE_EQ(clock.timeOf(256), 10.0 + at(256));
    clock.cycle(512, rate, 10.0 + at(512) - 0.0001);  // woken sooner than ever
    EXPECT_DOUBLE_EQ(clock.timeOf(512), 10.0 + at(512) - 0.0001);
    EXPECT_EQ(clock.frameAt(clock.timeOf(123456)), 123456);
    for (uint64_t k = 3; k < 3 + 2 * FrameClock::blockCycles; ++k) clock.cycle(256 * k, rate, 20.0 + at(256 * k) + 0.0002 * (k % 2));
    EXPECT_DOUBLE_EQ(clock.timeOf(0), 20.0) << "frames lost in a stall are followed";
}

// The queue between the sending threads and the JACK process callback: the frame each message is
// written at, the order they leave in, and nothing lost between two threads.

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

// 256 frames in 5120 µs: 20 µs a frame; a cycle starting at 1 s.
constexpr uint64_t start = 1000000;
constexpr FrameQueue::Cycle first{start, start + 5120, 0.0};
constexpr FrameQueue::Cycle second{start + 5120, start + 10240, 0.0};

class FrameQueueCycle : public ::testing::Test {
protected:
    void push(uint8_t status, uint64_t dueUs) {
        const uint8_t bytes[3] = {status, 60, 100};
        ASSERT_TRUE(queue.push(bytes, 3, dueUs));
    }
    std::vector<Written> drain(const FrameQueue::Cycle* cycle, int writable = 1000) {
        std::vector<Written> written;
        queue.drain(256, cycle, [&](uint32_t frame, const uint8_t* bytes, uint8_t length) {
            EXPECT_EQ(length, 3);
            if (writable-- == 0) return false;
            written.push_back({frame, bytes[0]});
            return true;
        });
        return written;
    }
    FrameQueue queue;
};

}  // namespace

TEST_F(FrameQueueCycle, TimedMessagesLandAtTheFrameOfTheirDueTimeOrWaitForTheirCycle) {
    push(0x90, start + 1000);
    push(0x91, start + 2000);
    push(0x92, start + 6000);
    push(0x93, start + 6100);
    EXPECT_EQ(drain(&first), (std::vector<Written>{{50, 0x90}, {100, 0x91}}));
    EXPECT_EQ(drain(&second), (std::vector<Written>{{44, 0x92}, {49, 0x93}}));
    EXPECT_TRUE(queue.empty());
    const FrameQueue::Cycle delayed{start, start + 5120, 1000.0};
    push(0x94, start + 1000);
    EXPECT_EQ(drain(&delayed), (std::vector<Written>{{100, 0x94}})) << "the delay moves every timed message alike";
}

TEST_F(FrameQueueCycle, UntimedLateOrUnplaceableMessagesGoAtTheEarliestFrameAndFramesNeverGoBack) {
    push(0x90, 0);
    push(0x91, start - 3000);
    push(0x92, start + 2000);
    push(0x93, start + 1000);
    EXPECT_EQ(drain(&first), (std::vector<Written>{{0, 0x90}, {0, 0x91}, {100, 0x92}, {100, 0x93}}));
    push(0x94, start + 6000);
    EXPECT_EQ(drain(nullptr), (std::vector<Written>{{0, 0x94}})) << "without the cycle's times";
}

TEST_F(FrameQueueCycle, AnUntimedMessageTakesTheTimedOnesBeforeItAlongAtOnce) {
    push(0x90, start + 3000);
    push(0x91, start + 9000);
    push(0xB0, 0);  // a silence
    push(0x92, start + 4000);
    EXPECT_EQ(drain(&first), (std::vector<Written>{{0, 0x90}, {0, 0x91}, {0, 0xB0}, {200, 0x92}}));
}

TEST_F(FrameQueueCycle, AWriteThatFailsIsRetriedFirstInTheNextCycleAndAFullRingRefuses) {
    push(0x90, 0);
    push(0x91, 0);
    EXPECT_EQ(drain(&first, 1), (std::vector<Written>{{0, 0x90}}));
    EXPECT_EQ(drain(&second), (std::vector<Written>{{0, 0x91}}));
    const uint8_t bytes[3] = {0x90, 60, 100};
    for (uint32_t i = 0; i < FrameQueue::capacity; ++i) ASSERT_TRUE(queue.push(bytes, 3, 0));
    EXPECT_FALSE(queue.push(bytes, 3, 0));
    queue.clear();
    EXPECT_TRUE(queue.empty());
}

TEST(FrameQueueThreads, EveryMessageArrivesOnceAndInOrderWhileBothSidesRun) {
    FrameQueue queue;
    constexpr uint32_t count = 200000;
    std::thread sender([&] {
        for (uint32_t i = 0; i < count;) {
            const uint8_t bytes[3] = {static_cast<uint8_t>(0x80 | (i >> 14)), static_cast<uint8_t>((i >> 7) & 127),
                                      static_cast<uint8_t>(i & 127)};
            if (queue.push(bytes, 3, i % 3 ? 0 : start + i % 5000)) ++i;
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
    while (received < count) {
        queue.drain(256, &first, take);
        queue.drain(256, &second, take);
    }
    sender.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(received, count);
}

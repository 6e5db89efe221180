// MIDI input through a JACK cycle, as the process callback runs it: what an input event produces
// leaves in the same cycle at the frame the event arrived at, the take keeps the event's time, and
// an event met while another thread holds the engine is handled in the next cycle, its time kept.

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "EngineTest.h"
#include "midi/platform.h"

using recording::FramedList;

class InputFrames : public EngineTest {
protected:
    InputFrames() {
        load(SongBuilder().note(0, 0.25, 60, 100, 0, true).note(0, 0.25, 64, 50).note(1, 0.25, 67, 100, 0, true));
        recording::state().jack = &n;
    }
    static constexpr MidiMessage pedal{0xB0, 64, 127};
};

TEST_F(InputFrames, ATapAReleaseAndPassThroughLeaveInTheSameCycleAtTheFrameTheyArrived) {
    EXPECT_EQ(recording::cycle({{100, noteOn(0, 70, 90)}}), (FramedList{{100, noteOn(0, 60, 90)}, {100, noteOn(0, 64, 45)}}));
    EXPECT_EQ(recording::cycle({{37, pedal}, {200, noteOff(0, 70)}}),
              (FramedList{{37, pedal}, {200, noteOff(0, 60)}, {200, noteOff(0, 64)}}));
    const Take take = n.take.handOver();
    ASSERT_EQ(take.messages.size(), 5u);
    EXPECT_DOUBLE_EQ(take.messages[0].time, 100.0 + 100 / 48000.0) << "the take keeps the tap at its frame";
    EXPECT_DOUBLE_EQ(take.messages[4].time, 100.0 + 456 / 48000.0);
    EXPECT_EQ(platform::delays().lateOutput, 0u);
}

TEST_F(InputFrames, AnEventMetWhileAnotherThreadHoldsTheEngineIsHandledInTheNextCycleWithItsTimeKeptOnceAndInOrder) {
    FramedList busy{{0, pedal}};
    {
        std::lock_guard guard(n.engineLock);
        std::thread([&] { busy = recording::cycle({{100, noteOn(0, 70, 90)}}); }).join();
    }
    EXPECT_EQ(busy, FramedList{});
    EXPECT_EQ(recording::cycle({{10, noteOff(0, 70)}}), (FramedList{{0, noteOn(0, 60, 90)}, {0, noteOn(0, 64, 45)},
                                                                    {10, noteOff(0, 60)}, {10, noteOff(0, 64)}}));
    EXPECT_EQ(recording::cycle(), FramedList{});
    EXPECT_DOUBLE_EQ(n.take.handOver().messages[0].time, 100.0 + 100 / 48000.0);
    EXPECT_EQ(platform::delays().waitedInput, 1u);
    EXPECT_EQ(platform::delays().lateOutput, 2u) << "the tap's two notes left after their frame";

    n.delayReport.check(platform::delays());
    EXPECT_EQ(dir.log(), "") << "logged once the burst is over";
    n.delayReport.flush(platform::delays());
    EXPECT_EQ(dir.log(), "JACK output: 2 timed messages came after their frame and went at the earliest frame\n"
                         "JACK input: 1 events waited for the engine and were handled in a later cycle\n");
}

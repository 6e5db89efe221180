// MIDI input through a JACK cycle, as the process callback runs it: what an input event produces
// leaves in the same cycle at the frame the event arrived at, the event's time is the time of its
// frame, an event met while the engine is busy waits for a later cycle with its time kept, and a
// followed note due between two taps leaves between their frames.

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <thread>

#include "EngineTest.h"
#include "midi/platform.h"

using recording::InputEvent;
using recording::Written;
using WrittenList = std::vector<Written>;

namespace {

constexpr uint32_t period = 256;

// A two-note chord every half second, then with a bass (part 1) between the chords.
SongBuilder chords(bool withBass = false) {
    SongBuilder song;
    for (int k = 0; k < 4; ++k) {
        song.note(0.5 * k, 0.25, 60, 100, 0, true).note(0.5 * k, 0.25, 64, 50);
        if (withBass) song.note(0.5 * k + 0.25, 0.1, static_cast<uint8_t>(36 + k), 90, 1, false, 1);
    }
    return song;
}

MidiMessage control(uint8_t controller, uint8_t value) { return {0xB0, controller, value}; }

}  // namespace

class InputFrames : public EngineTest {
protected:
    InputFrames() {
        load(chords());
        recording::state().jack = &n;
    }
    // Runs cycles until the absolute frame `until`; the notes written, at absolute frames.
    WrittenList runUntil(uint64_t until) {
        WrittenList notes;
        while (cycleStart < until) {
            const uint64_t start = cycleStart;
            for (const Written& w : cycle({})) notes.push_back({static_cast<uint32_t>(start + w.frame), w.message});
        }
        return notes;
    }
    WrittenList cycle(const std::vector<InputEvent>& input) {
        cycleStart += period;
        return recording::cycle(period, input, 100.0);
    }
    uint64_t cycleStart = 0;  // the absolute frame the next cycle begins with
};

TEST_F(InputFrames, ATapAReleaseAndPassThroughLeaveInTheSameCycleAtTheFrameTheyArrived) {
    EXPECT_EQ(cycle({{100, noteOn(0, 70, 90)}}), (WrittenList{{100, noteOn(0, 60, 90)}, {100, noteOn(0, 64, 45)}}));
    const double tapped = recording::frameTime(100);
    EXPECT_EQ(cycle({{37, control(64, 127)}, {200, noteOff(0, 70)}}),
              (WrittenList{{37, control(64, 127)}, {200, noteOff(0, 60)}, {200, noteOff(0, 64)}}));
    const Take take = n.take.handOver();
    ASSERT_EQ(take.messages.size(), 5u);
    EXPECT_DOUBLE_EQ(take.messages[0].time, tapped) << "the take keeps the tap at its frame";
    EXPECT_NEAR(take.messages[4].time - take.messages[0].time, (period + 100) / recording::cycleRate, 1e-9);
    EXPECT_EQ(platform::delays().lateOutput, 0u);
}

TEST_F(InputFrames, AnEventMetWhileAnotherThreadHoldsTheEngineIsHandledInTheNextCycleWithItsTimeKeptOnceAndInOrder) {
    WrittenList busy;
    {
        std::lock_guard guard(n.engineLock);
        std::thread([&] { busy = cycle({{100, noteOn(0, 70, 90)}}); }).join();
    }
    const double arrived = recording::frameTime(100);
    EXPECT_EQ(busy, WrittenList{});
    EXPECT_EQ(cycle({{10, noteOff(0, 70)}}), (WrittenList{{0, noteOn(0, 60, 90)}, {0, noteOn(0, 64, 45)},
                                                         {10, noteOff(0, 60)}, {10, noteOff(0, 64)}}));
    EXPECT_EQ(cycle({}), WrittenList{});
    EXPECT_DOUBLE_EQ(n.take.handOver().messages[0].time, arrived);
    EXPECT_EQ(platform::delays().waitedInput, 1u);
    EXPECT_EQ(platform::delays().lateOutput, 2u) << "the tap's two notes left after their frame";

    n.delayReport.check(platform::delays());
    EXPECT_EQ(dir.log(), "") << "logged once the burst is over";
    n.delayReport.check(platform::delays());
    n.delayReport.flush(platform::delays());
    EXPECT_EQ(dir.log(), "JACK output: 2 timed messages came after their frame and went at the earliest frame\n"
                         "JACK input: 1 events waited for the engine and were handled in a later cycle\n");
}

// The scheduler hands the bass over at once here; the output holds it until its frame.
TEST_F(InputFrames, AFollowedNoteDueBetweenTwoTapsLeavesBetweenTheirFrames) {
    load(chords(true));
    n.meta->parts.attach(*n.song);
    n.meta->parts.setRole(1u, Role::Follow);
    n.meta->parts.apply();
    recording::state().ahead = period / recording::cycleRate;
    constexpr uint64_t first = 10, second = first + 25001;
    cycle({{first, noteOn(0, 70, 100)}});
    runUntil(second - second % period);
    cycle({{second % period, noteOn(0, 70, 100)}});
    n.scheduler.runDue(1e12);
    const WrittenList written = runUntil(second + 20000);
    const auto bass = std::find_if(written.begin(), written.end(), [](const Written& w) { return w.message == noteOn(1, 37, 90); });
    ASSERT_NE(bass, written.end());
    EXPECT_NEAR(static_cast<double>(bass->frame), second + (second - first) / 2.0, 1.0);
}

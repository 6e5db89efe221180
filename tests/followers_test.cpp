// The performer's tempo from the taps, and the Follow events handed to the scheduler at each tap:
// stretched by that tempo, stopped at the next group when the performer is late, and sent at once
// when the performer is early.

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "perform/Followers.h"
#include "support/SongBuilder.h"

TEST(TapTempo, IsOneUntilTheSecondTapThenWallTimeOverSongTime) {
    TapTempo tempo;
    EXPECT_EQ(tempo.ratio(), 1.0);
    tempo.tap(10.0, 0.0);
    EXPECT_EQ(tempo.ratio(), 1.0);
    tempo.tap(10.5, 1.0);  // steady at twice the song's tempo
    EXPECT_DOUBLE_EQ(tempo.ratio(), 0.5);
    tempo.tap(11.0, 2.0);
    tempo.tap(11.5, 3.0);
    EXPECT_DOUBLE_EQ(tempo.ratio(), 0.5);
}

TEST(TapTempo, SpeedingUpFollowsTheMedianOfTheLastThreeRatios) {
    TapTempo tempo;
    double at = 0;
    tempo.tap(at, 0.0);
    const double spans[] = {1.0, 0.9, 0.8, 0.7};
    for (int k = 0; k < 4; ++k) tempo.tap(at += spans[k], k + 1.0);
    EXPECT_DOUBLE_EQ(tempo.ratio(), 0.8) << "the median of 0.9, 0.8 and 0.7";
}

TEST(TapTempo, APauseIsOutvotedAndRatiosStayWithinAQuarterAndFour) {
    TapTempo tempo;
    tempo.tap(0.0, 0.0);
    tempo.tap(1.0, 1.0);
    tempo.tap(2.0, 2.0);
    tempo.tap(12.0, 3.0);  // the performer stopped for ten seconds
    EXPECT_DOUBLE_EQ(tempo.ratio(), 1.0);
    tempo.tap(13.0, 4.0);
    EXPECT_DOUBLE_EQ(tempo.ratio(), 1.0);

    TapTempo slow;
    slow.tap(0.0, 0.0);
    slow.tap(10.0, 1.0);
    EXPECT_EQ(slow.ratio(), TapTempo::slowest);
    TapTempo fast;
    fast.tap(0.0, 0.0);
    fast.tap(0.01, 1.0);
    EXPECT_EQ(fast.ratio(), TapTempo::fastest);
}

TEST(TapTempo, TwoGroupsAtOneSongTimeMeasureFromTheFirst) {
    TapTempo tempo;
    tempo.tap(0.0, 0.0);
    tempo.tap(0.2, 0.0);
    EXPECT_EQ(tempo.ratio(), 1.0);
    tempo.tap(1.0, 0.5);
    EXPECT_DOUBLE_EQ(tempo.ratio(), 2.0);
}

namespace {

struct Sent {
    uint32_t event;
    double due;
};

// Melody (instrument 0, Play) on each half second, bass (instrument 1, Follow) on each eighth of
// a second from 0 to 1.75 s. Events at one time: the bass's Note Off, then Note Ons in the order
// added (melody first).
class Following : public ::testing::Test {
protected:
    Following() {
        SongBuilder b;
        for (int k = 0; k < 4; ++k) b.note(0.5 * k, 0.25, static_cast<uint8_t>(72 + k), 100, 0, true, 0);
        for (int k = 0; k < 16; ++k) b.note(0.125 * k, 0.0625, static_cast<uint8_t>(36 + k), 100, 1, false, 1);
        b.build(song);
        parts.attach(song);
        parts.setRole(1u, Role::Follow);
        parts.apply();
        for (uint32_t i = 0; i < song.numEvents; ++i)
            if (song.events[i].start) groups.push_back(&song.events[i]);
    }
    static double now() { return 0; }
    static void play(void* self, uint32_t event, double due) {
        auto& f = *static_cast<Following*>(self);
        f.sent.push_back({event, due});
        f.followers.played(event);
    }
    const Event* group(size_t k) const { return k < groups.size() ? groups[k] : nullptr; }
    void tap(size_t k, double at) {
        followers.tap(song, parts, static_cast<uint32_t>(groups[k]->index), group(k), group(k + 1), at);
    }
    // Every Follow Note On sent has its Note Off sent after it, and nothing else is sent.
    void expectEveryFollowNoteEnded() const {
        std::vector<int> open(128, 0);
        for (const Sent& s : sent) {
            const Event& e = song.events[s.event];
            ASSERT_EQ(parts.roleOf(e), Role::Follow);
            open[e.pitch] += e.isNoteOn() ? 1 : -1;
            EXPECT_GE(open[e.pitch], 0) << "a Note Off before its Note On";
        }
        for (int pitch = 0; pitch < 128; ++pitch) EXPECT_EQ(open[pitch], 0) << pitch;
    }
    std::vector<double> songTimes() const {
        std::vector<double> times;
        for (const Sent& s : sent) times.push_back(song.events[s.event].time);
        return times;
    }

    Song song;
    Parts parts;
    std::vector<const Event*> groups;
    std::vector<Sent> sent;
    std::recursive_mutex lock;
    Scheduler scheduler{now, play, this, lock};
    Followers followers{scheduler, play, this};
};

}  // namespace

TEST_F(Following, EventsAtTheTapGoAtOnceAndTheRestUpToTheNextGroupAreStretched) {
    tap(0, 100.0);
    ASSERT_EQ(sent.size(), 1u) << "the bass Note On under the first melody note";
    EXPECT_EQ(sent[0].due, 0.0);
    EXPECT_EQ(scheduler.pending(), 7u) << "the rest of the first half second, nothing of the next group";
    scheduler.runDue(1e9);
    EXPECT_EQ(sent.size(), 8u);
    EXPECT_LT(song.events[sent.back().event].time, 0.5);

    // The second tap 0.25 s after the first: twice the song's tempo.
    sent.clear();
    tap(1, 100.25);
    EXPECT_DOUBLE_EQ(followers.ratio(), 0.5);
    scheduler.runDue(1e9);
    ASSERT_EQ(sent.size(), 8u);
    for (const Sent& s : sent) {
        const double songTime = song.events[s.event].time;
        if (songTime == 0.5) EXPECT_EQ(s.due, 0.0);
        else EXPECT_DOUBLE_EQ(s.due, 100.25 + (songTime - 0.5) * 0.5) << songTime;
    }
}

TEST_F(Following, ALatePerformerFindsTheFollowersWaitingAtTheNextGroup) {
    for (size_t k = 0; k < 4; ++k) {
        tap(k, 10.0 * k);
        scheduler.runDue(10.0 * k + 9.0);
        EXPECT_EQ(scheduler.pending(), 0u);
        const std::vector<double> times = songTimes();
        EXPECT_LT(times.back(), k < 3 ? 0.5 * (k + 1) : 2.0) << "tap " << k;
    }
    expectEveryFollowNoteEnded();
    EXPECT_EQ(sent.size(), 32u);
}

TEST_F(Following, AnEarlyPerformerGetsThePendingEventsAtOnceInOrderBeforeTheNewGroup) {
    tap(0, 0.0);
    scheduler.runDue(0.2);  // the bass notes at 0 and 0.125 s have played
    const size_t played = sent.size();
    tap(1, 0.3);  // the rest of the first half second is still waiting
    for (size_t i = played; i < sent.size(); ++i) EXPECT_EQ(sent[i].due, 0.0);
    const std::vector<double> times = songTimes();
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
    EXPECT_EQ(times.back(), 0.5) << "then the second group's own bass note";
    tap(2, 0.35);
    tap(3, 0.4);
    scheduler.runDue(1e9);
    expectEveryFollowNoteEnded();
    EXPECT_EQ(sent.size(), 32u);
}

TEST_F(Following, AJumpBeginsAfreshAndAStopForgetsWhatWasHanded) {
    tap(0, 0.0);
    tap(1, 1.0);
    EXPECT_DOUBLE_EQ(followers.ratio(), 2.0);
    tap(3, 2.0);  // not the group expected next: the tempo starts again
    EXPECT_EQ(followers.ratio(), 1.0);

    scheduler.cancel();
    followers.stop();
    sent.clear();
    tap(0, 5.0);
    EXPECT_EQ(sent.size(), 1u) << "nothing of before the stop is sent again";
}

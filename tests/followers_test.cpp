// The performer's tempo and phase from the taps, and the Follow events handed to the scheduler at
// each tap: placed by that tempo, stopped at the next group when the performer is late, and sent at
// once when the performer is early.

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "app/LogQueue.h"
#include "perform/Followers.h"
#include "support/SongBuilder.h"

namespace {

// Taps beats half a second of song apart from 100 s on, the k-th lasting length(k); returns when
// the next beat is due.
template <class Length>
double tapBeats(TempoTracker& tracker, int count, Length length) {
    double at = 100.0;
    for (int k = 0; k < count; ++k, at += length(k - 1)) tracker.tap(at, 0.5 * k, 0.5 * (k + 1));
    return at;
}

double steady(int) { return 0.625; }
double ritardando(int k) { return 0.5 / (1.0 - 0.0125 * std::max(0, k - 4)); }

}  // namespace

TEST(TempoTracker, StartsAtTheStartTempoKeepsASteadyOneAndAnticipatesARitardando) {
    TempoTracker tracker;
    tracker.restart(1.25);
    tapBeats(tracker, 1, steady);
    EXPECT_EQ(tracker.ratio(), 1.25) << "the first tap says nothing of the tempo";
    const double due = tapBeats(tracker, 8, steady);
    EXPECT_NEAR(tracker.line().at(4.0), due, 1e-9);

    TempoTracker slowing;
    const double late = tapBeats(slowing, 14, ritardando);
    EXPECT_NEAR(slowing.line().at(7.0), late, 0.002) << "the last ratio alone would be 8 ms early";
}

TEST(TempoTracker, SettlesTwoTapsAfterAStepAndStartsAfreshAfterAPause) {
    TempoTracker tracker;
    const double due = tapBeats(tracker, 8, [](int k) { return k < 5 ? 0.5 : 0.5 / 0.9; });
    EXPECT_NEAR(tracker.line().at(4.0), due, 1e-4);

    tracker.tap(due + 5.0, 4.0, 4.5);
    EXPECT_EQ(tracker.taps(), 1u);
    EXPECT_EQ(tracker.ratio(), 1.0) << "a pause is not a tempo";
}

TEST(TempoTracker, ASplitChordAndGraceNotesSayNothingAboutTheTempo) {
    TempoTracker tracker;
    tapBeats(tracker, 4, steady);
    const TimeLine before = tracker.line();
    tracker.tap(before.wallTime + 0.2, 1.5, 2.0);
    EXPECT_EQ(tracker.line().at(2.0), before.at(2.0));

    // Grace notes 30 ms of song apart, tapped 150 ms apart, before a beat at the song's tempo: the
    // median of the last three ratios made that 4.
    TempoTracker graces;
    const double taps[][3] = {{0.0, 0.0, 0.03}, {0.15, 0.03, 0.06}, {0.3, 0.06, 0.56}, {0.8, 0.56, 1.06}};
    for (const auto& t : taps) graces.tap(t[0], t[1], t[2]);
    EXPECT_NEAR(graces.ratio(), 1.0, 0.1);
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
    LogQueue log;
    Scheduler scheduler{now, play, this, lock};
    Followers followers{scheduler, play, this, log};
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
    EXPECT_NEAR(followers.tracker().ratio(), 0.5, 1e-9);
    scheduler.runDue(1e9);
    ASSERT_EQ(sent.size(), 8u);
    for (const Sent& s : sent) {
        const double songTime = song.events[s.event].time;
        if (songTime == 0.5) EXPECT_EQ(s.due, 0.0);
        else EXPECT_NEAR(s.due, 100.25 + (songTime - 0.5) * 0.5, 1e-9) << songTime;
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
    EXPECT_NEAR(followers.tracker().ratio(), 2.0, 1e-9);
    tap(3, 2.0);  // not the group expected next: the tempo starts again
    EXPECT_EQ(followers.tracker().ratio(), 1.0);

    scheduler.cancel();
    followers.stop();
    sent.clear();
    tap(0, 5.0);
    EXPECT_EQ(sent.size(), 1u) << "nothing of before the stop is sent again";
}

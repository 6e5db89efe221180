#pragma once
// The parts Nolari plays while the performer taps another: at each tap the Follow events from
// the tapped group's song time up to the next group's are handed to the scheduler, their song
// times stretched by the performer's tempo. A Follow event at song time s is due at
// T + (s - t) * r, where T is the tap's wall-clock time, t its group's song time and r the
// performer's seconds per song second (TapTempo).
//
// A late performer: the followers stop at the next group's song time and wait for its tap. An
// early one: the Follow events still pending are sent at once, in order, before the new group,
// so that none is lost and every Follow Note On meets its Note Off.
//
// Called with the engine lock held; nothing allocates.

#include <cstdint>

#include "perform/Scheduler.h"
#include "song/Parts.h"

// The performer's tempo from the taps: the ratio of wall-clock time to song time between the
// last two taps, the median of the last three such ratios once there are three, kept within
// 0.25 .. 4; 1 until the second tap.
class TapTempo {
public:
    static constexpr double slowest = 4.0;
    static constexpr double fastest = 0.25;

    // A tap at wall-clock time `at` of the group at song time `songTime`.
    void tap(double at, double songTime);
    void reset() { taps_ = ratios_ = 0; }
    double ratio() const;

private:
    double lastAt_ = 0, lastSongTime_ = 0;
    double ratio_[3] = {};
    uint32_t taps_ = 0;
    uint32_t ratios_ = 0;
};

class Followers {
public:
    // How an event is sent at once: the scheduler's own player, with due 0.
    Followers(Scheduler& scheduler, Scheduler::Player player, void* context)
        : scheduler_(scheduler), player_(player), context_(context) {}

    // A tap at wall-clock time `now` from event `from` (the position) that plays the group
    // beginning at `group` (null at the end of the song), followed by the group at `next` (null
    // for the last group).
    void tap(const Song& song, const Parts& parts, uint32_t from, const Event* group, const Event* next, double now);
    // The scheduler played this event.
    void played(uint32_t event) {
        if (event >= nextToPlay_ && event < handedTo_) nextToPlay_ = event + 1;
    }
    // Forgets what was handed over and the tempo; for when the scheduler's queue was emptied
    // and the output silenced.
    void stop();
    double ratio() const { return tempo_.ratio(); }

private:
    void sendPendingNow(const Song& song, const Parts& parts);
    void handOver(const Song& song, const Parts& parts, uint32_t begin, const Event* group, const Event* next,
                  double now);

    Scheduler& scheduler_;
    Scheduler::Player player_;
    void* context_;
    TapTempo tempo_;
    // Follow events before handedTo_ have been handed over; those from nextToPlay_ on still wait
    // in the scheduler.
    uint32_t nextToPlay_ = 0;
    uint32_t handedTo_ = 0;
    // The group the next tap continues with; any other group begins afresh.
    const Event* expected_ = nullptr;
};

#pragma once
// How the performer's tempo went: one point per tap, at the tapped group's time in the song, with
// the performer's tempo there as a percentage of the song's. A jump breaks the line and hides the
// curve until a tap after it gives a point again; a load clears it.
//
// Points are added by the tapping thread (the MIDI-input thread too) under the engine lock, into
// room made at construction, so adding allocates nothing. The display copies the count under the
// lock and then reads the points below it without the lock: a point once added is never changed,
// and clear() runs on the GUI thread, which draws.

#include <cstdint>
#include <memory>

struct TempoPoint {
    double songTime = 0;
    float percent = 0;
    bool joined = false;  // the line comes to it from the point before
};

class TempoCurve {
public:
    // A point for every tap of a few hours of playing; when full, taps add nothing more.
    static constexpr uint32_t defaultCapacity = 65536;

    explicit TempoCurve(uint32_t capacity = defaultCapacity);

    // A tap's point; a tap whose percent is 0 or less said nothing about the tempo and adds none.
    void add(double songTime, double percent);
    void breakLine();
    void clear();

    bool shown() const { return shown_; }
    uint32_t size() const { return count_; }
    const TempoPoint* points() const { return points_.get(); }

private:
    std::unique_ptr<TempoPoint[]> points_;
    uint32_t capacity_;
    uint32_t count_ = 0;
    bool joining_ = false;
    bool shown_ = false;
};

// The performer's tempo at a tap, from the taps' clock times and their groups' song times.
class PerformerTempo {
public:
    // Spans of the song shorter than this (a chord split into groups, a grace note) are too short
    // to tell a tempo by: the tap after one is measured from the tap before it.
    static constexpr double shortestSpan = 0.05;

    // The tempo since the last tap measured from, as a percentage of the song's; 0 for the first
    // tap after a reset and for a span too short to tell.
    double percentAt(double songTime, double clockTime);
    void reset() { measured_ = false; }

private:
    bool measured_ = false;
    double songTime_ = 0;
    double clockTime_ = 0;
};

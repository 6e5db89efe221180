#pragma once
// The metronome: clicks on the song's beats, through the scheduler and the output, on the General
// MIDI percussion channel: an accented sound on the first beat of a bar, a softer one on the
// others. It clicks a count-in (one bar at the start tempo, ending on the beat where the current
// group falls), along with listening, and, switched On, along with the performer at the tempo the
// tracker predicts, up to the next group, as a Follow part does.
//
// Clicks go out past the take and past the table of sounding song notes: they are no part of the
// music played. Everything that silences stops them, and ends a click still sounding at once.
//
// One click waits in the scheduler at a time: playing its Note On queues its Note Off and the next
// click, so that clicks for any length of time cost the queue three entries. A new run of clicks
// makes those already queued stale: each entry carries the number of its run.
//
// Called with the engine lock held; nothing allocates.

#include <cstdint>

#include "midi/Output.h"
#include "perform/Scheduler.h"
#include "perform/TempoTracker.h"
#include "song/TempoMap.h"

class Metronome {
public:
    static constexpr uint8_t channel = 9;        // General MIDI percussion
    static constexpr uint8_t accentNote = 76;    // Hi Wood Block
    static constexpr uint8_t beatNote = 77;      // Low Wood Block
    static constexpr uint8_t accentVelocity = 120;
    static constexpr uint8_t beatVelocity = 80;
    static constexpr double clickSeconds = 0.05;
    // A count-in's first click waits this long, so that it is placed at its time rather than late.
    static constexpr double countInDelay = 0.1;

    Metronome(Scheduler& scheduler, Output& output) : scheduler_(scheduler), output_(output) {}

    // Scheduler entries of the metronome lie from firstEntry on, below the listen and batch marks.
    static bool isClick(uint32_t entry) { return entry >= firstEntry && entry <= lastEntry; }

    // Clicks every beat from song time `from` up to (not at) `to`, each at line.at(its time), the
    // one at `from` itself at fromWall (a tap's time). Bar starts are accented.
    void follow(const TempoMap& map, const TimeLine& line, double from, double to, double fromWall);
    // A count-in from now: one bar of clicks (more when Follow events begin earlier, at
    // introStart) ending on the beat where the group at groupTime falls, at `ratio` wall seconds
    // per song second; its first click is accented. Returns the wall time at which groupTime falls.
    double countIn(const TempoMap& map, double groupTime, double introStart, double ratio, double now);
    // The scheduler reached one of the metronome's entries.
    void play(uint32_t entry, const TempoMap& map, double due);
    // No more clicks; a sounding one ends now.
    void stop();
    // Clicks are queued or sounding.
    bool running() const { return running_ || sounding_ != 0; }

private:
    static constexpr uint32_t firstEntry = 0xE0000000;
    static constexpr uint32_t runMask = 0x07FFFFFF;
    static constexpr uint32_t lastEntry = firstEntry + (runMask << 1 | 1);

    void start(const TimeLine& line, const Beat& first, double to, double firstWall, bool countIn);
    void queueClick(double due);
    void click(const TempoMap& map, double due);
    void endClick(double due);

    Scheduler& scheduler_;
    Output& output_;
    uint32_t run_ = 0;
    bool running_ = false;
    TimeLine line_;
    Beat next_;
    double to_ = 0.0;
    // A count-in accents its own first beat, not the song's bar starts.
    bool countIn_ = false;
    bool firstOfRun_ = false;
    // The note of the click sounding (0 for none) and the run it belongs to.
    uint8_t sounding_ = 0;
    uint32_t soundingRun_ = 0;
};

#pragma once
// Time both ways: seconds from ticks and ticks from seconds under the song's tempo changes, and the
// beats and bars its time signatures lay down, for the metronome and the performer's tempo.
//
// A beat is the time signature's note value (a quarter in 4/4, an eighth in 3/8), or a dotted one
// in compound time (6/8, 9/8, 12/8 count in dotted quarters). A song without a time signature is in
// 4/4, as the file format says. Before the song's start the first tempo and time signature carry on
// backwards, so that a count-in can click the bar before the first note.
//
// Built once per song (it allocates then); its queries allocate nothing.

#include <cstdint>
#include <vector>

class Song;

struct TimeSignature {
    uint32_t ticks = 0;
    uint8_t numerator = 4;
    uint8_t denominatorPower = 2;  // the denominator is 2 to this power
};

struct Beat {
    double time = 0.0;  // seconds
    double ticks = 0.0;
    bool barStart = false;
};

class TempoMap {
public:
    TempoMap();
    void build(const Song& song);

    double seconds(double ticks) const;
    double ticks(double seconds) const;

    // The first beat at or after the time, the one after a beat, and the one before it.
    Beat beatAtOrAfter(double seconds) const;
    Beat nextBeat(const Beat& beat) const;
    Beat previousBeat(const Beat& beat) const;
    // Beats in a bar at the time: the bar after it when the bar there is a short one (a pickup).
    uint32_t beatsPerBar(double seconds) const;
    // Beats per minute at the time.
    double beatsPerMinute(double seconds) const;

private:
    struct Tempo {
        double ticks;
        double seconds;
        double secondsPerTick;
    };
    struct Meter {
        double ticks;
        double beatTicks;
        uint32_t beatsPerBar;
    };

    const Tempo& tempoAtTicks(double ticks) const;
    const Meter& meterAtTicks(double ticks) const;
    Beat beatAt(const Meter& meter, double index) const;
    Beat beatAtOrAfterTicks(double ticks) const;

    std::vector<Tempo> tempos_;
    std::vector<Meter> meters_;
};

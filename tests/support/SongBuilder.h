#pragma once
// Fills a Song's event array directly, for tests of the parts that play, navigate and draw a song
// without going through a MIDI file. Times are in seconds; ticks are milliseconds.

#include <cstdint>
#include <vector>

#include "song/Song.h"

class SongBuilder {
public:
    // A note from time to time + length. groupStart flags its note-on as a group start.
    SongBuilder& note(double time, double length, uint8_t pitch, uint8_t velocity = 100, uint8_t channel = 0,
                      bool groupStart = false, uint32_t instrument = 0);
    SongBuilder& channelEvent(double time, uint8_t stat, uint8_t channel, uint8_t data1, uint8_t data2);
    SongBuilder& tempo(double time, uint32_t microsecondsPerQuarter = 500000);

    // Replaces the song's contents; events at equal times keep the order in which they were added,
    // except that note-offs come before note-ons at the same time.
    void build(Song& song) const;

private:
    struct Item {
        Event event;
        int partner;  // index of the paired item, -1 for none
        int order;
    };
    std::vector<Item> items_;
};

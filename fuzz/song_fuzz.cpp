// Feeds arbitrary bytes to the MIDI file reader, then checks what a loaded song promises and gives
// it its default grouping.

#include <cmath>
#include <cstdint>

#include "FuzzInput.h"
#include "song/Meta.h"
#include "song/Song.h"

namespace {

void checkLoaded(const Song& song) {
    REQUIRE(song.numEvents > 0 && song.events[0].isFirst && song.lastEvent == &song.events[song.numEvents - 1]);
    REQUIRE(song.lastEvent->isLast);
    for (uint32_t i = 0; i < song.numEvents; ++i) {
        const Event& e = song.events[i];
        REQUIRE(e.index == i && e.pitch < 128 && e.vel < 128 && e.chan < 16);
        REQUIRE(std::isfinite(e.time) && e.time >= 0);
        if (i > 0) REQUIRE(e.ticks >= song.events[i - 1].ticks && e.time >= song.events[i - 1].time);
        if (e.isNote()) {
            REQUIRE(e.inst < song.numInstruments && e.other && e.other->other == &e);
            REQUIRE(e.other->chan == e.chan && e.other->pitch == e.pitch && e.other->isNoteOn() != e.isNoteOn());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Song song;
    if (song.loadFromBytes(data, size, "song.mid")) {
        checkLoaded(song);
        Meta meta;
        meta.histogramFile.clear();
        meta.findDefaultGroups(song);
        uint32_t starts = 0;
        for (uint32_t i = 0; i < song.numEvents; ++i) starts += song.events[i].start;
        REQUIRE(starts == song.numGroups);
    } else {
        REQUIRE(song.numEvents == 0 && !song.events && !song.instruments);
    }
    return 0;
}

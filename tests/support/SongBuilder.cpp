#include "support/SongBuilder.h"

#include <algorithm>
#include <cmath>

namespace {

Event makeEvent(double time, uint8_t type, uint8_t stat, uint8_t chan, uint8_t pitch, uint8_t vel) {
    Event e{};
    e.time = time;
    e.ticks = static_cast<uint32_t>(std::lround(time * 1000));
    e.type = type;
    e.stat = stat;
    e.chan = chan;
    e.pitch = pitch;
    e.vel = vel;
    return e;
}

}  // namespace

SongBuilder& SongBuilder::note(double time, double length, uint8_t pitch, uint8_t velocity, uint8_t channel,
                               bool groupStart, uint32_t instrument) {
    const int on = static_cast<int>(items_.size());
    Event noteOn = makeEvent(time, TYPE_NOTE, 0x90, channel, pitch, velocity);
    noteOn.start = groupStart ? 1 : 0;
    noteOn.inst = instrument;
    Event noteOff = makeEvent(time + length, TYPE_NOTE, 0x80, channel, pitch, 0);
    noteOff.inst = instrument;
    items_.push_back({noteOn, on + 1, on});
    items_.push_back({noteOff, on, on + 1});
    return *this;
}

SongBuilder& SongBuilder::channelEvent(double time, uint8_t stat, uint8_t channel, uint8_t data1, uint8_t data2) {
    const int order = static_cast<int>(items_.size());
    items_.push_back({makeEvent(time, TYPE_CHANNEL, stat, channel, data1, data2), -1, order});
    return *this;
}

SongBuilder& SongBuilder::tempo(double time, uint32_t microsecondsPerQuarter) {
    const int order = static_cast<int>(items_.size());
    Event e = makeEvent(time, TYPE_TEMPO, 0xF0, 15, 0x51, 0);
    e.tempo = microsecondsPerQuarter;
    items_.push_back({e, -1, order});
    return *this;
}

void SongBuilder::build(Song& song) const {
    song.clear();
    std::vector<Item> sorted = items_;
    std::stable_sort(sorted.begin(), sorted.end(), [](const Item& a, const Item& b) {
        if (a.event.time != b.event.time) return a.event.time < b.event.time;
        return a.event.isNoteOff() && !b.event.isNoteOff();
    });
    std::vector<int> slotOfOrder(sorted.size());
    for (std::size_t i = 0; i < sorted.size(); ++i) slotOfOrder[sorted[i].order] = static_cast<int>(i);

    const uint32_t n = static_cast<uint32_t>(sorted.size());
    song.numEvents = n;
    if (n == 0) return;
    song.events = new Event[n];
    uint32_t instruments = 1;
    song.highestPitch = 0;
    song.lowestPitch = 127;
    for (uint32_t i = 0; i < n; ++i) {
        Event& e = song.events[i];
        e = sorted[i].event;
        e.index = i;
        e.other = sorted[i].partner >= 0 ? &song.events[slotOfOrder[sorted[i].partner]] : nullptr;
        if (e.isNote()) {
            instruments = std::max(instruments, e.inst + 1);
            song.channelUsed[e.chan] = 1;
            song.highestPitch = std::max<int8_t>(song.highestPitch, static_cast<int8_t>(e.pitch));
            song.lowestPitch = std::min<int8_t>(song.lowestPitch, static_cast<int8_t>(e.pitch));
        }
        if (e.start) ++song.numGroups;
    }
    song.events[0].isFirst = 1;
    song.events[n - 1].isLast = 1;
    song.lastEvent = &song.events[n - 1];
    song.endTime = song.lastEvent->time;
    song.timeDivisionMethod = 2;
    song.ticksPerQuarter = 500;
    song.secondsPerTick = 0.001;
    song.numInstruments = instruments;
    song.instruments = new Instrument[instruments]{};
    for (uint32_t i = 0; i < instruments; ++i) {
        Instrument& inst = song.instruments[i];
        inst.color = hueColor(i, instruments);
        inst.paleColor = lighten(inst.color);
        inst.narrowColor = hueColor(i, 2 * instruments - 1);
        inst.paleNarrowColor = lighten(inst.narrowColor);
    }
    song.tempoMap.build(song);
}

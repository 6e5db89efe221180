#include "song/Song.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "app/Log.h"
#include "app/WholeFile.h"
#include "song/MidiEvent.h"
#include "song/Parts.h"

Color hueColor(double i, double m) {
    const double d = 3.0 * i / m;
    if (d < 1) return {0.0f, static_cast<float>(1 - d), static_cast<float>(d), 0.0f};
    if (d < 2) return {static_cast<float>(d - 1), 0.0f, static_cast<float>(2 - d), 0.0f};
    return {static_cast<float>(3 - d), static_cast<float>(d - 2), 0.0f, 0.0f};
}

Color lighten(Color c) {
    auto up = [](float x) { return static_cast<float>(x + 0.4 * (1 - x)); };
    return {up(c.r), up(c.g), up(c.b), c.a};
}

namespace {

constexpr uint32_t none = UINT32_MAX;
constexpr uint32_t metaBufferSize = 100;

// The largest song file read: its events would fill several GB of memory.
constexpr off_t maxFileBytes = off_t{1} << 30;

// One stored event while the tracks are read and merged: only what the file gives.
struct MergeRecord {
    uint32_t ticks;
    uint32_t tempo;
    uint16_t track;
    uint8_t type, stat, chan, pitch, vel;
};

void add(std::vector<MergeRecord>& list, uint32_t track, uint32_t ticks, uint8_t type, const MidiEvent& midi,
         uint32_t tempo) {
    const uint8_t kind = midi.status & 0xF0;
    // MIDI data bytes have seven bits; a broken file's top bit is dropped so that every pitch and
    // velocity stays within 0-127 for whoever indexes by them.
    const uint8_t pitch = midi.data1 & 0x7F;
    const uint8_t vel = midi.data2 & 0x7F;
    const uint8_t stat = kind == 0x90 && vel == 0 ? 0x80 : kind;
    if (kind == 0xC0)
        logMessage("add( %d %4d %02x %02x %02x)\n", static_cast<int>(track), static_cast<int>(ticks), midi.status,
                   midi.data1, midi.data2);
    list.push_back({ticks, tempo, static_cast<uint16_t>(track), type, stat, static_cast<uint8_t>(midi.status & 0x0F),
                    pitch, vel});
}

// Reads the track chunks into the merge list, one record per stored event, in track order and
// within a track in file order; keeps each track's name.
struct TrackReader {
    Cursor in;
    bool trace;
    MidiEvent event;
    uint8_t meta[metaBufferSize] = {};
    std::vector<MergeRecord> list;
    std::vector<std::string> names;
    bool named = false;
    std::vector<TimeSignature> timeSignatures;
    // Where each track's records end in the list; false once a track's ticks wrapped around.
    std::vector<std::size_t> trackEnds;
    bool tracksInOrder = true;

    bool readTrack(uint32_t t, bool last);
    void skipForeignChunks(uint32_t t);
    void store(uint32_t t, uint32_t ticks, uint32_t metaBytes);
};

// Chunks of other kinds between the tracks are passed over, as the file format asks of readers.
void TrackReader::skipForeignChunks(uint32_t t) {
    uint32_t id, length;
    while (skipForeignChunk(in, id, length))
        logMessage("Song::load() skipped a chunk '%c%c%c%c' of %u bytes before track chunk %d\n", id >> 24,
                   id >> 16 & 0xFF, id >> 8 & 0xFF, id & 0xFF, length, static_cast<int>(t));
}

bool TrackReader::readTrack(uint32_t t, bool last) {
    skipForeignChunks(t);
    Chunk chunk;
    if (!chunk.read(in)) {
        logMessage("ERROR: Song::load() first chunk wasn't a header\n");
        return false;
    }
    if (chunk.id != CHUNK_MTRK) {
        logMessage("ERROR: Song::load() chunk %d wasn't a track chunk\n", static_cast<int>(t + 1));
        return false;
    }
    // A last track cut short, or whose writer never filled in its length and End of Track, is read
    // up to the end of the file; an event cut in two there is dropped.
    const uint64_t available = static_cast<uint64_t>(in.end - in.p);
    const bool cutShort = last && chunk.length > available;
    const uint64_t length = cutShort ? available : chunk.length;
    if (cutShort)
        logMessage("Song::load() track chunk %d runs past the end of the file: read up to the end\n",
                   static_cast<int>(t));
    event.status = 0;
    named = false;
    uint32_t ticks = 0;
    uint64_t total = 0;
    uint32_t count = 0;
    while (total < length) {
        const uint32_t position = in.offset();
        uint32_t used, metaBytes;
        if (!event.read(in, used, meta, metaBufferSize, metaBytes)) {
            if (cutShort && !event.malformed) break;
            if (!event.malformed) logMessage("ERROR: Song::load() track chunk %d ended early\n", static_cast<int>(t));
            return false;
        }
        total += used;
        if (total > length) {
            logMessage("ERROR: Song::load() track chunk %d was longer than specified in header (%d vs %d)\n",
                       static_cast<int>(t), static_cast<int>(total), static_cast<int>(chunk.length));
            return false;
        }
        if (ticks + event.delta < ticks) tracksInOrder = false;
        ticks += event.delta;
        ++count;
        if (trace) traceMidiEvent(event, position, meta, metaBytes);
        store(t, ticks, metaBytes);
    }
    trackEnds.push_back(list.size());
    if (trace) logMessage("track %d, %d events\n", static_cast<int>(t), static_cast<int>(count));
    if (!cutShort && total != chunk.length) {
        logMessage("ERROR: Song::load() totalDataLen %d, headerLen %d, LOGIC ERROR?\n", static_cast<int>(total),
                   static_cast<int>(chunk.length));
        return false;
    }
    return true;
}

// Channel messages and tempo changes are stored, and the track's first name; time signatures are
// kept aside for the beats; system-exclusive and other meta events are dropped.
void TrackReader::store(uint32_t t, uint32_t ticks, uint32_t metaBytes) {
    const uint8_t kind = event.status & 0xF0;
    if (kind < 0xF0) {
        add(list, t, ticks, kind <= 0x90 ? TYPE_NOTE : TYPE_CHANNEL, event, 0);
        return;
    }
    if (event.status == 0xFF && event.data1 == 0x51)
        add(list, t, ticks, TYPE_TEMPO, event, static_cast<uint32_t>(meta[0] << 16 | meta[1] << 8 | meta[2]));
    if (event.status == 0xFF && event.data1 == 0x58 && metaBytes >= 2) timeSignatures.push_back({ticks, meta[0], meta[1]});
    if (event.status != 0xFF || event.data1 != 0x03 || named) return;
    named = true;
    if (names.size() <= t) names.resize(t + 1);
    names[t] = trackName(meta, metaBytes);
}

Event fromRecord(const MergeRecord& r, uint32_t index) {
    Event e{};
    e.track = r.track;
    e.index = index;
    e.ticks = r.ticks;
    e.type = r.type;
    e.stat = r.stat;
    e.chan = r.chan;
    e.pitch = r.pitch;
    e.vel = r.vel;
    e.tempo = r.tempo;
    return e;
}

// Orders the list by ticks, equal ticks keeping list order (track, then file order), for a file
// whose ticks wrapped around: a stable radix sort on the ticks, in linear time. One counting pass
// serves every digit; digits that all records share, such as the high bits of a short song's ticks,
// cost no pass; the last pass writes the events themselves. A short list is sorted by comparison,
// which costs less than clearing and walking the counters.
Event* radixSorted(std::vector<MergeRecord>& list) {
    constexpr int digitBits = 11, digits = 3, buckets = 1 << digitBits;
    const std::size_t n = list.size();
    std::unique_ptr<Event[]> events(new Event[n]);
    auto copyInOrder = [&] {
        for (std::size_t i = 0; i < n; ++i) events[i] = fromRecord(list[i], static_cast<uint32_t>(i));
        return events.release();
    };
    if (n < buckets) {
        std::stable_sort(list.begin(), list.end(),
                         [](const MergeRecord& a, const MergeRecord& b) { return a.ticks < b.ticks; });
        return copyInOrder();
    }
    std::vector<std::size_t> start(digits * buckets, 0);
    bool sorted = true;
    for (std::size_t i = 0; i < n; ++i) {
        const uint32_t ticks = list[i].ticks;
        for (int d = 0; d < digits; ++d) ++start[d * buckets + (ticks >> (d * digitBits) & (buckets - 1))];
        if (i > 0 && ticks < list[i - 1].ticks) sorted = false;
    }
    std::vector<int> passes;
    for (int d = 0; d < digits && !sorted; ++d) {
        std::size_t* count = &start[d * buckets];
        if (std::find(count, count + buckets, n) != count + buckets) continue;
        std::size_t sum = 0;
        for (int b = 0; b < buckets; ++b) sum += std::exchange(count[b], sum);
        passes.push_back(d);
    }
    if (passes.empty()) return copyInOrder();
    std::vector<MergeRecord> spare(passes.size() > 1 ? n : 0);
    for (std::size_t p = 0; p + 1 < passes.size(); ++p) {
        const int d = passes[p];
        std::size_t* count = &start[d * buckets];
        for (const MergeRecord& r : list) spare[count[r.ticks >> (d * digitBits) & (buckets - 1)]++] = r;
        list.swap(spare);
    }
    const int d = passes.back();
    std::size_t* count = &start[d * buckets];
    for (const MergeRecord& r : list) {
        const std::size_t at = count[r.ticks >> (d * digitBits) & (buckets - 1)]++;
        events[at] = fromRecord(r, static_cast<uint32_t>(at));
    }
    return events.release();
}

// The tracks' records, each track already in tick order, merged into the events in one pass: the
// earliest ticks first, equal ticks in track order.
Event* mergedTracks(const std::vector<MergeRecord>& list, const std::vector<std::size_t>& trackEnds) {
    struct Run {
        std::size_t at, end;
    };
    std::vector<Run> runs;
    std::size_t begin = 0;
    for (std::size_t end : trackEnds) {
        if (end > begin) runs.push_back({begin, end});
        begin = end;
    }
    // A heap of the runs whose top is the record to take next.
    const auto takenLater = [&list](const Run& a, const Run& b) {
        const uint32_t ta = list[a.at].ticks, tb = list[b.at].ticks;
        return ta != tb ? ta > tb : a.at > b.at;
    };
    std::make_heap(runs.begin(), runs.end(), takenLater);
    std::unique_ptr<Event[]> events(new Event[list.size()]);
    for (uint32_t i = 0; !runs.empty(); ++i) {
        std::pop_heap(runs.begin(), runs.end(), takenLater);
        Run& next = runs.back();
        events[i] = fromRecord(list[next.at], i);
        if (++next.at < next.end)
            std::push_heap(runs.begin(), runs.end(), takenLater);
        else
            runs.pop_back();
    }
    return events.release();
}

void disable(Event& e) {
    e.type = TYPE_IGNORED;
    e.stat = 0;
}

}  // namespace

Song::Song() { clear(); }

Song::~Song() { clear(); }

void Song::clear() {
    delete[] events;
    delete[] instruments;
    events = nullptr;
    instruments = nullptr;
    lastEvent = nullptr;
    numEvents = 0;
    timeDivisionMethod = 0;
    ticksPerQuarter = 0;
    secondsPerQuarter = 0.5;
    secondsPerTick = 0;
    highestPitch = 0;
    lowestPitch = 127;
    endTime = 0;
    std::fill(std::begin(channelUsed), std::end(channelUsed), 0);
    numInstruments = 0;
    numGroups = 0;
    groupCursorTicks = 0;
    groupCursorIndex = 0;
    trackNames.clear();
    timeSignatures.clear();
    tempoMap = TempoMap();
}

bool Song::load(const std::string& path) {
    clear();
    if (path.empty()) return false;
    LogBatch batch;
    try {
        std::vector<uint8_t> data;
        return readFile(path, data) && parse(data.data(), data.size(), path);
    } catch (const std::bad_alloc&) {
        return tooLarge(path);
    }
}

bool Song::loadFromBytes(const uint8_t* data, std::size_t size, const std::string& name) {
    clear();
    LogBatch batch;
    try {
        return parse(data, size, name);
    } catch (const std::bad_alloc&) {
        return tooLarge(name);
    }
}

bool Song::tooLarge(const std::string& name) {
    clear();
    logMessage("ERROR: Song::load() %s is too large to hold\n", name.c_str());
    return false;
}

bool Song::readFile(const std::string& path, std::vector<uint8_t>& data) {
    switch (readWholeFile(path, data, maxFileBytes)) {
        case FileRead::read:
            return true;
        case FileRead::cannotOpen:
            logMessage("ERROR: Song::load() unable to open %s for reading\n", path.c_str());
            return false;
        case FileRead::notRegular:
            logMessage("ERROR: Song::load() %s is not a regular file\n", path.c_str());
            return false;
        case FileRead::tooLarge:
            return tooLarge(path);
    }
    return false;
}

bool Song::parse(const uint8_t* data, std::size_t size, const std::string& path) {
    TrackReader reader{{data, data, data + size}, trace, {}, {}, {}, {}, false, {}, {}, true};
    if (unwrapRmid(reader.in)) logMessage("Song::load() %s is a RIFF RMID file: reading the MIDI file inside\n", path.c_str());
    Chunk header;
    if (!header.read(reader.in) || header.id != CHUNK_MTHD) {
        logMessage("ERROR: Song::load() first chunk wasn't a header\n");
        return false;
    }
    if (!setTimeDivision(header.division)) {
        logMessage("ERROR: Song::load() %s has a time division of 0 ticks\n", path.c_str());
        return false;
    }
    // Most stored events take three bytes of the file or more; the list grows if not.
    reader.list.reserve(size / 3);
    for (uint32_t t = 0; t < header.numTracks; ++t)
        if (!reader.readTrack(t, t + 1 == header.numTracks)) return false;
    if (reader.list.empty()) {
        logMessage("ERROR: Song::load() %s has no events\n", path.c_str());
        return false;
    }

    numEvents = static_cast<uint32_t>(reader.list.size());
    events = reader.tracksInOrder ? mergedTracks(reader.list, reader.trackEnds) : radixSorted(reader.list);
    trackNames = std::move(reader.names);
    identifyInstruments();
    assignColors();
    findNoteEnds(header.numTracks);
    deriveTrueTimings();
    findUsedChannels();
    events[0].isFirst = 1;
    events[numEvents - 1].isLast = 1;
    lastEvent = &events[numEvents - 1];
    std::stable_sort(reader.timeSignatures.begin(), reader.timeSignatures.end(),
                     [](const TimeSignature& a, const TimeSignature& b) { return a.ticks < b.ticks; });
    timeSignatures = std::move(reader.timeSignatures);
    tempoMap.build(*this);
    return true;
}

// A division of 0 ticks would make every time infinite or undefined, so such a file is refused.
bool Song::setTimeDivision(uint16_t division) {
    if (!(division & 0x8000)) {
        timeDivisionMethod = 2;
        ticksPerQuarter = division & 0x7FFF;
        if (ticksPerQuarter == 0) return false;
        secondsPerTick = secondsPerQuarter / ticksPerQuarter;
        return true;
    }
    timeDivisionMethod = 1;
    const int frames = -static_cast<int8_t>(division >> 8);
    const double framesPerSecond = frames == 29 ? 29.97 : frames;
    const int ticksPerFrame = division & 0xFF;
    if (ticksPerFrame == 0) return false;
    secondsPerTick = 1.0 / (framesPerSecond * ticksPerFrame);
    return true;
}

void Song::identifyInstruments() {
    // One slot per (track, channel): the instrument's index, so that finding it takes no search.
    std::vector<uint32_t> slot;
    std::vector<Instrument> found;
    for (uint32_t i = 0; i < numEvents; ++i) {
        Event& e = events[i];
        if (!e.isNote()) continue;
        const std::size_t at = e.track * std::size_t{16} + (e.chan & 0x0F);
        if (at >= slot.size()) slot.resize(at + 16, none);
        if (slot[at] == none) {
            slot[at] = static_cast<uint32_t>(found.size());
            Instrument fresh{};
            fresh.track = e.track;
            fresh.channel = e.chan;
            fresh.highestPitch = -128;
            fresh.lowestPitch = 127;
            found.push_back(fresh);
        }
        e.inst = slot[at];
        Instrument& in = found[e.inst];
        const int8_t pitch = static_cast<int8_t>(e.pitch);
        in.highestPitch = std::max(in.highestPitch, pitch);
        in.lowestPitch = std::min(in.lowestPitch, pitch);
        in.pitchSum += e.pitch;
        ++in.numNoteEvents;
    }
    for (Instrument& in : found) in.averagePitch = in.pitchSum / in.numNoteEvents;
    // The instruments go from the highest average pitch down; each event learns its instrument's
    // place in that order.
    std::vector<uint32_t> order(found.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&found](uint32_t a, uint32_t b) { return found[a].averagePitch > found[b].averagePitch; });

    numInstruments = static_cast<uint32_t>(found.size());
    if (numInstruments > 0) instruments = new Instrument[numInstruments];
    std::vector<uint32_t> rank(numInstruments);
    highestPitch = 0;
    lowestPitch = 127;
    for (uint32_t i = 0; i < numInstruments; ++i) {
        const Instrument& in = instruments[i] = found[order[i]];
        rank[order[i]] = i;
        highestPitch = std::max(highestPitch, in.highestPitch);
        lowestPitch = std::min(lowestPitch, in.lowestPitch);
        if (trace)
            logMessage("Instrument %d, track %d, channel %d, %d note events, pitches %d to %d, average %g\n",
                       static_cast<int>(i), static_cast<int>(in.track), in.channel, static_cast<int>(in.numNoteEvents),
                       in.lowestPitch, in.highestPitch, in.averagePitch);
    }
    for (uint32_t i = 0; i < numEvents; ++i)
        if (events[i].isNote()) events[i].inst = rank[events[i].inst];
}

void Song::assignColors() {
    const double n = numInstruments;
    for (uint32_t i = 0; i < numInstruments; ++i) {
        Instrument& in = instruments[i];
        in.color = hueColor(i, n);
        in.paleColor = lighten(in.color);
        in.narrowColor = hueColor(i, 2 * n - 1);
        in.paleNarrowColor = lighten(in.narrowColor);
    }
}

// Each note-off takes the earliest note-on of its channel and pitch still waiting for one
// (first in, first out), which pairs exactly as searching forward from every note-on for the first
// free note-off would, in one pass: every (channel, pitch) keeps a queue of its waiting note-ons,
// linked through one array.
void Song::findNoteEnds(uint32_t numTracks) {
    // Pitches keep seven bits from the reader on.
    constexpr std::size_t keys = 16 * 128;
    std::vector<uint32_t> head(keys, none), tail(keys, none);
    std::unique_ptr<uint32_t[]> next(new uint32_t[numEvents]);
    for (uint32_t i = 0; i < numEvents; ++i) {
        Event& e = events[i];
        if (e.track >= numTracks) fatalError("ERROR: Song::findNoteEnds() LOGIC ERROR 1\n");
        if (!e.isNote()) continue;
        const std::size_t key = (e.chan & 0x0Fu) << 7 | (e.pitch & 0x7Fu);
        if (e.stat == 0x90) {
            next[i] = none;
            if (tail[key] == none)
                head[key] = i;
            else
                next[tail[key]] = i;
            tail[key] = i;
        } else if (e.stat == 0x80) {
            const uint32_t on = head[key];
            if (on == none) {
                logMessage("ERROR: Song::findNoteEnds()unpaired note off\n");
                disable(e);
                continue;
            }
            head[key] = next[on];
            if (head[key] == none) tail[key] = none;
            events[on].other = &e;
            e.other = &events[on];
        } else {
            fatalError("ERROR: Song::findNoteEnds() LOGIC ERROR 2\n");
        }
    }
    // The note-ons still waiting never end.
    for (std::size_t key = 0; key < keys; ++key)
        for (uint32_t on = head[key]; on != none; on = next[on]) disable(events[on]);
}

void Song::deriveTrueTimings() {
    double t = 0;
    uint32_t previous = 0;
    for (uint32_t i = 0; i < numEvents; ++i) {
        Event& e = events[i];
        t += secondsPerTick * (e.ticks - previous);
        e.time = t;
        endTime = t;
        previous = e.ticks;
        if (e.type != TYPE_TEMPO) continue;
        if (timeDivisionMethod != 2) {
            logMessage("ERROR: Song::deriveTrueTimings() tempo change for non-beat-oriented time division method (%d)\n",
                       static_cast<int>(timeDivisionMethod));
            continue;
        }
        secondsPerQuarter = e.tempo / 1000000.0;
        secondsPerTick = secondsPerQuarter / ticksPerQuarter;
    }
}

void Song::findUsedChannels() {
    std::fill(std::begin(channelUsed), std::end(channelUsed), 0);
    for (uint32_t i = 0; i < numEvents; ++i)
        if (events[i].isNote()) channelUsed[events[i].chan & 0x0F] = 1;
}

const std::string& Song::trackName(uint32_t track) const {
    static const std::string none;
    return track < trackNames.size() ? trackNames[track] : none;
}

// Formatted as "numGroups: %d\n" would, by hand: a long song logs hundreds of thousands of them.
void logGroupCount(uint32_t numGroups) {
    if (numGroups <= 4000) return;
    static constexpr std::string_view prefix = "numGroups: ";
    char line[32];
    std::copy(prefix.begin(), prefix.end(), line);
    char* end = std::to_chars(line + prefix.size(), line + sizeof line - 1, static_cast<int>(numGroups)).ptr;
    *end++ = '\n';
    logText({line, static_cast<std::size_t>(end - line)});
}

void Song::clearGroups() {
    for (uint32_t i = 0; i < numEvents; ++i) events[i].start = 0;
    numGroups = 0;
}

bool Song::startGroupAt(uint32_t ticks, const Parts* parts) {
    if (ticks < groupCursorTicks) {
        groupCursorTicks = 0;
        groupCursorIndex = 0;
    }
    while (groupCursorIndex < numEvents) {
        Event& e = events[groupCursorIndex++];
        groupCursorTicks = e.ticks;
        if (e.ticks == ticks && e.isNoteOn() && (!parts || parts->plays(e))) {
            e.start = 1;
            ++numGroups;
            logGroupCount(numGroups);
            return true;
        }
        if (e.ticks > ticks) return false;
    }
    return false;
}

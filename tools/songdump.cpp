// Prints a song as Nolari reads it: the header values, the instruments, every stored event with
// its fields, and the note groups, taken from the song's metadata file when it has one and from
// the default grouping otherwise. Nothing is written beside the song; the lines Nolari would log
// while loading go to the error output.
//   songdump song.mid

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/Log.h"
#include "song/Meta.h"
#include "song/Song.h"

namespace {

const char* typeName(uint8_t type) {
    static const char* const names[] = {"note", "channel", "tempo", "ignored"};
    return type < 4 ? names[type] : "?";
}

void printHeader(const Song& song) {
    std::printf("division method %u, ticks per quarter %g, seconds per tick %.9g at the end\n", song.timeDivisionMethod,
                song.ticksPerQuarter, song.secondsPerTick);
    std::printf("events %u, end time %.6f s, pitches %d to %d\n", song.numEvents, song.endTime, song.lowestPitch,
                song.highestPitch);
    std::printf("channels used:");
    for (int c = 0; c < 16; ++c)
        if (song.channelUsed[c]) std::printf(" %d", c);
    std::printf("\ninstruments %u\n", song.numInstruments);
    for (uint32_t i = 0; i < song.numInstruments; ++i) {
        const Instrument& in = song.instruments[i];
        std::printf("  %u: track %u channel %u, %u note events, pitches %d to %d, average %g, color %.3f %.3f %.3f\n", i,
                    in.track, in.channel, in.numNoteEvents, in.lowestPitch, in.highestPitch, in.averagePitch, in.color.r,
                    in.color.g, in.color.b);
    }
}

void printEvents(const Song& song) {
    std::printf("index ticks time track type stat chan pitch vel tempo start inst other\n");
    for (uint32_t i = 0; i < song.numEvents; ++i) {
        const Event& e = song.events[i];
        const long other = e.other ? static_cast<long>(e.other->index) : -1;
        std::printf("%u %u %.6f %u %s %02x %u %u %u %u %u %u %ld%s%s\n", e.index, e.ticks, e.time, e.track,
                    typeName(e.type), e.stat, e.chan, e.pitch, e.vel, e.tempo, e.start, e.inst, other,
                    e.isFirst ? " first" : "", e.isLast ? " last" : "");
    }
}

void printGroups(const Song& song, const Meta& meta, const char* source) {
    std::printf("groups %u (%s)\n", song.numGroups, source);
    uint32_t group = 0;
    for (uint32_t i = 0; i < song.numEvents; ++i) {
        if (!song.events[i].start) continue;
        uint32_t notes = 0;
        uint32_t j = i;
        do {
            if (song.events[j].isNoteOn()) ++notes;
        } while (++j < song.numEvents && !song.events[j].start);
        std::printf("  group %u: event %u, ticks %u, %u notes\n", group++, i, song.events[i].ticks, notes);
    }
    std::printf("position %u, zoom %g, markers:", meta.position, meta.zoom);
    for (uint32_t m = 0; m < meta.numMarkers(); ++m) std::printf(" %u", meta.marker(m));
    std::printf("\n");
}

// The lines Nolari would log go to the error output, however the dump ends.
struct LogToErrorOutput {
    ~LogToErrorOutput() { std::fputs(batch.take().c_str(), stderr); }
    LogBatch batch;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: songdump <song.mid>\n");
        return 2;
    }
    const std::string songPath = std::filesystem::absolute(argv[1]).string();
    LogToErrorOutput log;
    Song song;
    if (!song.load(songPath)) return 1;
    Meta meta;
    meta.histogramFile.clear();
    const char* source = "metadata file";
    if (std::filesystem::exists(songPath + ".mta")) {
        meta.load(songPath, song);
    } else {
        meta.findDefaultGroups(song);
        source = "default grouping";
    }
    std::printf("song %s\n", songPath.c_str());
    printHeader(song);
    printEvents(song);
    printGroups(song, meta, source);
    return 0;
}

// Feeds arbitrary text to the metadata reader as a song's metadata file, then checks what the rest
// of the program relies on (settings, markers, parts, splits) and that what a save writes reads
// back the same.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "song/Meta.h"
#include "song/Song.h"
#include "support/SmfWriter.h"
#include "support/TestEnv.h"

namespace {

const char* const songPath = "song.mid";

// The song the metadata belongs to, read once; every input starts from its state after a load,
// with no groups.
Song& loadedSong() {
    static Song song;
    static const bool loaded = [] {
        SmfWriter w;
        for (uint32_t c = 0; c < 8; ++c) w.note(c * 480, 240, 60).note(c * 480, 240, 64).note(c * 480 + 3, 200, 67);
        w.track().note(100, 50, 40, 90, 1).tempo(960, 400000);
        const std::string bytes = w.bytes();
        return song.loadFromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), songPath);
    }();
    REQUIRE(loaded);
    song.clearGroups();
    song.groupCursorTicks = song.groupCursorIndex = 0;
    return song;
}

void checkSettings(const Meta& meta, const Song& song) {
    REQUIRE(meta.position < song.numEvents);
    REQUIRE(meta.numMarkers() <= 12);
    for (uint32_t i = 0; i < meta.numMarkers(); ++i) {
        REQUIRE(meta.marker(i) < song.numEvents);
        if (i > 0) REQUIRE(meta.marker(i - 1) < meta.marker(i));
    }
}

// The zoom is kept as read, whatever its value; the file keeps it with six significant digits.
bool sameZoomAsWritten(double reread, double zoom) {
    if (std::isnan(zoom)) return std::isnan(reread);
    char written[64];
    std::snprintf(written, sizeof written, "%g", zoom);
    return reread == std::strtod(written, nullptr);
}

// Splits at a pitch of 0-127, and every Note Off in the role of its Note On, so that no note starts
// in one role and ends in another.
void checkParts(const Parts& parts, const Song& song) {
    REQUIRE(parts.count() == song.numInstruments);
    for (uint32_t p = 0; p < parts.count(); ++p) REQUIRE(parts.splitPitch(p) <= 127);
    for (uint32_t i = 0; i < song.numEvents; ++i) {
        const Event& e = song.events[i];
        if (e.isNoteOn() && e.other) REQUIRE(parts.roleOf(e) == parts.roleOf(*e.other));
    }
}

// What the file keeps of the parts: every event's role, and each split with its pitch.
bool sameParts(const Parts& a, const Song& song, const Parts& b) {
    for (uint32_t p = 0; p < a.count(); ++p)
        if (a.isSplit(p) != b.isSplit(p) || (a.isSplit(p) && a.splitPitch(p) != b.splitPitch(p))) return false;
    for (uint32_t i = 0; i < song.numEvents; ++i)
        if (a.roleOf(song.events[i]) != b.roleOf(song.events[i])) return false;
    return true;
}

// The ticks of the group starts in song order: what the file keeps of a grouping.
std::vector<uint32_t> groupTicks(const Song& song) {
    std::vector<uint32_t> ticks;
    for (uint32_t i = 0; i < song.numEvents; ++i)
        if (song.events[i].start) ticks.push_back(song.events[i].ticks);
    return ticks;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Song& song = loadedSong();
    Meta meta;
    meta.loadFromText(songPath, song, asText(data, size));
    checkSettings(meta, song);
    checkParts(meta.parts, song);
    const std::vector<uint32_t> grouping = groupTicks(song);

    const std::string written = writtenText([&](FILE* out) { meta.write(out, song); });
    Meta reread;
    reread.loadFromText(songPath, loadedSong(), written);
    REQUIRE(reread.position == meta.position && reread.numMarkers() == meta.numMarkers());
    REQUIRE(reread.chan16Mute == meta.chan16Mute && reread.forceChannelOne == meta.forceChannelOne);
    REQUIRE(sameZoomAsWritten(reread.zoom, meta.zoom));
    checkSettings(reread, song);
    REQUIRE(sameParts(meta.parts, song, reread.parts));
    REQUIRE(groupTicks(song) == grouping);
    return 0;
}

#pragma once
// Per-song settings kept in the song's ".mta" file: zoom, position, channel options, markers,
// and (stored in the song's events) the note grouping.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "song/Parts.h"

class Song;

// A grouping computed without touching the song: the events whose group-start flag changes, and
// the number of groups after the change.
struct Regrouping {
    std::vector<uint32_t> flips;
    uint32_t groups = 0;
};

// The speeds listening can play at, in percent of the song's own tempo.
inline constexpr int listenSpeeds[] = {50, 75, 100, 125};
inline constexpr int defaultListenSpeed = 100;

// The metronome: silent, a count-in before listening, or clicking along with the performer.
enum class MetronomeMode : uint8_t { Off = 0, CountIn = 1, On = 2 };

class Meta {
public:
    Meta();

    void load(const std::string& songPath, Song& song);
    // Reads the settings from the text of the song's metadata file, as load does from the file.
    void loadFromText(const std::string& songPath, Song& song, std::string_view text);
    void save(Song& song);
    // What save writes into its file.
    void write(FILE* out, const Song& song) const;
    // Saves with the position given, as read under the engine lock, for a save made outside it.
    void save(const Song& song, uint32_t at);
    void reset();
    void createDefault(Song& song);

    // Both look at the note-ons of the parts the performer plays only.
    int histogramCutoff(Song& song);
    void findDefaultGroups(Song& song);
    // The default grouping for the parts given, against the song's present one; writes
    // "histogram.xls" and changes nothing else, so that it can run outside the engine lock.
    Regrouping defaultGrouping(const Song& song, const Parts& played) const;
    // Makes the grouping the song's, touching only the flags that change.
    static void regroup(Song& song, const Regrouping& grouping);

    bool isMarker(uint32_t index) const;
    void setMarker(uint32_t index);
    void clearMarker(uint32_t index);
    uint32_t marker(uint32_t i) const;
    uint32_t numMarkers() const { return numMarkers_; }

    void scaleZoom(double factor) { zoom *= factor; }

    std::string path;
    Song* song = nullptr;
    double zoom = 10.0;
    uint32_t position = 0;
    bool forceChannelOne = false;
    bool chan16Mute = false;
    bool sendPedalEvents = false;
    bool sendSystemExclusive = true;
    bool harmonicColoring = false;
    int32_t listenSpeed = defaultListenSpeed;  // percent; one of listenSpeeds
    // Practice settings: taps go round the passage between two markers; notes sound transposed
    // by this many semitones (-24 ... 24).
    bool loop = false;
    int transpose = 0;
    MetronomeMode metronome = MetronomeMode::Off;
    uint32_t numMarkers_ = 0;
    uint32_t markers[12] = {};
    // Who plays each part of the song, and the parts split into two hands (tags PART and SPLIT).
    Parts parts;

    // Where the default grouping writes its filtered histogram, relative to the working directory;
    // empty writes none.
    std::string histogramFile = "histogram.xls";

    // Switched off: when on, the default grouping logs its cutoff and the markers their changes.
    bool trace = false;

private:
    void traceMarkers(const char* operation, uint32_t index) const;
    int cutoff(const Song& song, const Parts& played) const;
};

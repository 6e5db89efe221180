#pragma once
// A song: every stored event of a Standard MIDI File in one contiguous array sorted by ticks,
// with the analysis the performer and the display need (instruments, paired notes, real times,
// used channels, note groups).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "song/TempoMap.h"

class Parts;

struct Color {
    float r = 0, g = 0, b = 0, a = 0;
};

// Wheel colour i of m: green -> blue -> red -> green.
Color hueColor(double i, double m);
// Each of red, green and blue moved 40 % of the way to 1.
Color lighten(Color c);

enum : uint8_t { TYPE_NOTE = 0, TYPE_CHANNEL = 1, TYPE_TEMPO = 2, TYPE_IGNORED = 3 };

// One stored event of the song.
// The fields are ordered by size, so that a million events take no padding: 48 bytes each.
struct Event {
    double time;     // seconds from the start of the song
    Event* other;    // a note-on's note-off and back
    uint32_t track;
    uint32_t index;  // own position in the event array
    uint32_t ticks;  // absolute tick time
    uint32_t tempo;  // microseconds per quarter, tempo events only
    uint32_t inst;   // index into the song's instruments (note events)
    uint8_t type;
    uint8_t stat;  // status kind (high nibble); note-on with velocity 0 is stored as 0x80
    uint8_t chan;
    uint8_t pitch;
    uint8_t vel;
    uint8_t start;  // begins a note group
    uint8_t isLast;
    uint8_t isFirst;

    bool isNote() const { return type == TYPE_NOTE; }
    bool isNoteOn() const { return type == TYPE_NOTE && stat == 0x90; }
    bool isNoteOff() const { return type == TYPE_NOTE && stat == 0x80; }
    bool isChannelEvent() const { return type == TYPE_NOTE || type == TYPE_CHANNEL; }
    bool isProgramChange() const { return type == TYPE_CHANNEL && stat == 0xC0; }
    bool isSustainPedal() const { return type == TYPE_CHANNEL && stat == 0xB0 && pitch == 64; }
};

struct Instrument {
    uint32_t track;
    uint8_t channel;
    int8_t highestPitch;
    int8_t lowestPitch;
    uint32_t numNoteEvents;
    double pitchSum;
    double averagePitch;
    Color paleColor;
    Color color;
    Color paleNarrowColor;
    Color narrowColor;
};

// A song of many groups logs their count as each one beyond the 4000th is added.
void logGroupCount(uint32_t numGroups);

class Song {
public:
    Song();
    ~Song();
    Song(const Song&) = delete;
    Song& operator=(const Song&) = delete;

    // Clears the song, reads the file and runs the analysis; true when the song is ready to play.
    bool load(const std::string& path);
    // The same for a file's bytes already in memory; name stands for the file in the log's lines.
    bool loadFromBytes(const uint8_t* data, std::size_t size, const std::string& name);
    void clear();

    // The event at index i, or null when i is not below numEvents.
    Event* event(uint32_t i) const { return i < numEvents ? &events[i] : nullptr; }

    void identifyInstruments();
    void assignColors();
    void findNoteEnds(uint32_t numTracks);
    void deriveTrueTimings();
    void findUsedChannels();

    void clearGroups();
    // With parts given, only a note-on of a part the performer plays can start a group.
    bool startGroupAt(uint32_t ticks, const Parts* parts = nullptr);
    void addGroupCount() { ++numGroups; }
    void removeGroupCount() {
        if (numGroups > 0) --numGroups;
    }

    uint32_t numEvents = 0;
    Event* lastEvent = nullptr;
    uint32_t timeDivisionMethod = 0;  // 0 none yet, 1 SMPTE frames, 2 ticks per quarter
    double ticksPerQuarter = 0;
    double secondsPerQuarter = 0.5;
    double secondsPerTick = 0;
    int8_t highestPitch = 0;
    int8_t lowestPitch = 127;
    double endTime = 0;
    uint8_t channelUsed[16] = {};
    uint32_t numInstruments = 0;
    uint32_t numGroups = 0;
    uint32_t groupCursorTicks = 0;
    uint32_t groupCursorIndex = 0;
    Instrument* instruments = nullptr;
    Event* events = nullptr;
    // Each track's name, by track index; empty for a track without one.
    std::vector<std::string> trackNames;
    const std::string& trackName(uint32_t track) const;
    // The time signatures, by ticks: kept beside the events, which they do not join.
    std::vector<TimeSignature> timeSignatures;
    // Seconds and ticks, beats and bars: built by load from the tempo events and time signatures.
    TempoMap tempoMap;

    // Switched off: when on, the reader logs every event it reads and the analysis every instrument.
    bool trace = false;

private:
    // Reads a whole regular file; false, with one line logged, when it cannot.
    bool readFile(const std::string& path, std::vector<uint8_t>& data);
    // Reads the bytes into the event array and runs the analysis; false, with one line logged, when
    // they hold no song.
    bool parse(const uint8_t* data, std::size_t size, const std::string& path);
    // A song that does not fit in memory: an empty song and one line.
    bool tooLarge(const std::string& name);
    // Sets the tick rate from a header's division; false when the division gives no tick length.
    bool setTimeDivision(uint16_t division);
};

#pragma once
// The Standard MIDI File reader's pieces: a cursor over the file's bytes, variable-length
// quantities, chunk headers and the events of a track chunk.

#include <cstdint>
#include <string>

// Reads a buffer that it never passes: every read past the end fails.
struct Cursor {
    const uint8_t* p;
    const uint8_t* begin;
    const uint8_t* end;

    bool byte(uint8_t& out) {
        if (p == end) return false;
        out = *p++;
        return true;
    }
    // Running status: the byte just read is read again as data.
    void stepBack() {
        if (p != begin) --p;
    }
    // Moves past n bytes; fails, at the end, when fewer remain.
    bool skip(uint32_t n) {
        if (static_cast<uint64_t>(end - p) < n) {
            p = end;
            return false;
        }
        p += n;
        return true;
    }
    uint32_t offset() const { return static_cast<uint32_t>(p - begin); }
};

// Reads a variable-length quantity of at most four bytes. On failure used is 0.
bool readVarLen(Cursor& in, uint32_t& value, uint32_t& used);

constexpr uint32_t CHUNK_MTHD = 0x4D546864;
constexpr uint32_t CHUNK_MTRK = 0x4D54726B;

// A chunk header; the format, track count and division belong to a header chunk only.
struct Chunk {
    uint32_t id = 0;
    uint32_t length = 0;
    uint16_t format = 0;
    uint16_t numTracks = 0;
    uint16_t division = 0;

    // Accepts an "MThd" of length 6 and format 0-2, or an "MTrk"; nothing else.
    bool read(Cursor& in);
};

// Moves past one chunk of a kind the reader does not know: four printable characters other than
// "MThd" and "MTrk", and a length the bytes hold. False, without moving, when no such chunk is next.
bool skipForeignChunk(Cursor& in, uint32_t& id, uint32_t& length);

// Narrows in to the Standard MIDI File that a RIFF "RMID" file carries in its "data" chunk; false,
// leaving in as it was, for any other bytes.
bool unwrapRmid(Cursor& in);

// The reader's state while it walks the track chunks. The status is the running status; the data
// bytes carry over from one event to the next when an event does not set them.
struct MidiEvent {
    uint32_t delta = 0;
    uint8_t status = 0;
    uint8_t data1 = 0;  // the meta type for a meta event
    uint8_t data2 = 0;

    // Set when a read failed on bytes no MIDI file may hold; the failure is already logged.
    bool malformed = false;
    // The body of the last system-exclusive event read, for the trace.
    const uint8_t* sysexBody = nullptr;
    uint32_t sysexLength = 0;

    // Reads one event. used receives the bytes it took; a meta event's data is copied into meta,
    // up to metaSize bytes, and metaBytes receives how many were copied. False when the bytes
    // end, or (malformed set) on a data byte before any status or a system common or real-time
    // status.
    bool read(Cursor& in, uint32_t& used, uint8_t* meta, uint32_t metaSize, uint32_t& metaBytes);

private:
    bool readSystem(Cursor& in, uint32_t& used, uint8_t* meta, uint32_t metaSize, uint32_t& metaBytes);
};

// A track's name as the performer sees it, from the body of its name event: read as UTF-8, or
// byte by byte as Latin-1 where it is not; ended by a NUL; control characters as blanks; trimmed;
// at most 40 characters. Written as UTF-8.
std::string trackName(const uint8_t* bytes, uint32_t size);

// The reader's switched-off trace: one event as it was read, at the given file position.
void traceMidiEvent(const MidiEvent& event, uint32_t position, const uint8_t* meta, uint32_t metaBytes);

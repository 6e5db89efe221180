#include "song/MidiEvent.h"

#include <cstring>

#include "app/Log.h"

bool readVarLen(Cursor& in, uint32_t& value, uint32_t& used) {
    value = 0;
    used = 0;
    for (uint32_t n = 1; n <= 4; ++n) {
        uint8_t b;
        if (!in.byte(b)) return false;
        if (b < 0x80) {
            value |= b;
            used = n;
            return true;
        }
        value = (value | (b & 0x7Fu)) << 7;
    }
    return false;
}

namespace {

bool readU32(Cursor& in, uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
        uint8_t b;
        if (!in.byte(b)) return false;
        value = value << 8 | b;
    }
    return true;
}

bool readU16(Cursor& in, uint16_t& value) {
    uint8_t high, low;
    if (!in.byte(high) || !in.byte(low)) return false;
    value = static_cast<uint16_t>(high << 8 | low);
    return true;
}

uint32_t littleEndianU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
}

bool isChunkId(uint32_t id) {
    for (int shift = 0; shift < 32; shift += 8) {
        const uint8_t c = id >> shift & 0xFF;
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

}  // namespace

bool skipForeignChunk(Cursor& in, uint32_t& id, uint32_t& length) {
    Cursor ahead = in;
    if (!readU32(ahead, id) || !readU32(ahead, length)) return false;
    if (!isChunkId(id) || id == CHUNK_MTHD || id == CHUNK_MTRK || !ahead.skip(length)) return false;
    in = ahead;
    return true;
}

bool unwrapRmid(Cursor& in) {
    const std::size_t size = static_cast<std::size_t>(in.end - in.p);
    if (size < 12 || std::memcmp(in.p, "RIFF", 4) != 0 || std::memcmp(in.p + 8, "RMID", 4) != 0) return false;
    // The RIFF chunks after the form type: a four-character id, a little-endian length, the body
    // padded to an even length.
    for (const uint8_t* chunk = in.p + 12; in.end - chunk >= 8;) {
        const uint32_t length = littleEndianU32(chunk + 4);
        const uint8_t* body = chunk + 8;
        const std::size_t available = static_cast<std::size_t>(in.end - body);
        if (std::memcmp(chunk, "data", 4) == 0) {
            // A body cut short keeps what the file holds.
            in = {body, body, body + (length < available ? length : available)};
            return true;
        }
        if (length >= available) return false;
        chunk = body + length + (length & 1);
    }
    return false;
}

bool Chunk::read(Cursor& in) {
    if (!readU32(in, id)) return false;
    if (id == CHUNK_MTRK) return readU32(in, length);
    if (id != CHUNK_MTHD) return false;
    if (!readU32(in, length) || length != 6) return false;
    if (!readU16(in, format) || format >= 3) return false;
    return readU16(in, numTracks) && readU16(in, division);
}

bool MidiEvent::read(Cursor& in, uint32_t& used, uint8_t* meta, uint32_t metaSize, uint32_t& metaBytes) {
    used = 0;
    metaBytes = 0;
    malformed = false;
    uint32_t n;
    if (!readVarLen(in, delta, n)) return false;
    used += n;

    uint8_t b;
    if (!in.byte(b)) return false;
    if (b & 0x80) {
        status = b;
        ++used;
    } else if (status & 0x80) {
        in.stepBack();
    } else {
        // A broken file must not end the program: the line fatalError would write, then a failed load.
        logStamped("ERROR: premature running status in MidiEvent::read\n");
        malformed = true;
        return false;
    }

    switch (status & 0xF0) {
        case 0x80:
        case 0x90:
        case 0xA0:
        case 0xB0:
        case 0xE0:
            used += 2;
            return in.byte(data1) && in.byte(data2);
        case 0xC0:
        case 0xD0:
            used += 1;
            return in.byte(data1);
        case 0xF0:
            return readSystem(in, used, meta, metaSize, metaBytes);
        default:
            fatalError("LOGIC ERROR (status %02x) in MidiEvent::read\n", status);
    }
}

bool MidiEvent::readSystem(Cursor& in, uint32_t& used, uint8_t* meta, uint32_t metaSize, uint32_t& metaBytes) {
    uint32_t length, n;
    if (status == 0xF0 || status == 0xF7) {
        if (!readVarLen(in, length, n)) return false;
        sysexBody = in.p;
        if (!in.skip(length)) return false;
        sysexLength = length;
        used += n + length;
        return true;
    }
    if (status == 0xFF) {
        if (!in.byte(data1) || !readVarLen(in, length, n)) return false;
        const uint8_t* body = in.p;
        if (!in.skip(length)) return false;
        metaBytes = length < metaSize ? length : metaSize;
        std::memcpy(meta, body, metaBytes);
        used += 1 + n + length;
        return true;
    }
    logStamped("UNIMPLEMENTED (status %02x) in MidiEvent::read\n", status);
    malformed = true;
    return false;
}

namespace {

const char* const keyNames[20] = {"C-flat", "G-flat", "D-flat", "A-flat", "E-flat", "B-flat", "F",
                                  "C",      "G",      "D",      "A",      "E",      "B",      "F-sharp",
                                  "C-sharp", "G-sharp", "D-sharp", "A-sharp", "E-sharp", "B-sharp"};

void traceMeta(const MidiEvent& event, const uint8_t* meta, uint32_t metaBytes) {
    const int length = static_cast<int>(metaBytes);
    const char* text = reinterpret_cast<const char*>(meta);
    switch (event.data1) {
        case 0x01:
            logMessage("%.*s\n", length, text);
            return;
        case 0x03:
            logMessage("NAME: %.*s\n", length, text);
            return;
        case 0x06:
            logMessage("META_MARKER\n");
            return;
        case 0x2F:
            logMessage("(end of track)\n");
            return;
        case 0x51: {
            const int tempo = meta[0] << 16 | meta[1] << 8 | meta[2];
            logMessage("TEMPO %d usecs/quarter (%g quarters/minute)\n", tempo, 60000000.0 / tempo);
            return;
        }
        case 0x58:
            logMessage("TIME SIGNATURE: %d/%d (%d:%d)\n", meta[0], 1 << (meta[1] & 31), meta[2], meta[3]);
            return;
        case 0x59: {
            const int sharpsFlats = static_cast<int8_t>(meta[0]);
            const bool minor = meta[1] != 0;
            const int index = ((sharpsFlats + 7 + (minor ? 3 : 0)) % 20 + 20) % 20;
            logMessage("%s %s (%d, %d)\n", keyNames[index], minor ? "minor" : "major", sharpsFlats, meta[1]);
            return;
        }
        default:
            logMessage("META_EVENT (%d)\n", event.data1);
    }
}

}  // namespace

void traceMidiEvent(const MidiEvent& event, uint32_t position, const uint8_t* meta, uint32_t metaBytes) {
    static const char* const kindNames[7] = {"NOTE_OFF\n",       "NOTE_ON\n",            "NOTE_AFTERTOUCH\n",
                                             "CONTROLLER\n",     "PROGRAM_CHANGE\n",     "CHANNEL_AFTERTOUCH\n",
                                             "PITCH_BEND\n"};
    logMessage("POS:%d\n", static_cast<int>(position));
    const int kind = event.status >> 4;
    if (kind < 0xF) {
        logMessage("%s", kindNames[kind - 8]);
        return;
    }
    logMessage("SYSTEM...");
    if (event.status == 0xFF) {
        traceMeta(event, meta, metaBytes);
        return;
    }
    logMessage("SYSEX");
    for (uint32_t i = 0; i < event.sysexLength; ++i) logMessage(" %02x", event.sysexBody[i]);
    logMessage("\n");
}

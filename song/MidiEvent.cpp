#include "song/MidiEvent.h"

#include <algorithm>
#include <cstring>
#include <vector>

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

namespace {

constexpr std::size_t maxNameCharacters = 40;
constexpr int cutSequence = -1;

// The length of the well-formed UTF-8 sequence at p, with its code point; 0 when there is none,
// cutSequence when the bytes end inside one.
int utf8At(const uint8_t* p, const uint8_t* end, uint32_t& code) {
    const uint8_t lead = *p;
    int length = 1;
    uint32_t least = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1Fu, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0Fu, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07u, least = 0x10000;
    } else {
        return 0;
    }
    for (int i = 1; i < length; ++i) {
        if (p + i == end) return cutSequence;
        if ((p[i] & 0xC0) != 0x80) return 0;
        code = code << 6 | (p[i] & 0x3Fu);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < least || code > 0x10FFFF || surrogate ? 0 : length;
}

void appendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool isControl(uint32_t code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

}  // namespace

std::string trackName(const uint8_t* bytes, uint32_t size) {
    std::vector<uint32_t> characters;
    const uint8_t* end = bytes + size;
    // The buffer may have cut the name inside a character, which is dropped.
    for (const uint8_t* p = bytes; p != end && *p != 0;) {
        uint32_t code = *p;
        const int length = utf8At(p, end, code);
        if (length == cutSequence) break;
        if (length == 0) code = *p;
        p += length > 0 ? length : 1;
        characters.push_back(isControl(code) ? ' ' : code);
    }
    auto first = std::find_if(characters.begin(), characters.end(), [](uint32_t c) { return c != ' '; });
    characters.erase(characters.begin(), first);
    if (characters.size() > maxNameCharacters) characters.resize(maxNameCharacters);
    while (!characters.empty() && characters.back() == ' ') characters.pop_back();
    std::string name;
    for (uint32_t code : characters) appendUtf8(name, code);
    return name;
}

#include "support/SongCollection.h"

#include <algorithm>

#include "support/SmfWriter.h"

std::string generatedSong(uint32_t events, uint32_t groups, uint32_t groupSpan) {
    const uint32_t notesPerGroup = events / 2 / groups;
    SmfWriter w(480);
    for (uint8_t t = 0; t < 4; ++t) {
        if (t > 0) w.track();
        w.program(0, static_cast<uint8_t>(t * 8), t);
        for (uint32_t g = 0; g < groups; ++g) {
            const uint32_t start = g * groupSpan;
            if (t == 0 && g % 100 == 50) w.tempo(start, 400000 + g % 7 * 20000);
            for (uint32_t k = t; k < notesPerGroup; k += 4)
                w.note(start + k, 3, static_cast<uint8_t>(40 + k * 7 % 48), 100, t);
        }
    }
    return w.bytes();
}

namespace {

constexpr uint32_t beat = 480;
constexpr uint32_t bar = 4 * beat;

// The same numbers on every run.
class Dice {
public:
    explicit Dice(uint32_t seed) : state_(seed * 2654435761u + 1) {}
    uint32_t below(uint32_t n) {
        state_ = state_ * 1664525u + 1013904223u;
        return (state_ >> 8) % n;
    }

private:
    uint32_t state_;
};

struct Timed {
    uint32_t ticks;
    std::vector<uint8_t> bytes;
};
using Part = std::vector<Timed>;

uint8_t status(uint8_t kind, uint8_t channel) { return static_cast<uint8_t>(kind | channel); }

void addNote(Part& part, uint32_t at, uint32_t length, uint8_t channel, int pitch, uint8_t velocity) {
    const uint8_t p = static_cast<uint8_t>(std::clamp(pitch, 0, 127));
    part.push_back({at, {status(0x90, channel), p, velocity}});
    // Half the note ends are Note Ons of velocity 0, as many writers store them.
    if (p % 2)
        part.push_back({at + length, {status(0x90, channel), p, 0}});
    else
        part.push_back({at + length, {status(0x80, channel), p, 64}});
}

// A line of notes: notesPerBeat a beat, each chord notes deep, wandering around centre.
Part line(Dice& dice, uint32_t bars, uint8_t channel, uint8_t program, int centre, uint32_t notesPerBeat, uint32_t chord) {
    Part part{{0, {status(0xC0, channel), program}}, {0, {status(0xB0, channel), 7, 100}}};
    const uint32_t step = beat / notesPerBeat;
    int pitch = centre;
    for (uint32_t at = 0; at < bars * bar; at += step) {
        if (dice.below(8) == 0) continue;  // a rest
        pitch = std::clamp(pitch + static_cast<int>(dice.below(7)) - 3, centre - 12, centre + 12);
        const uint8_t velocity = static_cast<uint8_t>(60 + dice.below(50));
        for (uint32_t k = 0; k < chord; ++k) addNote(part, at + k * dice.below(3), step * 3 / 4, channel, pitch + 4 * k, velocity);
    }
    return part;
}

void addPedal(Part& part, uint32_t bars, uint8_t channel) {
    for (uint32_t b = 0; b < bars; ++b) {
        part.push_back({b * bar + 10, {status(0xB0, channel), 64, 127}});
        part.push_back({b * bar + bar - 20, {status(0xB0, channel), 64, 0}});
    }
}

void addBends(Part& part, Dice& dice, uint32_t bars, uint8_t channel) {
    for (uint32_t at = 0; at < bars * bar; at += beat * 2)
        for (uint32_t k = 0; k < 16; ++k)
            part.push_back({at + k * 8, {status(0xE0, channel), 0, static_cast<uint8_t>(64 + dice.below(16))}});
}

void addExpression(Part& part, uint32_t bars, uint8_t channel) {
    for (uint32_t at = 0; at < bars * bar; at += beat / 4)
        part.push_back({at, {status(0xB0, channel), 11, static_cast<uint8_t>(64 + at / (beat / 4) % 48)}});
}

Part drums(Dice& dice, uint32_t bars) {
    Part part;
    for (uint32_t at = 0; at < bars * bar; at += beat / 2) {
        addNote(part, at, 30, 9, 42, static_cast<uint8_t>(70 + dice.below(30)));  // hi-hat
        if (at % beat == 0) addNote(part, at, 30, 9, at % bar == beat || at % bar == 3 * beat ? 38 : 36, 110);
    }
    return part;
}

Part conductor(Dice& dice, uint32_t bars) {
    Part part{{0, {0xFF, 0x03, 5, 'S', 'o', 'n', 'g', '!'}},
              {0, {0xFF, 0x58, 4, 4, 2, 24, 8}},
              {0, {0xFF, 0x59, 2, static_cast<uint8_t>(dice.below(5)), 0}},
              {0, {0xF0, 5, 0x7E, 0x7F, 0x09, 0x01, 0xF7}}};
    for (uint32_t b = 0; b < bars; b += 8) {
        const uint32_t tempo = 400000 + dice.below(300000);
        part.push_back({b * bar, {0xFF, 0x51, 3, static_cast<uint8_t>(tempo >> 16), static_cast<uint8_t>(tempo >> 8),
                                  static_cast<uint8_t>(tempo)}});
        part.push_back({b * bar, {0xFF, 0x06, 1, static_cast<uint8_t>('A' + b / 8 % 26)}});
    }
    return part;
}

std::vector<Part> piano(Dice& dice, uint32_t bars) {
    Part right = line(dice, bars, 0, 0, 72, 2 + dice.below(3), 1);
    Part left = line(dice, bars, 0, 0, 48, 1 + dice.below(2), 3);
    addPedal(left, bars, 0);
    return {conductor(dice, bars), right, left};
}

std::vector<Part> band(Dice& dice, uint32_t bars) {
    Part melody = line(dice, bars, 0, 80, 72, 2, 1);
    addBends(melody, dice, bars, 0);
    Part strings = line(dice, bars, 4, 48, 60, 1, 3);
    addExpression(strings, bars, 4);
    return {conductor(dice, bars), melody, line(dice, bars, 1, 33, 36, 2, 1), line(dice, bars, 2, 25, 55, 4, 3),
            line(dice, bars, 3, 4, 64, 2, 2), strings, drums(dice, bars)};
}

std::vector<Part> orchestra(Dice& dice, uint32_t bars) {
    std::vector<Part> parts{conductor(dice, bars)};
    for (uint8_t c = 0; c < 15; ++c) {
        const uint8_t channel = c < 9 ? c : static_cast<uint8_t>(c + 1);
        Part part = line(dice, bars, channel, static_cast<uint8_t>(40 + c * 3), 40 + c * 3, 1 + dice.below(2), 1);
        addExpression(part, bars, channel);
        parts.push_back(part);
    }
    return parts;
}

// One part per track, each in time order; or all parts in one track with running status.
std::string written(std::vector<Part> parts, bool singleTrack) {
    SmfWriter w(beat, singleTrack ? 0 : 1);
    if (singleTrack) {
        Part all;
        for (Part& part : parts) all.insert(all.end(), part.begin(), part.end());
        parts = {all};
    }
    for (std::size_t t = 0; t < parts.size(); ++t) {
        Part& part = parts[t];
        std::stable_sort(part.begin(), part.end(), [](const Timed& a, const Timed& b) { return a.ticks < b.ticks; });
        if (t > 0) w.track();
        uint8_t running = 0;
        for (const Timed& e : part) {
            const bool channel = e.bytes[0] < 0xF0;
            std::vector<uint8_t> bytes = e.bytes;
            if (singleTrack && channel && bytes[0] == running) bytes.erase(bytes.begin());
            running = channel ? e.bytes[0] : 0;
            w.event(e.ticks, bytes);
        }
    }
    return w.bytes();
}

}  // namespace

std::vector<std::string> songCollection(uint32_t count) {
    std::vector<std::string> songs;
    for (uint32_t i = 0; i < count; ++i) {
        Dice dice(i);
        const uint32_t bars = 24 + dice.below(120);
        switch (i % 4) {
            case 0: songs.push_back(written(piano(dice, bars), false)); break;
            case 1: songs.push_back(written(band(dice, bars), false)); break;
            case 2: songs.push_back(written(orchestra(dice, bars), false)); break;
            default: songs.push_back(written(band(dice, bars), true)); break;
        }
    }
    return songs;
}

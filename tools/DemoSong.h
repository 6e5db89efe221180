#pragma once
// The notes of the bundled demo song: Beethoven's "Ode to Joy" (public domain) for two hands, the
// melody in the right hand, rolled chords in the left. makedemo writes them with the song's
// tempo, names and programs; tests merge both hands into one part.

#include <cstdint>
#include <vector>

namespace demo {

constexpr uint32_t eighth = 240;  // ticks, at 480 per quarter
constexpr uint32_t bar = 8 * eighth;

struct Note {
    uint32_t ticks, length;
    uint8_t pitch, velocity;
};

struct Tone {
    uint8_t pitch;
    uint32_t eighths;
};

enum : uint8_t { G3 = 55, C4 = 60, D4 = 62, E4 = 64, F4 = 65, G4 = 67 };

inline const std::vector<Tone> phraseA = {{E4, 2}, {E4, 2}, {F4, 2}, {G4, 2}, {G4, 2}, {F4, 2}, {E4, 2}, {D4, 2},
                                          {C4, 2}, {C4, 2}, {D4, 2}, {E4, 2}, {E4, 3}, {D4, 1}, {D4, 4}};
inline const std::vector<Tone> phraseA2 = {{E4, 2}, {E4, 2}, {F4, 2}, {G4, 2}, {G4, 2}, {F4, 2}, {E4, 2}, {D4, 2},
                                           {C4, 2}, {C4, 2}, {D4, 2}, {E4, 2}, {D4, 3}, {C4, 1}, {C4, 4}};
inline const std::vector<Tone> phraseB = {{D4, 2}, {D4, 2}, {E4, 2}, {C4, 2}, {D4, 2}, {E4, 1}, {F4, 1}, {E4, 2}, {C4, 2},
                                          {D4, 2}, {E4, 1}, {F4, 1}, {E4, 2}, {D4, 2}, {C4, 2}, {D4, 2}, {G3, 4}};

inline const std::vector<uint8_t> chordC = {48, 52, 55};
inline const std::vector<uint8_t> chordG = {43, 47, 50};

// Two chords a bar, named by bar: 'C' or 'G' for both halves, or "GC" for a cadence.
inline const char* const harmony[16] = {"CC", "GG", "CC", "GG", "CC", "GG", "CC", "GC",
                                        "GG", "CC", "GG", "CG", "CC", "GG", "CC", "GC"};

// In time order.
inline std::vector<Note> rightHand() {
    std::vector<Note> notes;
    uint32_t ticks = 0;
    for (const auto* phrase : {&phraseA, &phraseA2, &phraseB, &phraseA2}) {
        for (const Tone& tone : *phrase) {
            const uint32_t length = tone.eighths * eighth;
            notes.push_back({ticks, length - 20, tone.pitch, 88});
            ticks += length;
        }
    }
    return notes;
}

// In time order. A gently rolled chord: its notes a few ticks apart still form one group.
inline std::vector<Note> leftHand() {
    std::vector<Note> notes;
    for (uint32_t b = 0; b < 16; ++b) {
        for (uint32_t half = 0; half < 2; ++half) {
            const auto& chord = harmony[b][half] == 'C' ? chordC : chordG;
            const uint32_t start = b * bar + half * 4 * eighth;
            for (uint32_t i = 0; i < chord.size(); ++i) notes.push_back({start + i * 6, 4 * eighth - 30 - i * 6, chord[i], 64});
        }
    }
    return notes;
}

}  // namespace demo

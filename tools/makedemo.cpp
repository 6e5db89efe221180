// Writes the bundled demo song: Beethoven's "Ode to Joy" (public domain) for two hands, the melody
// in the right hand, rolled chords in the left, with a slowing of the tempo in the last phrase.
// Usage: makedemo <output.mid>

#include <cstdio>
#include <fstream>
#include <vector>

#include "support/SmfWriter.h"

namespace {

constexpr uint32_t eighth = 240;  // ticks, at 480 per quarter
constexpr uint32_t bar = 8 * eighth;

struct Tone {
    uint8_t pitch;
    uint32_t eighths;
};

enum : uint8_t { G3 = 55, C4 = 60, D4 = 62, E4 = 64, F4 = 65, G4 = 67 };

const std::vector<Tone> phraseA = {{E4, 2}, {E4, 2}, {F4, 2}, {G4, 2}, {G4, 2}, {F4, 2}, {E4, 2}, {D4, 2},
                                   {C4, 2}, {C4, 2}, {D4, 2}, {E4, 2}, {E4, 3}, {D4, 1}, {D4, 4}};
const std::vector<Tone> phraseA2 = {{E4, 2}, {E4, 2}, {F4, 2}, {G4, 2}, {G4, 2}, {F4, 2}, {E4, 2}, {D4, 2},
                                    {C4, 2}, {C4, 2}, {D4, 2}, {E4, 2}, {D4, 3}, {C4, 1}, {C4, 4}};
const std::vector<Tone> phraseB = {{D4, 2}, {D4, 2}, {E4, 2}, {C4, 2}, {D4, 2}, {E4, 1}, {F4, 1}, {E4, 2}, {C4, 2},
                                   {D4, 2}, {E4, 1}, {F4, 1}, {E4, 2}, {D4, 2}, {C4, 2}, {D4, 2}, {G3, 4}};

const std::vector<uint8_t> chordC = {48, 52, 55};
const std::vector<uint8_t> chordG = {43, 47, 50};

// Two chords a bar, named by bar: 'C' or 'G' for both halves, or "GC" for a cadence.
const char* const harmony[16] = {"CC", "GG", "CC", "GG", "CC", "GG", "CC", "GC",
                                 "GG", "CC", "GG", "CG", "CC", "GG", "CC", "GC"};

void melody(SmfWriter& smf, uint32_t& ticks, const std::vector<Tone>& phrase) {
    for (const Tone& tone : phrase) {
        const uint32_t length = tone.eighths * eighth;
        smf.note(ticks, length - 20, tone.pitch, 88);
        ticks += length;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: makedemo <output.mid>\n");
        return 2;
    }
    SmfWriter smf(480, 1);
    smf.text(0, 0x03, "Ode to Joy");
    smf.tempo(0, 500000);
    smf.tempo(12 * bar, 560000);
    smf.tempo(15 * bar, 700000);

    smf.track().text(0, 0x03, "Right hand").program(0, 0, 0);
    uint32_t ticks = 0;
    for (const auto* phrase : {&phraseA, &phraseA2, &phraseB, &phraseA2}) melody(smf, ticks, *phrase);

    smf.track().text(0, 0x03, "Left hand").program(0, 0, 1).controller(0, 7, 90, 1);
    for (uint32_t b = 0; b < 16; ++b) {
        for (int half = 0; half < 2; ++half) {
            const auto& chord = harmony[b][half] == 'C' ? chordC : chordG;
            const uint32_t start = b * bar + static_cast<uint32_t>(half) * 4 * eighth;
            // A gently rolled chord: its notes a few ticks apart still form one group.
            for (std::size_t i = 0; i < chord.size(); ++i)
                smf.note(start + static_cast<uint32_t>(i) * 6, 4 * eighth - 30 - static_cast<uint32_t>(i) * 6,
                         chord[i], 64, 1);
        }
    }
    std::ofstream out(argv[1], std::ios::binary);
    out << smf.bytes();
    return out ? 0 : 1;
}

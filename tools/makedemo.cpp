// Writes the bundled demo song: Beethoven's "Ode to Joy" (public domain) for two hands, the melody
// in the right hand, rolled chords in the left, with a slowing of the tempo in the last phrase.
// Usage: makedemo <output.mid>

#include <cstdio>
#include <fstream>

#include "support/SmfWriter.h"
#include "tools/DemoSong.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: makedemo <output.mid>\n");
        return 2;
    }
    SmfWriter smf(480, 1);
    smf.text(0, 0x03, "Ode to Joy");
    smf.tempo(0, 500000);
    smf.tempo(12 * demo::bar, 560000);
    smf.tempo(15 * demo::bar, 700000);

    smf.track().text(0, 0x03, "Right hand").program(0, 0, 0);
    for (const demo::Note& n : demo::rightHand()) smf.note(n.ticks, n.length, n.pitch, n.velocity);

    smf.track().text(0, 0x03, "Left hand").program(0, 0, 1).controller(0, 7, 90, 1);
    for (const demo::Note& n : demo::leftHand()) smf.note(n.ticks, n.length, n.pitch, n.velocity, 1);
    std::ofstream out(argv[1], std::ios::binary);
    out << smf.bytes();
    return out ? 0 : 1;
}

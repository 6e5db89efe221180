#include "song/HandSplit.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int reach = 12;
constexpr int fingers = 5;
constexpr int pitches = 128;

// Costs by split pitch 0 ... 128, kept as differences while the moments are added: one moment adds
// the same cost to every split between two of its neighbouring pitches.
struct Costs {
    int64_t outOfReach[pitches + 2] = {};
    int64_t span[pitches + 2] = {};

    void add(int from, int to, int out, int spans) {
        outOfReach[from] += out;
        outOfReach[to + 1] -= out;
        span[from] += spans;
        span[to + 1] -= spans;
    }
    void sum() {
        for (int s = 1; s <= pitches; ++s) {
            outOfReach[s] += outOfReach[s - 1];
            span[s] += span[s - 1];
        }
    }
};

bool outOfReach(int lowest, int highest, int notes) { return notes > 0 && (highest - lowest > reach || notes > fingers); }

// The notes sounding at one moment, by pitch: a split between sorted pitches j - 1 and j gives the
// lower hand the first j of them.
void weighMoment(const uint32_t (&sounding)[pitches], Costs& costs) {
    int p[pitches];
    int k = 0;
    for (int pitch = 0; pitch < pitches; ++pitch)
        if (sounding[pitch]) p[k++] = pitch;
    if (k == 0) return;
    for (int j = 0; j <= k; ++j) {
        const int lowSpan = j > 0 ? p[j - 1] - p[0] : 0;
        const int highSpan = j < k ? p[k - 1] - p[j] : 0;
        const int out = outOfReach(p[0], j > 0 ? p[j - 1] : 0, j) + outOfReach(j < k ? p[j] : 0, p[k - 1], k - j);
        costs.add(j > 0 ? p[j - 1] + 1 : 0, j < k ? p[j] : pitches, out, lowSpan + highSpan);
    }
}

bool better(const Costs& c, int s, int than) {
    if (c.outOfReach[s] != c.outOfReach[than]) return c.outOfReach[s] < c.outOfReach[than];
    if (c.span[s] != c.span[than]) return c.span[s] < c.span[than];
    return std::abs(s - middleC) < std::abs(than - middleC);
}

}  // namespace

uint8_t automaticSplit(const Song& song, uint32_t part) {
    Costs costs;
    uint32_t sounding[pitches] = {};
    int lowest = pitches, highest = -1;
    bool begun = false;
    for (uint32_t i = 0; i < song.numEvents; ++i) {
        const Event& e = song.events[i];
        if (begun && e.ticks != song.events[i - 1].ticks) {
            weighMoment(sounding, costs);
            begun = false;
        }
        if (!e.other) continue;
        if (e.isNoteOn() && e.inst == part) {
            ++sounding[e.pitch & 0x7F];
            lowest = std::min<int>(lowest, e.pitch & 0x7F);
            highest = std::max<int>(highest, e.pitch & 0x7F);
            begun = true;
        } else if (e.isNoteOff() && e.other->inst == part && sounding[e.pitch & 0x7F] > 0) {
            --sounding[e.pitch & 0x7F];
        }
    }
    if (begun) weighMoment(sounding, costs);
    if (lowest >= highest) return middleC;
    costs.sum();
    int best = lowest + 1;
    for (int s = lowest + 2; s <= highest; ++s)
        if (better(costs, s, best)) best = s;
    return static_cast<uint8_t>(best);
}

#include "song/TempoMap.h"

#include <algorithm>
#include <cmath>

#include "song/Song.h"

namespace {

// Before a song's first tempo: 120 quarters a minute.
constexpr double defaultSecondsPerQuarter = 0.5;
constexpr double defaultTicksPerQuarter = 480;
// Song times are sums of tick lengths: a beat this close to a time (in beats) lies at it.
constexpr double beatTolerance = 1e-6;
constexpr uint8_t shortestDenominatorPower = 6;  // sixty-fourths

// Compound time (6/8, 9/8, 12/8 and the like) counts its beats in dotted notes.
bool isCompound(const TimeSignature& signature) {
    return signature.numerator > 3 && signature.numerator % 3 == 0 && signature.denominatorPower >= 3;
}

}  // namespace

TempoMap::TempoMap() {
    tempos_.push_back({0.0, 0.0, defaultSecondsPerQuarter / defaultTicksPerQuarter});
    meters_.push_back({0.0, defaultTicksPerQuarter, 4});
}

void TempoMap::build(const Song& song) {
    const bool beatTimed = song.timeDivisionMethod == 2 && song.ticksPerQuarter > 0;
    const double perQuarter =
        beatTimed ? song.ticksPerQuarter : song.secondsPerTick > 0 ? defaultSecondsPerQuarter / song.secondsPerTick : defaultTicksPerQuarter;
    tempos_.assign(1, {0.0, 0.0, defaultSecondsPerQuarter / perQuarter});
    for (uint32_t i = 0; beatTimed && i < song.numEvents; ++i) {
        const Event& e = song.events[i];
        if (e.type != TYPE_TEMPO || e.tempo == 0) continue;
        const Tempo tempo{static_cast<double>(e.ticks), e.time, e.tempo / 1e6 / perQuarter};
        if (tempo.ticks == tempos_.back().ticks) tempos_.back() = tempo;
        else tempos_.push_back(tempo);
    }
    meters_.assign(1, {0.0, perQuarter, 4});
    for (const TimeSignature& signature : song.timeSignatures) {
        if (signature.numerator == 0 || signature.denominatorPower > shortestDenominatorPower) continue;
        const double note = perQuarter * 4 / (1u << signature.denominatorPower);
        const bool compound = isCompound(signature);
        const Meter meter{static_cast<double>(signature.ticks), compound ? 3 * note : note,
                          compound ? signature.numerator / 3u : signature.numerator};
        if (meter.ticks == meters_.back().ticks) meters_.back() = meter;
        else meters_.push_back(meter);
    }
}

const TempoMap::Tempo& TempoMap::tempoAtTicks(double ticks) const {
    const auto after = std::upper_bound(tempos_.begin(), tempos_.end(), ticks,
                                        [](double t, const Tempo& tempo) { return t < tempo.ticks; });
    return after == tempos_.begin() ? tempos_.front() : *(after - 1);
}

const TempoMap::Meter& TempoMap::meterAtTicks(double ticks) const {
    const auto after = std::upper_bound(meters_.begin(), meters_.end(), ticks,
                                        [](double t, const Meter& meter) { return t < meter.ticks; });
    return after == meters_.begin() ? meters_.front() : *(after - 1);
}

double TempoMap::seconds(double ticks) const {
    const Tempo& tempo = tempoAtTicks(ticks);
    return tempo.seconds + (ticks - tempo.ticks) * tempo.secondsPerTick;
}

double TempoMap::ticks(double seconds) const {
    const auto after = std::upper_bound(tempos_.begin(), tempos_.end(), seconds,
                                        [](double s, const Tempo& tempo) { return s < tempo.seconds; });
    const Tempo& tempo = after == tempos_.begin() ? tempos_.front() : *(after - 1);
    return tempo.ticks + (seconds - tempo.seconds) / tempo.secondsPerTick;
}

Beat TempoMap::beatAt(const Meter& meter, double index) const {
    const double ticks = meter.ticks + index * meter.beatTicks;
    const long long n = meter.beatsPerBar;
    const long long k = std::llround(index);
    return {seconds(ticks), ticks, ((k % n) + n) % n == 0};
}

Beat TempoMap::beatAtOrAfterTicks(double ticks) const {
    const Meter& meter = meterAtTicks(ticks);
    const Beat beat = beatAt(meter, std::ceil((ticks - meter.ticks) / meter.beatTicks - beatTolerance));
    // A time signature that begins before that beat begins with a beat of its own.
    const Meter* next = &meter + 1;
    if (next != meters_.data() + meters_.size() && beat.ticks >= next->ticks - beatTolerance * meter.beatTicks)
        return beatAt(*next, 0);
    return beat;
}

Beat TempoMap::beatAtOrAfter(double seconds) const { return beatAtOrAfterTicks(ticks(seconds)); }

Beat TempoMap::nextBeat(const Beat& beat) const {
    return beatAtOrAfterTicks(beat.ticks + meterAtTicks(beat.ticks).beatTicks / 2);
}

Beat TempoMap::previousBeat(const Beat& beat) const {
    const Meter& meter = meterAtTicks(beat.ticks - beatTolerance * meters_.front().beatTicks);
    return beatAt(meter, std::ceil((beat.ticks - meter.ticks) / meter.beatTicks - beatTolerance) - 1);
}

uint32_t TempoMap::beatsPerBar(double seconds) const {
    const Meter& meter = meterAtTicks(ticks(seconds));
    const Meter* next = &meter + 1;
    if (next == meters_.data() + meters_.size()) return meter.beatsPerBar;
    // A single bar shorter than the bars after it.
    const double bar = meter.beatsPerBar * meter.beatTicks;
    const bool pickup = next->ticks - meter.ticks <= bar * (1 + beatTolerance) && bar < next->beatsPerBar * next->beatTicks;
    return pickup ? next->beatsPerBar : meter.beatsPerBar;
}

double TempoMap::beatsPerMinute(double seconds) const {
    const double at = ticks(seconds);
    return 60.0 / (meterAtTicks(at).beatTicks * tempoAtTicks(at).secondsPerTick);
}

#include "perform/Metronome.h"

#include "midi/MessageKinds.h"

namespace {

// Seconds: a beat this close to a time lies at it.
constexpr double sameTime = 1e-6;

}  // namespace

void Metronome::follow(const TempoMap& map, const TimeLine& line, double from, double to, double fromWall) {
    const Beat first = map.beatAtOrAfter(from);
    start(line, first, to, first.time <= from + sameTime ? fromWall : line.at(first.time), false);
}

double Metronome::countIn(const TempoMap& map, double groupTime, double introStart, double ratio, double now) {
    Beat first = map.beatAtOrAfter(groupTime);
    for (uint32_t n = map.beatsPerBar(groupTime); n > 0; --n) first = map.previousBeat(first);
    while (first.time > introStart + sameTime) first = map.previousBeat(first);
    const double firstWall = now + countInDelay;
    const double groupWall = firstWall + (groupTime - first.time) * ratio;
    start({groupTime, groupWall, ratio}, first, groupTime, firstWall, true);
    return groupWall;
}

void Metronome::start(const TimeLine& line, const Beat& first, double to, double firstWall, bool countIn) {
    run_ = (run_ + 1) & runMask;
    line_ = line;
    next_ = first;
    to_ = to;
    countIn_ = countIn;
    firstOfRun_ = true;
    running_ = first.time < to - sameTime;
    if (running_) queueClick(firstWall);
}

void Metronome::play(uint32_t entry, const TempoMap& map, double due) {
    const uint32_t run = (entry - firstEntry) >> 1;
    if ((entry - firstEntry) & 1) {
        if (run == soundingRun_) endClick(due);
        return;
    }
    if (running_ && run == run_) click(map, due);
}

void Metronome::stop() {
    run_ = (run_ + 1) & runMask;
    running_ = false;
    endClick(0.0);
}

void Metronome::endClick(double due) {
    if (sounding_ == 0) return;
    output_.sendClick({static_cast<uint8_t>(midi::noteOff | channel), sounding_, 0}, due);
    sounding_ = 0;
}

void Metronome::queueClick(double due) {
    if (!scheduler_.add(firstEntry + (run_ << 1), due)) running_ = false;
}

// Sounds the waiting beat, queues its end and the next beat's click.
void Metronome::click(const TempoMap& map, double due) {
    const bool accent = countIn_ ? firstOfRun_ : next_.barStart;
    firstOfRun_ = false;
    endClick(due);
    sounding_ = accent ? accentNote : beatNote;
    soundingRun_ = run_;
    output_.sendClick({static_cast<uint8_t>(midi::noteOn | channel), sounding_, accent ? accentVelocity : beatVelocity},
                      due);
    if (!scheduler_.add(firstEntry + (run_ << 1 | 1), due + clickSeconds)) endClick(due);
    next_ = map.nextBeat(next_);
    running_ = next_.time < to_ - sameTime;
    if (running_) queueClick(line_.at(next_.time));
}

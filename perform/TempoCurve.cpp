#include "perform/TempoCurve.h"

TempoCurve::TempoCurve(uint32_t capacity) : points_(std::make_unique<TempoPoint[]>(capacity)), capacity_(capacity) {}

void TempoCurve::add(double songTime, double percent) {
    if (!(percent > 0) || count_ == capacity_) return;
    points_[count_++] = {songTime, static_cast<float>(percent), joining_};
    joining_ = true;
    shown_ = true;
}

void TempoCurve::breakLine() {
    joining_ = false;
    shown_ = false;
}

void TempoCurve::clear() {
    count_ = 0;
    breakLine();
}

double PerformerTempo::percentAt(double songTime, double clockTime) {
    const double songSpan = songTime - songTime_;
    const double clockSpan = clockTime - clockTime_;
    const bool first = !measured_ || songSpan < 0 || !(clockSpan > 0);
    if (!first && songSpan < shortestSpan) return 0;
    measured_ = true;
    songTime_ = songTime;
    clockTime_ = clockTime;
    return first ? 0 : 100 * songSpan / clockSpan;
}

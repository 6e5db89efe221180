#include "perform/TempoTracker.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// One fit of the bank: with or without a trend, how much each older tap counts less, how many of
// the last taps it looks at, and how much worse it must be believed at the start (it is noisier
// than the long steady fit until the taps show otherwise).
struct Model {
    bool trend;
    double forgetting;
    uint32_t window;
    double handicap;
};

constexpr Model models[TempoTracker::modelCount] = {
    {false, 1.0, 2, 4.0},    // the tempo of the last span: follows a step at once
    {true, 1.0, 3, 8.0},     // the trend through the last three taps: a ritardando without jitter
    {false, 0.9, 16, 1.0},   // a steady tempo over many taps: smooths jitter
    {true, 0.85, 12, 1.5},   // a trend over many taps: a ritardando through jitter
    {false, 0.5, 6, 1.5},    // a steady tempo over a few taps: settles after a change
};

// How far the fits believe the tempo may lie from the last estimate before the taps show it, and
// how fast it may be changing (the fit's c: half the ratio's change per song second).
constexpr double ratioPriorSpread = 0.1;
constexpr double trendPriorSpread = 0.3;
// The tap noise guessed before any tap (a good performer's jitter), never below the floor.
constexpr double initialNoise = 0.010;
constexpr double noiseFloor = 0.001;
// The guess counts as this many taps.
constexpr double guessTaps = 1.0;
// How much of the running error and of the score the previous taps keep.
constexpr double errorMemory = 0.8;
constexpr double scoreMemory = 0.8;
// An error counts at most as this many standard deviations, so that one slip does not rule.
constexpr double outlierSigmas = 4.0;
// A tap this many standard deviations off, and a few percent of its span beyond, is a change of
// tempo; a span shorter than fullWeightSpan is too short to tell one.
constexpr double changeSigmas = 4.0;
constexpr double changeFraction = 0.04;
// The smoothed phase gives way to the tap itself as the tap's miss grows past this many standard
// deviations of the recent misses: a tap that far off is meant, and the next beats follow it.
constexpr double trustedMiss = 3.0;
// Song seconds: a tap whose next group lies closer counts in proportion.
constexpr double fullWeightSpan = 0.2;
// A tap later than predicted by more than the predicted span, and by this many seconds at least,
// is a pause.
constexpr double pauseLateness = 1.0;

constexpr double infinity = std::numeric_limits<double>::infinity();

uint32_t dimension(const Model& model) { return model.trend ? 3 : 2; }

// Inverts a symmetric positive matrix of dimension 2 or 3 by Gauss-Jordan elimination; false when
// it is singular.
bool invert(double m[3][3], uint32_t n, double inverse[3][3]) {
    for (uint32_t i = 0; i < n; ++i)
        for (uint32_t j = 0; j < n; ++j) inverse[i][j] = i == j ? 1.0 : 0.0;
    for (uint32_t col = 0; col < n; ++col) {
        uint32_t pivot = col;
        for (uint32_t row = col + 1; row < n; ++row)
            if (std::fabs(m[row][col]) > std::fabs(m[pivot][col])) pivot = row;
        if (!(std::fabs(m[pivot][col]) > 1e-18)) return false;
        for (uint32_t j = 0; j < n; ++j) {
            std::swap(m[col][j], m[pivot][j]);
            std::swap(inverse[col][j], inverse[pivot][j]);
        }
        const double scale = 1.0 / m[col][col];
        for (uint32_t j = 0; j < n; ++j) {
            m[col][j] *= scale;
            inverse[col][j] *= scale;
        }
        for (uint32_t row = 0; row < n; ++row) {
            if (row == col) continue;
            const double factor = m[row][col];
            for (uint32_t j = 0; j < n; ++j) {
                m[row][j] -= factor * m[col][j];
                inverse[row][j] -= factor * inverse[col][j];
            }
        }
    }
    return true;
}

}  // namespace

double TempoTracker::Fit::spanRatio(double span) const { return std::clamp(r + c * span, fastest, slowest); }

double TempoTracker::Fit::leverage(double x, bool trend) const {
    if (!solved) return 1.0;
    const double f[3] = {1.0, x, x * x};
    const uint32_t n = trend ? 3 : 2;
    double sum = 0.0;
    for (uint32_t i = 0; i < n; ++i)
        for (uint32_t j = 0; j < n; ++j) sum += f[i] * inverse[i][j] * f[j];
    return sum;
}

void TempoTracker::restart(double startRatio) {
    startRatio_ = std::clamp(startRatio, fastest, slowest);
    count_ = 0;
    priorRatio_ = startRatio_;
    noise_ = priorNoise_ = innovation_ = initialNoise * initialNoise;
    observed_ = 0;
    surprise_ = 0.0;
    for (uint32_t m = 0; m < modelCount; ++m) {
        error_[m] = noise_ * models[m].handicap;
        score_[m] = -std::log(models[m].handicap);
        fits_[m] = Fit{};
        fits_[m].r = startRatio_;
    }
    blendWeights();
    line_ = {0.0, 0.0, startRatio_};
}

void TempoTracker::startAt(double songTime, double wallTime) { line_ = {songTime, wallTime, startRatio_}; }

void TempoTracker::tap(double at, double songTime, double nextSongTime) {
    const double weight = std::clamp((nextSongTime - songTime) / fullWeightSpan, 0.0, 1.0);
    if (count_ == 0) {
        firstTap(at, songTime, weight);
        return;
    }
    const Point last = points_[count_ - 1];
    const double span = songTime - last.song;
    if (!(span > 0.0)) return;
    double predicted[modelCount];
    const double expected = predict(last, span, predicted);
    if (isPause(at - expected, expected - last.wall)) {
        restart(startRatio_);
        firstTap(at, songTime, weight);
        return;
    }
    learn(at, last, span, expected, predicted, weight);
    push({at, songTime, weight});
    refit();
    blendWeights();
    setLine(songTime, nextSongTime, span);
}

double TempoTracker::predict(const Point& last, double span, double* predicted) const {
    double blended = 0.0;
    for (uint32_t m = 0; m < modelCount; ++m) {
        predicted[m] = last.wall + fits_[m].a + fits_[m].spanRatio(span) * span;
        blended += weight_[m] * predicted[m];
    }
    return blended;
}

void TempoTracker::learn(double at, const Point& last, double span, double expected, const double* predicted,
                         double weight) {
    const double miss = at - expected;
    surprise_ = miss * miss / std::max(innovation_, noiseFloor * noiseFloor);
    const bool change = span >= fullWeightSpan && weight >= 1.0 &&
                        std::fabs(miss) > changeSigmas * std::sqrt(innovation_) + changeFraction * (expected - last.wall);
    score(at, predicted, span);
    const double gain = std::max(1.0 - errorMemory, 1.0 / observed_);
    innovation_ += gain * (std::min(miss * miss, outlierSigmas * outlierSigmas * innovation_) - innovation_);
    double a = 0.0;
    blend(span, a, priorRatio_);
    if (change) startOver(last, (at - last.wall) / span);
}

// Only the last span speaks for the new tempo; every fit begins again from it.
void TempoTracker::startOver(const Point& last, double ratio) {
    points_[0] = last;
    count_ = 1;
    priorRatio_ = std::clamp(ratio, fastest, slowest);
    observed_ = 0;
    for (uint32_t m = 0; m < modelCount; ++m) {
        error_[m] = noise_;
        score_[m] = -std::log(models[m].handicap);
    }
}

void TempoTracker::firstTap(double at, double songTime, double weight) {
    count_ = 0;
    push({at, songTime, weight});
    for (Fit& fit : fits_) {
        fit = Fit{};
        fit.r = priorRatio_;
    }
    line_ = {songTime, at, priorRatio_};
}

bool TempoTracker::isPause(double lateness, double predictedSpan) const {
    return lateness > pauseLateness && lateness > predictedSpan;
}

// Each fit is scored by how likely it made this tap, given the noise and how far ahead it had to
// look; the noise itself is the smallest running error among the fits.
void TempoTracker::score(double at, const double* predicted, double span) {
    ++observed_;
    const double gain = std::max(1.0 - errorMemory, 1.0 / observed_);
    const double limit = outlierSigmas * outlierSigmas;
    for (uint32_t m = 0; m < modelCount; ++m) {
        const double spread = 1.0 + fits_[m].leverage(span, models[m].trend);
        const double variance = noise_ * spread;
        const double error = (at - predicted[m]) * (at - predicted[m]);
        score_[m] = scoreMemory * score_[m] - 0.5 * (std::min(error, limit * variance) / variance + std::log(spread));
        error_[m] += gain * (std::min(error, limit * std::max(noise_, priorNoise_)) - error_[m]);
    }
    noise_ = std::max(noiseFloor * noiseFloor, *std::min_element(error_, error_ + modelCount));
    priorNoise_ = std::max(noise_, initialNoise * initialNoise * guessTaps / (guessTaps + observed_));
    blendWeights();
}

void TempoTracker::push(const Point& point) {
    if (count_ == maxTaps) {
        std::copy(points_ + 1, points_ + maxTaps, points_);
        --count_;
    }
    points_[count_++] = point;
}

void TempoTracker::refit() {
    for (uint32_t m = 0; m < modelCount; ++m) fits_[m] = fit(m);
}

// Weighted least squares of wall time on song time, both relative to the last tap, with priors
// that hold the ratio near the last estimate and the trend near none while the taps say little.
TempoTracker::Fit TempoTracker::fit(uint32_t model) const {
    const Model& shape = models[model];
    const uint32_t n = dimension(shape);
    const uint32_t first = count_ > shape.window ? count_ - shape.window : 0;
    const Point& last = points_[count_ - 1];
    double m[3][3] = {};
    double b[3] = {};
    double forget = 1.0;
    for (uint32_t i = count_; i-- > first;) {
        const double x = points_[i].song - last.song;
        const double y = points_[i].wall - last.wall;
        const double w = forget * points_[i].weight;
        const double f[3] = {1.0, x, x * x};
        for (uint32_t p = 0; p < n; ++p) {
            b[p] += w * f[p] * y;
            for (uint32_t q = 0; q < n; ++q) m[p][q] += w * f[p] * f[q];
        }
        forget *= shape.forgetting;
    }
    const double ratioPrior = priorNoise_ / (ratioPriorSpread * ratioPriorSpread);
    m[1][1] += ratioPrior;
    b[1] += ratioPrior * priorRatio_;
    if (shape.trend) m[2][2] += priorNoise_ / (trendPriorSpread * trendPriorSpread);

    Fit result;
    result.r = priorRatio_;
    if (!invert(m, n, result.inverse)) return result;
    result.solved = true;
    double solution[3] = {};
    for (uint32_t p = 0; p < n; ++p)
        for (uint32_t q = 0; q < n; ++q) solution[p] += result.inverse[p][q] * b[q];
    result.a = solution[0];
    result.r = solution[1];
    result.c = solution[2];
    return result;
}

void TempoTracker::blendWeights() {
    const double best = *std::max_element(score_, score_ + modelCount);
    double sum = 0.0;
    for (uint32_t m = 0; m < modelCount; ++m) sum += weight_[m] = std::exp(score_[m] - best);
    for (double& w : weight_) w /= sum;
}

void TempoTracker::blend(double span, double& a, double& ratio) const {
    a = ratio = 0.0;
    for (uint32_t m = 0; m < modelCount; ++m) {
        a += weight_[m] * fits_[m].a;
        ratio += weight_[m] * fits_[m].spanRatio(span);
    }
}

void TempoTracker::setLine(double songTime, double nextSongTime, double fallbackSpan) {
    const double ahead = nextSongTime < infinity ? nextSongTime - songTime : fallbackSpan;
    double a = 0.0;
    double ratio = 1.0;
    blend(ahead, a, ratio);
    a /= 1.0 + surprise_ / (trustedMiss * trustedMiss);
    line_ = {songTime, points_[count_ - 1].wall + a, ratio};
}

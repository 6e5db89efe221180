#pragma once
// Where the performer is and how fast they are going, from their taps: the wall-clock time each
// coming song time will be reached, so that the Follow parts and the metronome land with the
// performer's next beats rather than a beat behind them.
//
// Each tap is a point: its wall-clock time against its group's song time. A bank of least-squares
// fits of wall time on song time runs over the last taps: a steady tempo over the last span, a
// trend through the last three taps, a steady tempo and a trend over many taps, and a steady tempo
// over a few. The long fits smooth the performer's jitter, the short ones follow a sudden change,
// the trend fits anticipate an accelerando or a ritardando. They are blended by how well each
// predicted the recent taps, judged against the noise the taps show: playing without jitter is
// followed by whichever fit is right, jittery playing by the fits that smooth it.
//
// The prediction over the span to the next group is a straight line from the smoothed position of
// the last tap (its phase), at the tempo the blend expects across that span (its trend included).
//
// A second group at one song time (a split chord) says nothing about tempo and is ignored; a tap
// whose next group lies very close (grace notes, a rolled chord) counts in proportion to that
// distance. A tap far later than predicted is a pause: the passage begins afresh at the start
// tempo. A tap far off the prediction of a long span is a change of tempo: the fits begin again
// from the last span.
//
// Allocates nothing: all state is of fixed size.

#include <cstdint>

// Wall-clock time as a straight line of song time.
struct TimeLine {
    double songTime = 0.0;
    double wallTime = 0.0;
    double ratio = 1.0;  // wall seconds per song second
    double at(double song) const { return wallTime + (song - songTime) * ratio; }
};

class TempoTracker {
public:
    // The ratio is kept within these: four times slower and four times faster than the song.
    static constexpr double slowest = 4.0;
    static constexpr double fastest = 0.25;
    // Taps kept: more than the longest fit uses.
    static constexpr uint32_t maxTaps = 16;
    static constexpr uint32_t modelCount = 5;

    TempoTracker() { restart(1.0); }

    // A new passage: no taps, the tempo at startRatio until the first taps correct it.
    void restart(double startRatio);
    // Before the passage's first tap (a count-in): songTime falls at wallTime, at the start tempo.
    void startAt(double songTime, double wallTime);
    // A tap at wall-clock time `at` of the group at songTime; the next group lies at nextSongTime
    // (infinity when there is none).
    void tap(double at, double songTime, double nextSongTime);

    // The prediction from the last tap over the span ahead.
    const TimeLine& line() const { return line_; }
    double ratio() const { return line_.ratio; }
    double startRatio() const { return startRatio_; }
    // Taps counted in this passage's fits; 0 before its first tap.
    uint32_t taps() const { return count_; }

private:
    struct Point {
        double wall;
        double song;
        double weight;
    };
    struct Fit {
        double a = 0.0;  // the last tap's smoothed time, relative to the tap
        double r = 1.0;  // ratio at the last tap
        double c = 0.0;  // half the ratio's change per song second
        double inverse[3][3] = {};
        bool solved = false;
        // Wall seconds per song second across a span of this length, within slowest and fastest.
        double spanRatio(double span) const;
        // How much more uncertain a prediction this far ahead is than one tap: f'A^-1 f.
        double leverage(double x, bool trend) const;
    };

    void firstTap(double at, double songTime, double weight);
    // The tap came later than predicted by more than the whole predicted span, and not by a little.
    bool isPause(double lateness, double predictedSpan) const;
    // Each fit's prediction of a tap a span after the last one, and the blend's.
    double predict(const Point& last, double span, double* predicted) const;
    // What the tap teaches: the scores, the noise, and whether the tempo changed.
    void learn(double at, const Point& last, double span, double expected, const double* predicted, double weight);
    void startOver(const Point& last, double ratio);
    void score(double at, const double* predicted, double span);
    void push(const Point& point);
    void refit();
    Fit fit(uint32_t model) const;
    void blendWeights();
    // The blend's smoothed offset and span ratio for a span of this length.
    void blend(double span, double& a, double& ratio) const;
    void setLine(double songTime, double nextSongTime, double fallbackSpan);

    double startRatio_ = 1.0;
    Point points_[maxTaps] = {};
    uint32_t count_ = 0;
    Fit fits_[modelCount];
    double weight_[modelCount] = {};
    // Per fit: the running mean square of its prediction errors, and its score (a log-likelihood
    // of the recent taps under it, older taps counting less).
    double error_[modelCount] = {};
    double score_[modelCount] = {};
    // The noise of the taps around the best fit; the same for the priors, which start from a guess.
    double noise_ = 0.0;
    double priorNoise_ = 0.0;
    // The running mean square of the blend's own prediction errors.
    double innovation_ = 0.0;
    uint32_t observed_ = 0;
    // The tempo the fits lean towards while the taps say little: the blend's last estimate.
    double priorRatio_ = 1.0;
    // The last tap's miss squared, in mean squares of the recent misses.
    double surprise_ = 0.0;
    TimeLine line_;
};

#include "ui/Scene.h"

#include <algorithm>
#include <cmath>

#include "song/Meta.h"

namespace {

constexpr Color white{1, 1, 1, 1};
constexpr Color grey{0.5f, 0.5f, 0.5f, 1};
constexpr char markerLabels[] = "1234567890etTfF";
constexpr uint32_t maxMarkers = 12;

const Event* lastEvent(const Song& song) { return song.numEvents ? &song.events[song.numEvents - 1] : nullptr; }

bool isFirstEvent(const Song& song, const Event* e) { return e->isFirst || e == song.events; }
bool isLastEvent(const Song& song, const Event* e) { return e->isLast || e == lastEvent(song); }

// The number of pitch steps between the song's lowest and highest note; 0 for a song without notes.
int pitchSpan(const Song& song) { return std::max(0, song.highestPitch - song.lowestPitch); }

Role roleOf(const ViewFrame& frame, const Event& e) { return frame.meta ? frame.meta->parts.roleOf(e) : Role::Play; }

const Instrument* instrumentOf(const Song& song, const Event& e) {
    return e.inst < song.numInstruments ? &song.instruments[e.inst] : nullptr;
}

double markerSpanX(double t, double t0, double t1) {
    const double span = t1 - t0;
    if (!(span > 0) || !std::isfinite(span)) return 0.0;
    return (t - t0) / span;
}

Bar noteBar(const ViewFrame& frame, const Event& e, double x0, double x1, double t) {
    const double yc = localRowCentre(frame, e.pitch);
    const double half = localRowHeight(frame) / 2 + static_cast<double>(frame.noteWidth) / frame.windowHeight;
    return {x0, yc + half, x1, yc - half, noteColor(frame, e, t)};
}

}  // namespace

double drawableZoom(double zoom) {
    if (std::isnan(zoom)) return 10.0;
    return std::clamp(zoom, minDrawableZoom, maxDrawableZoom);
}

const Event* eventAt(const Song& song, int32_t position) {
    if (position < 0) return nullptr;
    return song.event(static_cast<uint32_t>(position));
}

const Event* centreNote(const Song& song, int32_t position) {
    const Event* last = lastEvent(song);
    if (!last || position < 0) return last;
    for (uint32_t i = static_cast<uint32_t>(position); i < song.numEvents; ++i) {
        const Event* e = &song.events[i];
        if (e->isNoteOn()) return e;
        if (isLastEvent(song, e)) break;
    }
    return last;
}

bool localSpan(const ViewFrame& frame, LocalSpan& span) {
    const Song& song = *frame.song;
    span.centre = centreNote(song, frame.position);
    if (!span.centre) return false;
    span.zoom = frame.zoom;
    span.left = span.centre->time - frame.zoom / 2;
    span.right = span.centre->time + frame.zoom / 2;
    const Event* at = eventAt(song, frame.position);
    span.now = (at ? at : lastEvent(song))->time;
    return true;
}

double localX(const LocalSpan& span, double t) { return (t - span.left) / span.zoom; }

double overviewX(double t, double songLength) {
    if (!(songLength > 0) || !std::isfinite(songLength)) return 0.0;
    return t / songLength;
}

double localRowHeight(const ViewFrame& frame) { return frame.bands.localView.height / (pitchSpan(*frame.song) + 3); }

double localRowCentre(const ViewFrame& frame, int pitch) {
    const double nh = localRowHeight(frame);
    return frame.bands.localView.bottom + (pitch - frame.song->lowestPitch) * nh + nh / 2;
}

double overviewRowHeight(const ViewFrame& frame) { return frame.bands.overView.height / (pitchSpan(*frame.song) + 1); }

double overviewRowBottom(const ViewFrame& frame, int pitch) {
    return frame.bands.overView.bottom + (pitch - frame.song->lowestPitch) * overviewRowHeight(frame);
}

double overviewRowTop(const ViewFrame& frame, int pitch) {
    return frame.bands.overView.bottom + (pitch - frame.song->lowestPitch + 1) * overviewRowHeight(frame);
}

bool isSounding(const Event& e, double t) { return e.other && e.time < t && t < e.other->time; }

// A part Nolari follows with is drawn pale throughout, so the performer sees which notes are theirs.
Color noteColor(const ViewFrame& frame, const Event& e, double t) {
    const bool sounding = isSounding(e, t);
    const bool pale = sounding || roleOf(frame, e) == Role::Follow;
    if (frame.colorScheme == 1) return sounding ? white : pale ? lighten(grey) : grey;
    if (frame.colorScheme == 3) {
        const int p = e.pitch & 127;
        return pale ? frame.palePitchColors[p] : frame.pitchColors[p];
    }
    const Instrument* inst = instrumentOf(*frame.song, e);
    if (!inst) return sounding ? white : grey;
    if (frame.colorScheme == 2) return pale ? inst->paleNarrowColor : inst->narrowColor;
    return pale ? inst->paleColor : inst->color;
}

// Bars for the events around the centre note, then the group marks from the centre note to the
// right edge: the past half of the view shows bars alone.
LocalScene localScene(const ViewFrame& frame) {
    LocalScene scene;
    const Song& song = *frame.song;
    LocalSpan span;
    if (!localSpan(frame, span)) return scene;

    const Event* first = span.centre;
    while (!isFirstEvent(song, first) && (first - 1)->time >= span.left) --first;
    // The end is one past the last drawn event; the song's last event is drawn when it is in the
    // window, so that the tail of a final note is not lost.
    const Event* end = span.centre;
    while (end->time <= span.right && !isLastEvent(song, end)) ++end;
    if (isLastEvent(song, end) && end->time <= span.right) ++end;

    for (const Event* e = first; e != end; ++e) {
        if (!e->isNote() || !e->other || roleOf(frame, *e) == Role::Mute) continue;
        if (e->isNoteOn()) {
            const double x1 = localX(span, std::min(e->other->time, span.right));
            scene.bars.push_back(noteBar(frame, *e, localX(span, e->time), x1, span.now));
        } else if (e->isNoteOff() && e->other->time < span.left) {
            scene.bars.push_back(noteBar(frame, *e, 0.0, localX(span, e->time), span.now));
        }
    }

    double lastX = 0, lastDrop = 0, baseX = 0;
    Color lastColour{};
    bool seen = false;
    // The marks and links join the performer's own notes only.
    for (const Event* e = span.centre; e != end; ++e) {
        if (!e->isNoteOn() || roleOf(frame, *e) != Role::Play) continue;
        const double x = localX(span, e->time);
        if (e->start) {
            double drop = 0;
            if (lastX + triangleSize > x && baseX + triangleSize > x) {
                drop = lastDrop + triangleSize;
            } else {
                baseX = x;
            }
            scene.marks.push_back({x, drop});
            const Instrument* inst = instrumentOf(song, *e);
            lastColour = inst ? inst->paleColor : white;
            lastX = x;
            lastDrop = drop;
            seen = true;
        } else if (seen) {
            scene.links.push_back({lastX, x, 1 - lastDrop - triangleSize, lastColour});
        }
    }
    return scene;
}

// Counted in whole pixels rather than by adding 1/windowWidth until w/2 is reached, which in
// floating point can add one line too many.
std::vector<double> groupLineOffsets(int lineWidth, int windowWidth) {
    std::vector<double> offsets;
    const double pixel = 1.0 / windowWidth;
    const double w = lineWidth * pixel;
    for (int k = 0; k < lineWidth; ++k) offsets.push_back(-w / 2 + k * pixel);
    return offsets;
}

std::vector<MarkerBox> markerBoxes(const ViewFrame& frame, double t0, double t1) {
    std::vector<MarkerBox> boxes;
    const Meta& meta = *frame.meta;
    const uint32_t count = std::min(meta.numMarkers(), maxMarkers);
    const double width = 10.0 / frame.windowWidth;
    for (uint32_t i = 0; i < count; ++i) {
        const Event* e = frame.song->event(meta.markers[i]);
        if (!e) continue;
        const double x0 = markerSpanX(e->time, t0, t1) - width / 2;
        const Passage& passage = frame.passage;
        const bool endsPassage = passage.exists && (meta.markers[i] == passage.start || meta.markers[i] == passage.end);
        boxes.push_back({x0, x0 + width, markerLabels[i], endsPassage});
    }
    return boxes;
}

bool localMarkSpan(const ViewFrame& frame, double& t0, double& t1) {
    const Event* at = eventAt(*frame.song, frame.position);
    if (!at) return false;
    t0 = at->time - frame.zoom / 2;
    t1 = t0 + frame.zoom;
    return true;
}

Bar scopeRect(const ViewFrame& frame) {
    LocalSpan span;
    localSpan(frame, span);
    const double length = frame.song->endTime;
    return {overviewX(span.left, length), frame.bands.overView.top, overviewX(span.right, length),
            frame.bands.scope.bottom, Color{0.2f, 0.2f, 0.2f, 1}};
}

namespace {

// The overview's bar for an event; false for an event it does not show.
bool overviewBar(const ViewFrame& frame, const Event& e, Bar& bar) {
    if (!e.isNoteOn() || !e.other || roleOf(frame, e) == Role::Mute) return false;
    const double length = frame.song->endTime;
    const double x0 = overviewX(e.time, length);
    const double x1 = std::max(overviewX(e.other->time, length), x0 + 2.0 / frame.windowWidth);
    bar = {x0, overviewRowBottom(frame, e.pitch), x1, overviewRowTop(frame, e.pitch), noteColor(frame, e, 0.0)};
    return true;
}

// Pixel columns [first, end) of one pitch's row that later bars are sure to paint.
struct PaintedColumns {
    long first = 0, end = 0;
    bool holds(long a, long b) const { return first <= a && b <= end; }
    void add(long a, long b) {
        if (a >= b) return;
        if (first < end && a <= end && b >= first) {
            first = std::min(first, a);
            end = std::max(end, b);
        } else {
            first = a;
            end = b;
        }
    }
};

// Where a bar's edge lands in window pixels, as the rasterizer maps device coordinates. A pixel
// column takes a bar's colour when its centre (column + 0.5) lies within the bar; the margin covers
// the rasterizer's rounding of the edges.
double windowX(double f, int width) { return (static_cast<double>(ndc(f)) + 1.0) * width / 2.0; }
constexpr double roundingMargin = 1.0 / 64;
// Beyond any window: a bar with an edge out there (a window of no width) is always drawn.
constexpr double farColumn = 1e9;

// True when the row's later bars paint every pixel column a bar from x0 to x1 can touch; else the
// columns the bar is sure to paint join the row's run.
bool paintedOver(PaintedColumns& row, double x0, double x1) {
    if (!(std::fabs(x0) < farColumn && std::fabs(x1) < farColumn)) return false;
    const auto firstCentreFrom = [](double x) { return static_cast<long>(std::ceil(x - 0.5)); };
    const long touchedFirst = firstCentreFrom(x0 - roundingMargin);
    const long touchedEnd = static_cast<long>(std::floor(x1 + roundingMargin - 0.5)) + 1;
    if (row.holds(touchedFirst, touchedEnd)) return true;
    row.add(firstCentreFrom(x0 + roundingMargin), firstCentreFrom(x1 - roundingMargin));
    return false;
}

}  // namespace

std::vector<Bar> overviewBars(const ViewFrame& frame) {
    const Song& song = *frame.song;
    std::vector<Bar> bars;
    bars.reserve(song.numEvents / 2);
    Bar bar;
    for (uint32_t i = 0; i < song.numEvents; ++i)
        if (overviewBar(frame, song.events[i], bar)) bars.push_back(bar);
    return bars;
}

// From the last note back, each pitch keeps the run of pixel columns its later bars paint; a bar
// that can touch no column outside that run changes no pixel and is left out. The rows of one
// pitch are the same pixel rows for every bar.
std::vector<Bar> paintedOverviewBars(const ViewFrame& frame) {
    const Song& song = *frame.song;
    std::vector<Bar> bars;
    PaintedColumns painted[128];
    Bar bar;
    for (uint32_t i = song.numEvents; i-- > 0;) {
        const Event& e = song.events[i];
        if (!overviewBar(frame, e, bar)) continue;
        const int w = frame.windowWidth;
        if (!paintedOver(painted[e.pitch & 127], windowX(bar.x0, w), windowX(bar.x1, w))) bars.push_back(bar);
    }
    std::reverse(bars.begin(), bars.end());
    return bars;
}

Click clickTarget(const ViewFrame& frame, int x, int y) {
    const double fx = static_cast<double>(x) / frame.windowWidth;
    const double fy = 1.0 - static_cast<double>(y) / frame.windowHeight;
    const double length = frame.song->endTime;
    LocalSpan span;
    if (!localSpan(frame, span)) return {};
    const double localT = span.left + frame.zoom * fx;
    const Layout& b = frame.bands;
    if (b.localView.contains(fy)) return {Click::group, localT};
    if (b.localMarks.contains(fy)) return {Click::marker, localT};
    if (b.overView.contains(fy)) return {Click::group, length * fx};
    if (b.overViewMarks.contains(fy)) return {Click::marker, length * fx};
    return {};
}

// Walks from the position towards t and keeps the last group start passed, so the position
// approaches the clicked time from its own side and never passes it.
int32_t seekGroupTarget(const Song& song, int32_t position, double t) {
    const Event* p = eventAt(song, position);
    if (!p) p = lastEvent(song);
    if (!p) return -1;
    const Event* found = nullptr;
    if (t < p->time) {
        while (t < p->time) {
            if (p->start) found = p;
            if (isFirstEvent(song, p)) break;
            --p;
        }
    } else if (t > p->time) {
        while (t > p->time) {
            if (p->start) found = p;
            if (isLastEvent(song, p)) break;
            ++p;
        }
    }
    return found ? static_cast<int32_t>(found - song.events) : -1;
}

int32_t seekMarkerTarget(const Song& song, const Meta& meta, double t) {
    const uint32_t count = std::min(meta.numMarkers(), maxMarkers);
    int32_t best = -1;
    double bestDistance = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const Event* e = song.event(meta.markers[i]);
        if (!e) continue;
        const double d = std::fabs(e->time - t);
        if (best < 0 || d < bestDistance) {
            best = static_cast<int32_t>(meta.markers[i]);
            bestDistance = d;
        }
    }
    return best;
}

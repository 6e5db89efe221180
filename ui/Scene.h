#pragma once
// What the display shows and where a click leads, computed without OpenGL: the time and pitch
// mappings, the centre note, note colours, the local view's bars and group marks, the marker
// boxes, the overview's bars and scope rectangle, and the positions the mouse moves to.
// Every coordinate is a window fraction: x 0 at the left edge, y 0 at the bottom edge.

#include <cstdint>
#include <vector>

#include "perform/Loop.h"
#include "perform/TempoCurve.h"
#include "song/Song.h"
#include "ui/Layout.h"

class Meta;

// Everything one frame is drawn from. The display copies the position once at the start of a
// frame, so that a tap arriving from MIDI input while it draws cannot tear the picture.
struct ViewFrame {
    const Song* song = nullptr;
    const Meta* meta = nullptr;
    Layout bands;
    int32_t position = 0;
    Passage passage;  // the loop's passage, whose markers are drawn in a colour of their own
    double zoom = 10.0;  // seconds across the local view, already made drawable
    int colorScheme = 0;
    int lineWidth = 1;
    int noteWidth = 1;
    int windowWidth = 1;
    int windowHeight = 1;
    const Color* pitchColors = nullptr;      // 128 base colours by note number
    const Color* palePitchColors = nullptr;  // 128 pale colours by note number
    // The tempo curve's points to draw in the overview; none while it is not shown.
    const TempoPoint* tempoPoints = nullptr;
    uint32_t tempoCount = 0;
};

// The stored zoom may be anything a metadata file holds; drawing and click mapping use it
// within 0.01 s .. 10 000 s (a value that is not a number counts as the default 10 s).
constexpr double minDrawableZoom = 0.01;
constexpr double maxDrawableZoom = 10000.0;
double drawableZoom(double zoom);

// The event at the position, or null when the position is not an index into the event list.
const Event* eventAt(const Song& song, int32_t position);
// The first note-on at or after the position; the song's last event when there is none; null
// for a song without events.
const Event* centreNote(const Song& song, int32_t position);

// The local view's time window, centred on the centre note.
struct LocalSpan {
    const Event* centre = nullptr;
    double left = 0, right = 0, zoom = 1;
    double now = 0;  // the time at the position, against which notes count as sounding
};
bool localSpan(const ViewFrame& frame, LocalSpan& span);
double localX(const LocalSpan& span, double t);

// t as a fraction of the song length; a song of length 0 shows everything at x 0.
double overviewX(double t, double songLength);

double localRowHeight(const ViewFrame& frame);
double localRowCentre(const ViewFrame& frame, int pitch);
double overviewRowHeight(const ViewFrame& frame);
double overviewRowBottom(const ViewFrame& frame, int pitch);
double overviewRowTop(const ViewFrame& frame, int pitch);

// A note event's colour at time t under the frame's colour scheme.
bool isSounding(const Event& e, double t);
Color noteColor(const ViewFrame& frame, const Event& e, double t);

// A filled rectangle, corners in the order glRectf takes them.
struct Bar {
    double x0, y0, x1, y1;
    Color colour;
};
// A group start: a white line across the local view and a triangle hanging `drop` below the top.
struct GroupMark {
    double x, drop;
};
// A line joining a group's first note to a later member's onset.
struct Link {
    double x0, x1, y;
    Color colour;
};
struct LocalScene {
    std::vector<Bar> bars;
    std::vector<GroupMark> marks;
    std::vector<Link> links;
};
LocalScene localScene(const ViewFrame& frame);

// Horizontal offsets of the one-pixel lines that make a group line lineWidth pixels wide.
std::vector<double> groupLineOffsets(int lineWidth, int windowWidth);
constexpr double triangleSize = 0.01;

struct MarkerBox {
    double x0, x1;
    char label;
    bool endsPassage;  // one of the two markers of the loop's passage
};
// Boxes for the song's markers over the time span [t0, t1].
std::vector<MarkerBox> markerBoxes(const ViewFrame& frame, double t0, double t1);
// The local marker band's time span; false when the position is not an index into the events.
bool localMarkSpan(const ViewFrame& frame, double& t0, double& t1);

// Window fractions f as the normalized device coordinates the drawing passes to OpenGL.
inline float ndc(double f) { return static_cast<float>(2 * f - 1); }

Bar scopeRect(const ViewFrame& frame);
// A bar for every note the overview shows, in song order: later bars are drawn over earlier ones.
std::vector<Bar> overviewBars(const ViewFrame& frame);
// The same picture with fewer bars: those whose every pixel a later bar of the same pitch paints
// over are left out. A long song has far more notes than the overview has pixels.
std::vector<Bar> paintedOverviewBars(const ViewFrame& frame);

// Where a press at window pixel (x, y), y counted from the top, moves the position.
struct Click {
    enum Kind { none, group, marker } kind = none;
    double t = 0;
};
Click clickTarget(const ViewFrame& frame, int x, int y);

// The index the position moves to for a seek towards time t, or -1 when it stays.
int32_t seekGroupTarget(const Song& song, int32_t position, double t);
int32_t seekMarkerTarget(const Song& song, const Meta& meta, double t);

// The display callback: the local view, its marker band, the overview with its scope rectangle
// and the overview's marker band; the reshape callback and the view-style toggle.

#include <GL/freeglut.h>

#include <mutex>

#include "app/Nolari.h"
#include "config/Cfg.h"
#include "song/Meta.h"
#include "ui/Draw.h"
#include "ui/Layout.h"
#include "ui/OverviewImage.h"
#include "ui/TempoView.h"

namespace {

constexpr Color white{1, 1, 1, 1};
constexpr Color markerBoxColour{0.9f, 0.9f, 0.9f, 1};
constexpr Color passageMarkerBoxColour{1.0f, 0.6f, 0.1f, 1};
constexpr Color markerLabelColour{0.1f, 0.1f, 0.1f, 0};

void drawGroupMark(const ViewFrame& frame, const GroupMark& mark, const std::vector<double>& offsets) {
    const Band& band = frame.bands.localView;
    glBegin(GL_LINES);
    for (double d : offsets) {
        glVertex2f(ndc(mark.x + d), ndc(band.top));
        glVertex2f(ndc(mark.x + d), ndc(band.bottom));
    }
    glEnd();
    const float x = ndc(mark.x);
    const float y = ndc(band.top - mark.drop);
    const float tip = ndc(band.top - mark.drop - triangleSize);
    glBegin(GL_POLYGON);
    glVertex2f(x - static_cast<float>(triangleSize), y);
    glVertex2f(x + static_cast<float>(triangleSize), y);
    glVertex2f(x, tip);
    glEnd();
}

void drawMarkerBoxes(const ViewFrame& frame, const Band& band, double t0, double t1) {
    for (const MarkerBox& box : markerBoxes(frame, t0, t1)) {
        setColour(box.endsPassage ? passageMarkerBoxColour : markerBoxColour);
        glRectf(ndc(box.x0), ndc(band.top), ndc(box.x1), ndc(band.bottom));
        setColour(markerLabelColour);
        glRasterPos2f(ndc(box.x0 + 1.0 / frame.windowWidth), ndc(band.bottom + 2.0 / frame.windowHeight));
        glutBitmapCharacter(GLUT_BITMAP_8_BY_13, box.label);
    }
}

}  // namespace

void drawBars(const std::vector<Bar>& bars) {
    for (const Bar& bar : bars) {
        setColour(bar.colour);
        drawBar(bar);
    }
}

void drawLocalView(const ViewFrame& frame) {
    const LocalScene scene = localScene(frame);
    drawBars(scene.bars);
    const std::vector<double> offsets = groupLineOffsets(frame.lineWidth, frame.windowWidth);
    setColour(white);
    for (const GroupMark& mark : scene.marks) drawGroupMark(frame, mark, offsets);
    for (const Link& link : scene.links) {
        setColour(link.colour);
        glBegin(GL_LINES);
        glVertex2f(ndc(link.x0), ndc(link.y));
        glVertex2f(ndc(link.x1), ndc(link.y));
        glEnd();
    }
}

void drawLocalMarks(const ViewFrame& frame) {
    double t0 = 0, t1 = 0;
    if (localMarkSpan(frame, t0, t1)) drawMarkerBoxes(frame, frame.bands.localMarks, t0, t1);
}

void drawOverview(const ViewFrame& frame, const OverviewImage& image) {
    const Bar scope = scopeRect(frame);
    setColour(scope.colour);
    drawBar(scope);
    if (!frame.bands.showOverview) return;
    image.draw(frame);
    drawTempoCurve(frame);
}

void drawOverviewMarks(const ViewFrame& frame) {
    drawMarkerBoxes(frame, frame.bands.overViewMarks, 0.0, frame.song->endTime);
}

ViewFrame Nolari::viewFrame() const {
    ViewFrame frame;
    {
        std::lock_guard<std::recursive_mutex> guard(engineLock);
        frame.position = position;
        frame.passage = loop.passage();
        frame.tempoCount = tempoCurve.shown() ? tempoCurve.size() : 0;
    }
    frame.tempoPoints = tempoCurve.points();
    frame.song = song;
    frame.meta = meta;
    frame.bands = layout;
    frame.zoom = drawableZoom(meta->zoom);
    frame.colorScheme = cfg_->colorScheme;
    frame.lineWidth = cfg_->lineWidth;
    frame.noteWidth = cfg_->noteWidth;
    frame.windowWidth = windowWidth;
    frame.windowHeight = windowHeight;
    frame.pitchColors = noteColors;
    frame.palePitchColors = paleNoteColors;
    return frame;
}

// The throttle's first step: while an expensive overview is still within its last drawing time,
// the frame leaves the overview out and the timer redraws it later.
bool Nolari::overviewDue(double now) {
    redrawPending = now < redrawNotBefore;
    return !redrawPending;
}

void Nolari::display() {
    glClear(GL_COLOR_BUFFER_BIT);
    if (songLoaded) {
        if (helpShown) {
            drawHelp();
        } else {
            drawViews();
        }
    }
    glutSwapBuffers();
}

// The overview's image is remade, when it must be, before the frame draws anything else; that
// time counts as part of the overview's drawing time.
void Nolari::drawViews() {
    const ViewFrame frame = viewFrame();
    if (frame.song->numEvents == 0) return;
    const double start = clockSeconds();
    const bool due = overviewDue(start);
    if (due && frame.bands.showOverview) overviewImage.prepare(frame);
    const double prepared = clockSeconds();
    drawLocalView(frame);
    drawLocalMarks(frame);
    if (due) {
        const double now = clockSeconds();
        drawOverview(frame, overviewImage);
        lastDrawDuration = (prepared - start) + (clockSeconds() - now);
    }
    drawOverviewMarks(frame);
}

// The size is kept even while no song is loaded, so that a song loaded later into a window
// resized meanwhile is drawn to the window's real size.
void Nolari::reshape(int w, int h) {
    windowHeight = h > 0 ? h : 1;
    windowWidth = w > 0 ? w : 1;
    if (!windowReady) return;
    glViewport(0, 0, windowWidth, windowHeight);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void Nolari::toggleViewStyle() {
    layout.setSizes(layout.height, !layout.showOverview);
    cfg_->showOverview = layout.showOverview;
    requestRedisplay();
}

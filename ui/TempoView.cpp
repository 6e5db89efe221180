#include "ui/TempoView.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

#include "ui/Draw.h"

namespace {

constexpr Color edge{0, 0, 0, 1};
constexpr Color line{1, 1, 1, 1};
// Two pixels drawn, six left out.
constexpr GLushort dotted = 0x0303;
constexpr double dashPixels = 3;

void drawLines(const TempoPicture& picture) {
    for (const std::vector<TempoVertex>& vertices : picture.lines) {
        glBegin(GL_LINE_STRIP);
        for (const TempoVertex& v : vertices) glVertex2f(ndc(v.x), ndc(v.y));
        glEnd();
    }
}

}  // namespace

double tempoY(const Band& band, double percent) {
    const double doublings = std::clamp(std::log2(percent / 100), -1.0, 1.0);
    return band.bottom + band.height * (0.5 + doublings / 2);
}

TempoPicture tempoPicture(const ViewFrame& frame) {
    TempoPicture picture;
    const Band& band = frame.bands.overView;
    picture.reference = tempoY(band, 100);
    const double pixel = 1.0 / frame.windowWidth;
    for (uint32_t i = 0; i < frame.tempoCount; ++i) {
        const TempoPoint& point = frame.tempoPoints[i];
        const double x = overviewX(point.songTime, frame.song->endTime);
        const bool lastOfLine = i + 1 == frame.tempoCount || !frame.tempoPoints[i + 1].joined;
        const bool begins = !point.joined || picture.lines.empty();
        if (!begins && !lastOfLine && std::abs(x - picture.lines.back().back().x) < pixel) continue;
        const TempoVertex v{x, tempoY(band, point.percent)};
        if (begins) picture.lines.push_back({v});
        else picture.lines.back().push_back(v);
        std::vector<TempoVertex>& current = picture.lines.back();
        if (lastOfLine && current.size() == 1) current = {{v.x - dashPixels * pixel, v.y}, {v.x + dashPixels * pixel, v.y}};
    }
    return picture;
}

void drawTempoCurve(const ViewFrame& frame) {
    if (frame.tempoCount == 0) return;
    const TempoPicture picture = tempoPicture(frame);
    setColour(line);
    glEnable(GL_LINE_STIPPLE);
    glLineStipple(1, dotted);
    glBegin(GL_LINES);
    glVertex2f(ndc(0), ndc(picture.reference));
    glVertex2f(ndc(1), ndc(picture.reference));
    glEnd();
    glDisable(GL_LINE_STIPPLE);
    setColour(edge);
    glLineWidth(3);
    drawLines(picture);
    glLineWidth(1);
    setColour(line);
    drawLines(picture);
}

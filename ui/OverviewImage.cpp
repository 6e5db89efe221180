#include "ui/OverviewImage.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

#include "ui/Draw.h"

namespace {

std::vector<unsigned char> readRows(int firstRow, int rows, int width) {
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * rows * 4);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, firstRow, width, rows, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

}  // namespace

OverviewImage::Key OverviewImage::keyOf(const ViewFrame& frame) {
    const Song& song = *frame.song;
    Key key;
    key.events = song.events;
    key.numEvents = song.numEvents;
    key.instruments = song.instruments;
    key.numInstruments = song.numInstruments;
    key.endTime = song.endTime;
    key.colorScheme = frame.colorScheme;
    key.windowWidth = frame.windowWidth;
    key.windowHeight = frame.windowHeight;
    key.top = frame.bands.overView.top;
    key.bottom = frame.bands.overView.bottom;
    return key;
}

void OverviewImage::prepare(const ViewFrame& frame) {
    if (fits(frame)) return;
    const int w = frame.windowWidth, h = frame.windowHeight;
    // The pixel rows the overview's notes can touch, with a row to spare at either end.
    firstRow_ = std::max(0, static_cast<int>(std::floor(frame.bands.overView.bottom * h)) - 1);
    const int endRow = std::min(h, static_cast<int>(std::ceil(frame.bands.overView.top * h)) + 1);
    rows_ = std::max(0, endRow - firstRow_);
    width_ = w;
    windowHeight_ = h;

    const std::vector<Bar> bars = paintedOverviewBars(frame);
    glClear(GL_COLOR_BUFFER_BIT);
    drawBars(bars);
    std::vector<unsigned char> pixels = readRows(firstRow_, rows_, w);
    glClear(GL_COLOR_BUFFER_BIT);
    glColor4f(1, 1, 1, 1);
    for (const Bar& bar : bars) drawBar(bar);
    const std::vector<unsigned char> mask = readRows(firstRow_, rows_, w);
    glClear(GL_COLOR_BUFFER_BIT);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        const bool note = mask[i] || mask[i + 1] || mask[i + 2];
        pixels[i + 3] = note ? 255 : 0;
    }

    if (!texture_) glGenTextures(1, &texture_);
    glBindTexture(GL_TEXTURE_2D, texture_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, rows_, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    key_ = keyOf(frame);
    valid_ = true;
}

void OverviewImage::draw(const ViewFrame& frame) const {
    if (fits(frame)) {
        show();
    } else {
        drawBars(paintedOverviewBars(frame));
    }
}

// One textured rectangle over exactly the image's pixel rows, one texel per pixel, so every
// pixel centre samples the texel read from that pixel.
void OverviewImage::show() const {
    if (rows_ == 0) return;
    const double bottom = static_cast<double>(firstRow_) / windowHeight_;
    const double top = static_cast<double>(firstRow_ + rows_) / windowHeight_;
    glBindTexture(GL_TEXTURE_2D, texture_);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0.5f);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(-1, ndc(bottom));
    glTexCoord2f(1, 0);
    glVertex2f(1, ndc(bottom));
    glTexCoord2f(1, 1);
    glVertex2f(1, ndc(top));
    glTexCoord2f(0, 1);
    glVertex2f(-1, ndc(top));
    glEnd();
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, 0);
}

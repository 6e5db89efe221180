#define GL_GLEXT_PROTOTYPES 1
#include "view/OverviewImage.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/Log.h"
#include "view/Draw.h"

namespace {

// Framebuffer objects are core from OpenGL 3.0 on and an extension before.
bool hasFramebufferObjects() {
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    int major = 0;
    if (version && std::sscanf(version, "%d", &major) == 1 && major >= 3) return true;
    const char* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    return extensions && std::strstr(extensions, "GL_ARB_framebuffer_object");
}

}  // namespace

OverviewImage::Key OverviewImage::keyOf(const ViewFrame& frame) {
    const Song& song = *frame.song;
    return {song.events,       song.numEvents,     song.instruments,
            song.numInstruments, song.endTime,     frame.colorScheme,
            frame.windowWidth, frame.windowHeight, frame.bands.overView.top,
            frame.bands.overView.bottom};
}

void OverviewImage::draw(const ViewFrame& frame) {
    const Key key = keyOf(frame);
    if (!(valid_ && key == key_) && !render(frame)) {
        drawBars(overviewBars(frame));
        return;
    }
    show(frame.bands.overView);
}

// Creates the framebuffer once; false (with one log line) when the GL cannot keep an image.
bool OverviewImage::ready() {
    if (support_ != Support::unknown) return support_ == Support::yes;
    support_ = Support::no;
    if (!hasFramebufferObjects()) {
        logMessage("ERROR: OverviewImage: no framebuffer objects, the overview draws every note\n");
        return false;
    }
    glGenFramebuffers(1, &framebuffer_);
    glGenTextures(1, &texture_);
    glBindTexture(GL_TEXTURE_2D, texture_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_2D, 0);
    support_ = Support::yes;
    return true;
}

// Draws every note into an image the size of the window, with the same viewport and vertices as
// on screen, so that the same pixels are covered. Notes are drawn opaque there: the alpha marks
// which pixels hold a note (on screen alpha has no effect, since blending is never enabled).
bool OverviewImage::render(const ViewFrame& frame) {
    valid_ = false;
    if (!ready()) return false;
    const int w = frame.windowWidth, h = frame.windowHeight;
    glBindTexture(GL_TEXTURE_2D, texture_);
    if (w != textureWidth_ || h != textureHeight_) {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        textureWidth_ = w;
        textureHeight_ = h;
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture_, 0);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        logMessage("ERROR: OverviewImage: incomplete framebuffer, the overview draws every note\n");
        support_ = Support::no;
        return false;
    }
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    for (const Bar& bar : overviewBars(frame)) {
        glColor4f(bar.colour.r, bar.colour.g, bar.colour.b, 1);
        drawBar(bar);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glClearColor(0, 0, 0, 1);
    key_ = keyOf(frame);
    valid_ = true;
    return true;
}

// One textured rectangle over the band, one texel per pixel: a pixel centre at window fraction
// (fx, fy) samples exactly the texel the note drawing wrote there.
void OverviewImage::show(const Band& band) const {
    const double pixel = 1.0 / textureHeight_;
    const double top = std::min(1.0, band.top + pixel), bottom = std::max(0.0, band.bottom - pixel);
    glBindTexture(GL_TEXTURE_2D, texture_);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0.5f);
    glBegin(GL_QUADS);
    glTexCoord2d(0, bottom);
    glVertex2f(-1, ndc(bottom));
    glTexCoord2d(1, bottom);
    glVertex2f(1, ndc(bottom));
    glTexCoord2d(1, top);
    glVertex2f(1, ndc(top));
    glTexCoord2d(0, top);
    glVertex2f(-1, ndc(top));
    glEnd();
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, 0);
}

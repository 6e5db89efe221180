// Checks that the display, which lays the overview's notes down from a kept image, shows the
// pixels that drawing every note gives: the overview alone and whole frames, for every colour
// scheme, both view styles and several positions. Needs an X display (run it under Xvfb).
//
// Usage: drawcheck [--tolerance N] [width height [notes]]
// The default 100 000 notes are more than the overview has pixels, so that its image leaves out
// many bars that later ones paint over.
// Exit status 0 when no colour channel of any pixel differs by more than N (default 0).
//
// With Mesa's software renderer an exact match needs LP_PERF=no_rast_linear: its default linear
// rasterizer rounds flat colours by up to 1/255 differently depending on what else shares a
// screen tile, so even drawing every note twice with other content nearby differs by that much.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "config/Cfg.h"
#include "tools/drawsetup.h"
#include "ui/Draw.h"
#include "ui/OverviewImage.h"

namespace {

using Pixels = std::vector<unsigned char>;

struct Difference {
    long pixels = 0;
    int largest = 0;
};

Pixels readWindow(int w, int h) {
    glFinish();
    Pixels pixels(static_cast<size_t>(w) * h * 4);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

Difference compare(const Pixels& a, const Pixels& b) {
    Difference d;
    for (size_t i = 0; i < a.size(); i += 4) {
        int largest = 0;
        for (size_t c = i; c < i + 3; ++c) largest = std::max(largest, std::abs(a[c] - b[c]));
        if (largest) ++d.pixels;
        d.largest = std::max(d.largest, largest);
    }
    return d;
}

long lit(const Pixels& a) {
    long count = 0;
    for (size_t i = 0; i < a.size(); i += 4)
        if (a[i] || a[i + 1] || a[i + 2]) ++count;
    return count;
}

bool report(const char* what, bool show, int scheme, const Pixels& expected, const Pixels& actual, int tolerance) {
    const Difference d = compare(expected, actual);
    const long shown = lit(expected);
    std::printf("%s, overview %s, scheme %d: %ld lit pixels, %ld differ, by at most %d\n", what,
                show ? "shown" : "hidden", scheme, shown, d.pixels, d.largest);
    return shown > 0 && d.largest <= tolerance;
}

Pixels everyNote(const ViewFrame& frame) {
    const Bar scope = scopeRect(frame);
    setColour(scope.colour);
    drawBar(scope);
    if (frame.bands.showOverview) drawBars(overviewBars(frame));
    return readWindow(frame.windowWidth, frame.windowHeight);
}

// The overview alone, at several scope positions over one kept image.
int overviewAlone(int w, int h, int tolerance) {
    Meta meta;
    OverviewImage image;
    const Song& song = *nolari.song;
    int failures = 0;
    layout.setSizes(573, true);
    const ViewFrame first = drawsetup::frameOf(song, meta, 0, w, h, 0);
    std::printf("the overview image draws %zu of %zu bars\n", paintedOverviewBars(first).size(),
                overviewBars(first).size());
    for (bool show : {true, false}) {
        layout.setSizes(573, show);
        for (int scheme = 0; scheme < 4; ++scheme) {
            for (uint32_t position : {0u, song.numEvents / 3, song.numEvents}) {
                const ViewFrame frame = drawsetup::frameOf(song, meta, static_cast<int32_t>(position), w, h, scheme);
                glClear(GL_COLOR_BUFFER_BIT);
                if (show) image.prepare(frame);
                drawOverview(frame, image);
                const Pixels actual = readWindow(w, h);
                glClear(GL_COLOR_BUFFER_BIT);
                const Pixels expected = everyNote(frame);
                if (!report("overview", show, scheme, expected, actual, tolerance)) ++failures;
            }
        }
    }
    return failures;
}

// Whole frames of the main object's display against the same bands drawn with every note, with
// markers whose boxes and labels border on the overview.
int wholeFrames(int w, int h, int tolerance) {
    nolari.songLoaded = true;
    nolari.windowWidth = w;
    nolari.windowHeight = h;
    for (uint32_t i = 0; i < 12; ++i) nolari.meta->markers[i] = i * (nolari.song->numEvents / 12);
    nolari.meta->numMarkers_ = 12;
    int failures = 0;
    for (bool show : {true, false}) {
        layout.setSizes(573, show);
        for (int scheme = 0; scheme < 4; ++scheme) {
            nolari.cfg_->colorScheme = scheme;
            nolari.position = static_cast<int32_t>(nolari.song->numEvents / 2 + scheme);
            nolari.redrawNotBefore = 0;
            glClear(GL_COLOR_BUFFER_BIT);
            nolari.drawViews();
            const Pixels actual = readWindow(w, h);
            const ViewFrame frame = nolari.viewFrame();
            glClear(GL_COLOR_BUFFER_BIT);
            drawLocalView(frame);
            drawLocalMarks(frame);
            everyNote(frame);
            drawOverviewMarks(frame);
            const Pixels expected = readWindow(w, h);
            if (!report("whole frame", show, scheme, expected, actual, tolerance)) ++failures;
        }
    }
    nolari.songLoaded = false;
    return failures;
}

}  // namespace

int main(int argc, char** argv) {
    int tolerance = 0;
    int arg = 1;
    if (argc > 2 && std::strcmp(argv[1], "--tolerance") == 0) {
        tolerance = std::atoi(argv[2]);
        arg = 3;
    }
    const int w = argc > arg + 1 ? std::atoi(argv[arg]) : 1280;
    const int h = argc > arg + 1 ? std::atoi(argv[arg + 1]) : 1000;
    const int notes = argc > arg + 2 ? std::atoi(argv[arg + 2]) : 100000;
    if (!drawsetup::openWindow(w, h)) {
        std::fprintf(stderr, "drawcheck: no X display\n");
        return 2;
    }
    drawsetup::buildLongSong(*nolari.song, notes);
    const int failures = overviewAlone(w, h, tolerance) + wholeFrames(w, h, tolerance);
    std::printf(failures ? "drawcheck: %d pictures differ\n" : "drawcheck: all pictures match\n", failures);
    return failures ? 1 : 0;
}

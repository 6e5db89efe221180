// Frame times of the display for a song of 100 000 notes, drawn into a real window and finished
// (glFinish) every iteration, buffer swap excluded. Needs an X display; under Xvfb with Mesa's
// software renderer:
//   Xvfb :61 -screen 0 1280x1024x24 & DISPLAY=:61 LIBGL_ALWAYS_SOFTWARE=1 ./build/nolari_bench --benchmark_filter=Display
// Targets: local view under 3 ms; overview after its first draw under 5 ms.

#include <benchmark/benchmark.h>

#include <cmath>

#include "config/Cfg.h"
#include "tools/drawsetup.h"
#include "ui/Draw.h"
#include "ui/OverviewImage.h"

namespace {

constexpr int windowWidth = 1280;
constexpr int windowHeight = 1000;
constexpr int songNotes = 100000;

// The window and the song, made once for all the display benchmarks; null without a display.
Nolari* drawingSetup() {
    static const bool opened = drawsetup::openWindow(windowWidth, windowHeight);
    static bool built = false;
    if (!opened) return nullptr;
    if (!built) {
        drawsetup::buildLongSong(*nolari.song, songNotes);
        nolari.songLoaded = true;
        nolari.windowWidth = windowWidth;
        nolari.windowHeight = windowHeight;
        layout.setSizes(573, true);
        built = true;
    }
    return &nolari;
}

// Each iteration moves the position by a group or so, as taps do.
int32_t stepPosition(int32_t position) {
    return (position + 7) % static_cast<int32_t>(nolari.song->numEvents);
}

void DisplayLocalView(benchmark::State& state) {
    Nolari* n = drawingSetup();
    if (!n) return state.SkipWithError("needs an X display: run under Xvfb with DISPLAY set");
    n->position = static_cast<int32_t>(n->song->numEvents / 2);
    for (auto _ : state) {
        n->position = stepPosition(n->position);
        glClear(GL_COLOR_BUFFER_BIT);
        drawLocalView(n->viewFrame());
        glFinish();
    }
}
BENCHMARK(DisplayLocalView)->Unit(benchmark::kMillisecond);

// The overview drawn from its image, made before the first frame, at a position moving by taps.
void drawOverviewFrames(benchmark::State& state, Nolari* n) {
    n->position = static_cast<int32_t>(n->song->numEvents / 2);
    n->overviewImage.prepare(n->viewFrame());
    for (auto _ : state) {
        n->position = stepPosition(n->position);
        const ViewFrame frame = n->viewFrame();
        glClear(GL_COLOR_BUFFER_BIT);
        n->overviewImage.prepare(frame);
        drawOverview(frame, n->overviewImage);
        glFinish();
    }
}

void DisplayOverviewKeptImage(benchmark::State& state) {
    Nolari* n = drawingSetup();
    if (!n) return state.SkipWithError("needs an X display: run under Xvfb with DISPLAY set");
    drawOverviewFrames(state, n);
}
BENCHMARK(DisplayOverviewKeptImage)->Unit(benchmark::kMillisecond);

// The same with the tempo curve of a performance that tapped every group of the song once (its
// tempo swinging between 60 % and 160 %), or one point for every so many groups.
void DisplayOverviewWithTempoCurve(benchmark::State& state) {
    Nolari* n = drawingSetup();
    if (!n) return state.SkipWithError("needs an X display: run under Xvfb with DISPLAY set");
    n->tempoCurve.clear();
    int64_t group = 0;
    for (uint32_t i = 0; i < n->song->numEvents; ++i) {
        const Event& e = n->song->events[i];
        if (e.start && group++ % state.range(0) == 0) n->tempoCurve.add(e.time, 110 + 50 * std::sin(e.time / 20));
    }
    drawOverviewFrames(state, n);
    state.counters["points"] = n->tempoCurve.size();
    n->tempoCurve.clear();
}
BENCHMARK(DisplayOverviewWithTempoCurve)->Arg(1)->Arg(33)->Unit(benchmark::kMillisecond);

// The image's making, paid once per song, colour scheme, window size or view style.
void DisplayOverviewFirstDraw(benchmark::State& state) {
    Nolari* n = drawingSetup();
    if (!n) return state.SkipWithError("needs an X display: run under Xvfb with DISPLAY set");
    for (auto _ : state) {
        const ViewFrame frame = n->viewFrame();
        n->overviewImage.forget();
        glClear(GL_COLOR_BUFFER_BIT);
        n->overviewImage.prepare(frame);
        drawOverview(frame, n->overviewImage);
        glFinish();
    }
}
BENCHMARK(DisplayOverviewFirstDraw)->Unit(benchmark::kMillisecond);

// For comparison: every note drawn on every frame.
void DisplayOverviewEveryNote(benchmark::State& state) {
    Nolari* n = drawingSetup();
    if (!n) return state.SkipWithError("needs an X display: run under Xvfb with DISPLAY set");
    for (auto _ : state) {
        n->position = stepPosition(n->position);
        const ViewFrame frame = n->viewFrame();
        glClear(GL_COLOR_BUFFER_BIT);
        const Bar scope = scopeRect(frame);
        setColour(scope.colour);
        drawBar(scope);
        drawBars(overviewBars(frame));
        glFinish();
    }
}
BENCHMARK(DisplayOverviewEveryNote)->Unit(benchmark::kMillisecond);

// The floor under every figure above: clearing the window and waiting for the renderer.
void DisplayClearOnly(benchmark::State& state) {
    if (!drawingSetup()) return state.SkipWithError("needs an X display: run under Xvfb with DISPLAY set");
    for (auto _ : state) {
        glClear(GL_COLOR_BUFFER_BIT);
        glFinish();
    }
}
BENCHMARK(DisplayClearOnly)->Unit(benchmark::kMillisecond);

// All four bands as the display callback draws them, with markers, the image already made.
void DisplayWholeFrame(benchmark::State& state) {
    Nolari* n = drawingSetup();
    if (!n) return state.SkipWithError("needs an X display: run under Xvfb with DISPLAY set");
    for (uint32_t i = 0; i < 12; ++i) n->meta->markers[i] = i * (n->song->numEvents / 12);
    n->meta->numMarkers_ = 12;
    n->overviewImage.prepare(n->viewFrame());
    for (auto _ : state) {
        n->position = stepPosition(n->position);
        n->redrawNotBefore = 0;
        glClear(GL_COLOR_BUFFER_BIT);
        n->drawViews();
        glFinish();
    }
    n->meta->numMarkers_ = 0;
}
BENCHMARK(DisplayWholeFrame)->Unit(benchmark::kMillisecond);

}  // namespace

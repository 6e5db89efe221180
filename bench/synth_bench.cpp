// The synthesizer's play path: one Note On and its Note Off handed to FluidSynth, with the audio
// rendered between batches so that voices are freed as they would be by the audio output; and the
// offline render of a take.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "support/RecordingAudio.h"
#include "support/TestEnv.h"
#include "synth/OfflineRenderer.h"
#include "synth/WindowsSynthGeneralMIDI.h"

static void BM_SynthNoteOnOff(benchmark::State& state) {
    TestDir dir;
    WindowsSynthGeneralMIDI s;
    if (!s.openOffline()) {
        state.SkipWithError("the synthesizer did not open");
        return;
    }
    std::vector<float> left(64), right(64);
    int n = 0;
    for (auto _ : state) {
        s.send(0, 0x90, static_cast<uint8_t>(48 + n % 24), 100);
        s.send(0, 0x80, static_cast<uint8_t>(48 + n % 24), 0);
        if (++n % 16 == 0) {
            state.PauseTiming();
            s.render(left.data(), right.data(), 64);
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_SynthNoteOnOff);

static void BM_SynthProgramChange(benchmark::State& state) {
    TestDir dir;
    WindowsSynthGeneralMIDI s;
    if (!s.openOffline()) {
        state.SkipWithError("the synthesizer did not open");
        return;
    }
    int n = 0;
    for (auto _ : state) s.send(2, 0xC0, static_cast<uint8_t>(n++ % 128), 0);
}
BENCHMARK(BM_SynthProgramChange);

// Rendering a three-minute take offline: three-note piano chords four times a second, each held
// 0.4 s, with the sustain pedal down for every other bar, into a sound file (the recording back
// end, which keeps no samples: the figure is the synthesizer's and the renderer's). The counter
// `real_time` is seconds of sound per second of rendering; it must stay at 20 or more.
static void RenderThreeMinuteTake(benchmark::State& state) {
    TestDir dir;
    recording::resetSoundFiles();
    recording::soundFiles().keepSamples = false;
    std::vector<RenderMessage> take = {{0, 0xC0, 0, 0}};
    for (int k = 0; k < 720; ++k) {
        const double at = 0.25 * k;
        if (k % 8 == 0) take.push_back({at, 0xB0, 64, static_cast<uint8_t>(k % 16 == 0 ? 127 : 0)});
        for (int pitch : {60 + k % 12, 64 + k % 12, 67 + k % 12}) {
            take.push_back({at, 0x90, static_cast<uint8_t>(pitch), 90});
            take.push_back({at + 0.4, 0x80, static_cast<uint8_t>(pitch), 0});
        }
    }
    std::stable_sort(take.begin(), take.end(), [](const RenderMessage& a, const RenderMessage& b) { return a.time < b.time; });
    double seconds = 0;
    for (auto _ : state) {
        RenderProgress progress;
        const RenderResult result = renderToFile(take, dir.file("take.wav"), platform::SoundFileType::wav, progress);
        if (!result.written) return state.SkipWithError(result.problem.c_str());
        seconds = result.seconds;
    }
    state.counters["real_time"] = benchmark::Counter(seconds, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["sound_s"] = seconds;
}
BENCHMARK(RenderThreeMinuteTake)->Unit(benchmark::kSecond)->UseRealTime();

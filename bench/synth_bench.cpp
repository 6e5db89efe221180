// The synthesizer's play path: one Note On and its Note Off handed to FluidSynth, with the audio
// rendered between batches so that voices are freed as they would be by the audio output.

#include <benchmark/benchmark.h>

#include <vector>

#include "support/TestEnv.h"
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

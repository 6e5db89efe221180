// The cost of one tap and its release of a ten-note chord, alone and with a followed bass part,
// sent through the recording back end and recorded into the take, with the practice options off
// (argument 0) and on (1).
// Global operator new is counted so that the run shows the tap path allocates nothing; the log
// staying empty shows it writes no file.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "app/Nolari.h"
#include "song/Meta.h"
#include "support/RecordingPlatform.h"
#include "support/SongBuilder.h"
#include "support/TestEnv.h"

namespace {

std::atomic<long long> allocations{0};

}  // namespace

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
// The replacement pair is malloc and free; the compiler cannot tell that they match.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

constexpr int chordCount = 1000;
// The take is handed over, outside the timing, every this many taps: well within its first block.
constexpr int tapsPerTake = 100;

// A ten-note chord every half second; with a bass, four bass notes (instrument 1) per chord.
SongBuilder chords(bool withBass) {
    SongBuilder song;
    for (int k = 0; k < chordCount; ++k) {
        for (int i = 0; i < 10; ++i)
            song.note(0.5 * k, 0.25, static_cast<uint8_t>(48 + 3 * i), static_cast<uint8_t>(40 + 8 * i), 0, i == 0);
        if (!withBass) continue;
        for (int b = 0; b < 4; ++b) song.note(0.5 * k + 0.125 * b, 0.1, static_cast<uint8_t>(36 + b), 90, 1, false, 1);
    }
    return song;
}

// Taps and releases through the song again and again, counting allocations and log bytes.
void tapThrough(benchmark::State& state, const SongBuilder& song, bool followBass) {
    TestDir dir;
    recording::reset();
    recording::state().keep = false;
    Nolari n;
    song.build(*n.song);
    n.meta->parts.attach(*n.song);
    if (followBass) n.meta->parts.setRole(1u, Role::Follow);
    n.meta->parts.apply();
    n.songLoaded = true;
    const int32_t last = static_cast<int32_t>(n.song->numEvents - 1);
    // With the practice options on, the taps go round the whole song between two markers, transposed.
    if (state.range(0) == 1) {
        n.meta->setMarker(0);
        n.meta->setMarker(static_cast<uint32_t>(last));
        n.toggleLoop();
        n.selectTranspose(2);
    }

    long long allocated = 0;
    long long recorded = 0;
    bool stopped = false;
    long long allocationsBefore = allocations.load();
    int taps = 0;
    for (auto _ : state) {
        n.tap(1, 0);
        n.release(1);
        if (n.position == last) n.position = 0;
        if (++taps % tapsPerTake != 0) continue;
        state.PauseTiming();
        allocated += allocations.load() - allocationsBefore;
        stopped = stopped || n.take.stopped();
        recorded += n.take.handOver().messages.size();
        allocationsBefore = allocations.load();
        state.ResumeTiming();
    }
    allocated += allocations.load() - allocationsBefore;
    stopped = stopped || n.take.stopped();
    recorded += n.take.size();
    const std::size_t logBytes = dir.log().size();

    state.counters["allocations"] = static_cast<double>(allocated);
    state.counters["log_bytes"] = static_cast<double>(logBytes);
    state.counters["messages_per_iteration"] =
        static_cast<double>(recording::state().sentCount) / static_cast<double>(state.iterations());
    state.counters["recorded_per_iteration"] = static_cast<double>(recorded) / static_cast<double>(state.iterations());
    if (allocated != 0) state.SkipWithError("the tap path allocated memory");
    if (logBytes != 0) state.SkipWithError("the tap path wrote to the log");
    // A take begins at a note: what is sent between a hand-over and the next note is not in it.
    if (recorded == 0 || stopped) state.SkipWithError("the take stopped recording");
    recording::reset();
}

void BM_TapAndReleaseOfATenNoteChord(benchmark::State& state) { tapThrough(state, chords(false), false); }
BENCHMARK(BM_TapAndReleaseOfATenNoteChord)->Arg(0)->Arg(1);

// The bass is Nolari's: handed to the scheduler at each tap and, the scheduler never running
// here, sent at once by the next tap.
void BM_TapAndReleaseWithAFollowedBass(benchmark::State& state) { tapThrough(state, chords(true), true); }
BENCHMARK(BM_TapAndReleaseWithAFollowedBass)->Arg(0);

}  // namespace

// The cost of one tap and its release of a ten-note chord, sent through the recording back end
// and recorded into the take. Global operator new is counted so that the run shows the tap path
// allocates nothing; the log staying empty shows it writes no file.

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

void BM_TapAndReleaseOfATenNoteChord(benchmark::State& state) {
    TestDir dir;
    recording::reset();
    recording::state().keep = false;
    Nolari n;
    SongBuilder song;
    for (int k = 0; k < chordCount; ++k)
        for (int i = 0; i < 10; ++i)
            song.note(0.5 * k, 0.25, static_cast<uint8_t>(48 + 3 * i), static_cast<uint8_t>(40 + 8 * i), 0, i == 0);
    song.build(*n.song);
    n.songLoaded = true;
    const int32_t last = static_cast<int32_t>(n.song->numEvents - 1);

    long long allocated = 0;
    long long recorded = 0;
    long long allocationsBefore = allocations.load();
    int taps = 0;
    for (auto _ : state) {
        n.tap(1, 0);
        n.release(1);
        if (n.position == last) n.position = 0;
        if (++taps % tapsPerTake != 0) continue;
        state.PauseTiming();
        allocated += allocations.load() - allocationsBefore;
        recorded += n.take.handOver().messages.size();
        allocationsBefore = allocations.load();
        state.ResumeTiming();
    }
    allocated += allocations.load() - allocationsBefore;
    recorded += n.take.size();
    const std::size_t logBytes = dir.log().size();

    state.counters["allocations"] = static_cast<double>(allocated);
    state.counters["log_bytes"] = static_cast<double>(logBytes);
    state.counters["messages_per_iteration"] =
        static_cast<double>(recording::state().sentCount) / static_cast<double>(state.iterations());
    state.counters["recorded_per_iteration"] = static_cast<double>(recorded) / static_cast<double>(state.iterations());
    if (allocated != 0) state.SkipWithError("the tap path allocated memory");
    if (logBytes != 0) state.SkipWithError("the tap path wrote to the log");
    if (recorded != recording::state().sentCount) state.SkipWithError("the take missed messages sent");
    recording::reset();
}
BENCHMARK(BM_TapAndReleaseOfATenNoteChord);

}  // namespace

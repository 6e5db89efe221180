// How late the scheduler's thread plays: song events handed to it at random due times over a
// stretch of seconds, played through the ordinary output path into the recording back end; the
// output's listener notes, for each message, how long after its due time it was sent.
//   schedlate [events=10000] [seconds=10]
// Prints the median, 99th percentile and maximum lateness in microseconds.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "app/Nolari.h"
#include "support/RecordingPlatform.h"
#include "support/SongBuilder.h"
#include "support/TestEnv.h"

namespace {

struct Lateness {
    std::vector<double> seconds;
};

void note(void* context, const Message&, double due) {
    static_cast<Lateness*>(context)->seconds.push_back(clockSeconds() - due);
}

double at(std::vector<double>& sorted, double fraction) {
    return sorted[std::min(sorted.size() - 1, static_cast<size_t>(fraction * static_cast<double>(sorted.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const double span = argc > 2 ? std::atof(argv[2]) : 10.0;
    if (count <= 0 || span <= 0) {
        std::fprintf(stderr, "usage: schedlate [events] [seconds]\n");
        return 2;
    }
    TestDir dir;
    recording::reset();
    recording::state().keep = false;
    recording::state().outputs = {"recording"};
    recording::state().openOutput = 0;

    // Controller changes: they pass through the output path without note tracking in the way.
    SongBuilder builder;
    for (int k = 0; k < count; ++k) builder.channelEvent(0.001 * k, 0xB0, static_cast<uint8_t>(k % 16), 1, static_cast<uint8_t>(k % 128));
    Nolari n;
    builder.build(*n.song);
    n.songLoaded = true;

    Lateness lateness;
    lateness.seconds.reserve(static_cast<size_t>(count));
    n.output.setListener(note, &lateness);

    std::mt19937 random(12345);
    std::uniform_real_distribution<double> within(0.0, span);
    std::vector<double> offsets(static_cast<size_t>(count));
    for (double& offset : offsets) offset = within(random);
    std::sort(offsets.begin(), offsets.end());

    if (!n.scheduler.start()) return 1;
    // Handed over a second ahead, as listening does in batches, so the queue never fills.
    const double start = clockSeconds() + 0.5;
    size_t handed = 0;
    while (handed < offsets.size() || n.scheduler.pending() > 0) {
        {
            std::lock_guard guard(n.engineLock);
            for (; handed < offsets.size() && start + offsets[handed] < clockSeconds() + 1.0; ++handed)
                n.scheduler.add(static_cast<uint32_t>(handed), start + offsets[handed]);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    n.scheduler.stop();

    std::vector<double> sorted;
    {
        std::lock_guard guard(n.engineLock);
        sorted = lateness.seconds;
    }
    if (sorted.empty()) return 1;
    std::sort(sorted.begin(), sorted.end());
    const auto late = std::count_if(sorted.begin(), sorted.end(), [](double s) { return s > 0.001; });
    std::printf("scheduler lateness of %zu events over %.0f s: median %.0f us, p99 %.0f us, max %.0f us; "
                "%ld later than 1 ms\n",
                sorted.size(), span, at(sorted, 0.5) * 1e6, at(sorted, 0.99) * 1e6, sorted.back() * 1e6,
                static_cast<long>(late));
    return 0;
}

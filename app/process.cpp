// The process-wide objects. They are defined together in this one file so that they are
// constructed in the order written here and torn down in the reverse order at process exit.

#include <malloc.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "app/Log.h"
#include "app/Nolari.h"
#include "synth/WindowsSynthGeneralMIDI.h"
#include "ui/Layout.h"

namespace {

// The high-resolution clock, read once at construction like a performance counter.
struct HighResClock {
    HighResClock() : available(std::chrono::steady_clock::is_steady), frequency(1e9) {}
    double seconds() const {
        if (!available) return 0.0;
        const auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::steady_clock::now().time_since_epoch()).count();
        return static_cast<double>(ticks) / frequency;
    }
    bool available;
    double frequency;
};

}  // namespace

WindowsSynthGeneralMIDI synth;
std::string startDirectory;
static HighResClock highResClock;
Nolari nolari;
Layout layout;

double clockSeconds() { return highResClock.seconds(); }

namespace {
bool exiting = false;
}

bool exitStarted() { return exiting; }

void exitProcess(int status) {
    exiting = true;
    synth.close();
    logStamped("Exiting.\n");
    std::exit(status);
}

void keepFreedMemoryForReuse() {
    // A long song's event array is tens of megabytes. Served from the heap and kept there when
    // freed, the next song reuses those pages instead of waiting for the kernel to zero new ones.
    constexpr int large = 1 << 30;
    mallopt(M_MMAP_THRESHOLD, large);
    mallopt(M_TRIM_THRESHOLD, large);
}

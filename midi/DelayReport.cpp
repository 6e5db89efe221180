#include "midi/DelayReport.h"

#include "app/Log.h"

namespace {

bool same(const platform::Delays& a, const platform::Delays& b) {
    return a.lateOutput == b.lateOutput && a.waitedInput == b.waitedInput && a.lostInput == b.lostInput;
}

unsigned long long since(uint64_t now, uint64_t before) { return static_cast<unsigned long long>(now - before); }

}  // namespace

void DelayReport::check(const platform::Delays& now) {
    if (!same(now, seen_)) {
        if (!inBurst_) burstFrom_ = seen_;
        inBurst_ = true;
        seen_ = now;
        return;
    }
    if (inBurst_) logBurst();
}

void DelayReport::flush(const platform::Delays& now) {
    check(now);
    if (inBurst_) logBurst();
}

void DelayReport::logBurst() {
    inBurst_ = false;
    if (const auto late = since(seen_.lateOutput, burstFrom_.lateOutput))
        logMessage("JACK output: %llu timed messages came after their frame and went at the earliest frame\n", late);
    if (const auto waited = since(seen_.waitedInput, burstFrom_.waitedInput))
        logMessage("JACK input: %llu events waited for the engine and were handled in a later cycle\n", waited);
    if (const auto lost = since(seen_.lostInput, burstFrom_.lostInput))
        logMessage("ERROR: JACK input: %llu events lost while the engine was busy\n", lost);
}

#pragma once
// The JACK client's counts of timed messages that reached the output after their frame and of
// input events that waited for a busy engine, logged by the GUI thread once per burst: a burst is
// logged at the first check that finds nothing new after it.

#include "midi/platform.h"

class DelayReport {
public:
    // The timer, each tick.
    void check(const platform::Delays& now);
    // At exit: logs a burst still going on.
    void flush(const platform::Delays& now);

private:
    void logBurst();

    platform::Delays seen_;
    platform::Delays burstFrom_;
    bool inBurst_ = false;
};

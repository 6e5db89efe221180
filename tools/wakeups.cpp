// How late this machine wakes a real-time thread: what a sound server asks of
// its clients every period, measured without any of them. A thread at the
// priority PipeWire gives audio threads (SCHED_FIFO 88, when permitted) sleeps
// to absolute times one period apart.
//   wakeups [seconds=20] [period frames at 48 kHz=128]
// Prints the median, 99th and 99.9th percentile and the worst lateness, and how
// many wake-ups came more than a period late: each of those would have been a
// gap in a stream's sound at that period.

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr long nanosPerSecond = 1'000'000'000;

void advance(timespec& t, long nanos) {
    t.tv_nsec += nanos;
    t.tv_sec += t.tv_nsec / nanosPerSecond;
    t.tv_nsec %= nanosPerSecond;
}

double millisecondsBetween(const timespec& from, const timespec& to) {
    return static_cast<double>(to.tv_sec - from.tv_sec) * 1e3 + static_cast<double>(to.tv_nsec - from.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const int frames = argc > 2 ? std::atoi(argv[2]) : 128;
    if (seconds <= 0 || frames <= 0) {
        std::fprintf(stderr, "usage: wakeups [seconds] [period frames]\n");
        return 2;
    }
    sched_param priority{};
    priority.sched_priority = 88;
    const bool realTime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority) == 0;

    const long period = frames * nanosPerSecond / 48000;
    const double periodMs = static_cast<double>(period) / 1e6;
    std::vector<double> late(static_cast<size_t>(seconds * nanosPerSecond / period));
    timespec due{};
    clock_gettime(CLOCK_MONOTONIC, &due);
    for (double& lateness : late) {
        advance(due, period);
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        lateness = millisecondsBetween(due, now);
    }
    const auto missed = std::count_if(late.begin(), late.end(), [&](double ms) { return ms > periodMs; });
    std::sort(late.begin(), late.end());
    const auto at = [&](double share) {
        return late[static_cast<size_t>(share * static_cast<double>(late.size() - 1))];
    };
    std::printf(
        "%zu wake-ups every %.2f ms (%s): median %.3f ms, p99 %.3f ms, "
        "p99.9 %.3f ms, worst %.3f ms; "
        "%ld more than a period late\n",
        late.size(), periodMs, realTime ? "SCHED_FIFO 88" : "not real-time: no permission", at(0.5), at(0.99),
        at(0.999), late.back(), static_cast<long>(missed));
    return 0;
}

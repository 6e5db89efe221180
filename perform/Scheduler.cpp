#include "perform/Scheduler.h"

#include <pthread.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <limits>

#include "app/Log.h"

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
// The thread looks at the queue at least this often, whatever is due.
constexpr double longestSleep = 0.5;

timespec asTimespec(double seconds) {
    const double whole = std::floor(seconds);
    timespec t{};
    t.tv_sec = static_cast<time_t>(whole);
    t.tv_nsec = static_cast<long>((seconds - whole) * 1e9);
    if (t.tv_sec == 0 && t.tv_nsec == 0) t.tv_nsec = 1;  // zero would disarm the timer
    return t;
}

// Timed output wants the processor as soon as its event is due; without the permission for a
// real-time priority the thread runs at the ordinary one.
void askForRealTimePriority(std::thread& thread) {
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 10;
    pthread_setschedparam(thread.native_handle(), SCHED_FIFO, &param);
}

}  // namespace

Scheduler::Scheduler(Clock clock, Player player, void* context, std::recursive_mutex& engineLock)
    : clock_(clock), player_(player), context_(context), engineLock_(engineLock), heap_(new Entry[capacity]) {}

Scheduler::~Scheduler() { stop(); }

bool Scheduler::start() {
    if (running_) return true;
    timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    if (timer_ < 0) {
        logMessage("ERROR: Scheduler::start timerfd_create failed\n");
        return false;
    }
    running_ = true;
    thread_ = std::thread([this] { threadMain(); });
    askForRealTimePriority(thread_);
    return true;
}

void Scheduler::stop() {
    {
        std::lock_guard guard(engineLock_);
        if (!running_) return;
        running_ = false;
        armedFor_ = infinity;
        itimerspec now{};
        now.it_value = asTimespec(0.0);
        timerfd_settime(timer_, TFD_TIMER_ABSTIME, &now, nullptr);
    }
    thread_.join();
    close(timer_);
    timer_ = -1;
}

double Scheduler::lead() const {
    const double wanted = ahead_ ? ahead_() : 0.0;
    return wanted > 0.0 ? wanted + wakeMargin : 0.0;
}

bool Scheduler::add(uint32_t event, double due, bool ahead) {
    if (count_ == capacity) return false;
    const double playAt = ahead ? due - lead() : due;
    heap_[count_] = {playAt, due, nextOrder_++, event};
    siftUp(count_++);
    if (playAt < armedFor_) wakeAt(playAt);
    return true;
}

void Scheduler::cancel() { count_ = 0; }

double Scheduler::runDue(double now) {
    while (count_ > 0 && heap_[0].playAt <= now) {
        const Entry entry = popFirst();
        player_(context_, entry.event, entry.due);
    }
    return nextDue();
}

double Scheduler::nextDue() const { return count_ > 0 ? heap_[0].playAt : infinity; }

bool Scheduler::holds(uint32_t event) const {
    for (uint32_t i = 0; i < count_; ++i)
        if (heap_[i].event == event) return true;
    return false;
}

void Scheduler::siftUp(uint32_t i) {
    while (i > 0) {
        const uint32_t parent = (i - 1) / 2;
        if (!before(heap_[i], heap_[parent])) return;
        std::swap(heap_[i], heap_[parent]);
        i = parent;
    }
}

void Scheduler::siftDown(uint32_t i) {
    for (;;) {
        uint32_t first = i;
        for (uint32_t child = 2 * i + 1; child <= 2 * i + 2 && child < count_; ++child)
            if (before(heap_[child], heap_[first])) first = child;
        if (first == i) return;
        std::swap(heap_[i], heap_[first]);
        i = first;
    }
}

Scheduler::Entry Scheduler::popFirst() {
    const Entry first = heap_[0];
    heap_[0] = heap_[--count_];
    siftDown(0);
    return first;
}

void Scheduler::wakeAt(double due) {
    armedFor_ = due;
    if (timer_ < 0) return;
    itimerspec when{};
    when.it_value = asTimespec(due);
    timerfd_settime(timer_, TFD_TIMER_ABSTIME, &when, nullptr);
}

void Scheduler::threadMain() {
    for (;;) {
        {
            std::lock_guard guard(engineLock_);
            if (!running_) return;
            const double now = clock_();
            // Armed under the lock, so that an earlier event added meanwhile re-arms it after us.
            wakeAt(std::min(runDue(now), now + longestSleep));
        }
        uint64_t expirations;
        if (read(timer_, &expirations, sizeof expirations) < 0 && errno != EINTR) return;
    }
}

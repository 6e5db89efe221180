#pragma once
// Timed output: song events handed over with their due times on the program's clock are played,
// each at its time, by a thread of its own that sleeps on the monotonic clock until the next one.
// An output that places messages at their frames (JACK) wants them ahead of their due time: the
// events are then played that much earlier, with their due times, so that they reach a cycle that
// still holds their frame.
//
// The queue belongs to the engine: add, cancel and runDue are called with the engine lock held,
// and the thread takes that lock for each round of playing, so a cancel under the lock is final:
// nothing queued before it is played after it. Nothing allocates once constructed.

#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

class Scheduler {
public:
    using Clock = double (*)();
    // Plays one due event (an index into the song's events) that fell due at `due`.
    using Player = void (*)(void* context, uint32_t event, double due);
    // How long before its due time the output wants a timed message (seconds).
    using Ahead = double (*)();
    // The thread's own allowance for waking late, added to what the output wants.
    static constexpr double wakeMargin = 0.002;

    static constexpr uint32_t capacity = 8192;

    Scheduler(Clock clock, Player player, void* context, std::recursive_mutex& engineLock);
    ~Scheduler();
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    // Starts the playing thread; until then only runDue plays (as tests drive it).
    bool start();
    void stop();

    // Where the output's need comes from; none: every event is played when due.
    void setAhead(Ahead ahead) { ahead_ = ahead; }
    // How long before its due time an event for the output is played: what the output wants plus
    // the wake-up margin, or 0 when it wants nothing.
    double lead() const;

    // Queues an event; events due at the same time are played in the order they were added. A
    // mark for the engine itself (not ahead) is played when due, events for the output lead()
    // before. False, with nothing queued, when the queue is full.
    bool add(uint32_t event, double due, bool ahead = true);
    // Empties the queue.
    void cancel();
    // Plays every event to be played at or before now, in order; when the next one is to be
    // played, or infinity when none is left.
    double runDue(double now);
    uint32_t pending() const { return count_; }
    // When the next event is to be played, or infinity.
    double nextDue() const;
    // The event waits in the queue.
    bool holds(uint32_t event) const;

private:
    struct Entry {
        double playAt;
        double due;
        uint64_t order;
        uint32_t event;
    };

    static bool before(const Entry& a, const Entry& b) {
        return a.playAt < b.playAt || (a.playAt == b.playAt && a.order < b.order);
    }
    void siftUp(uint32_t i);
    void siftDown(uint32_t i);
    Entry popFirst();
    void wakeAt(double due);
    void threadMain();

    Clock clock_;
    Player player_;
    void* context_;
    Ahead ahead_ = nullptr;
    std::recursive_mutex& engineLock_;
    std::unique_ptr<Entry[]> heap_;
    uint32_t count_ = 0;
    uint64_t nextOrder_ = 0;
    int timer_ = -1;
    double armedFor_ = 0.0;
    bool running_ = false;
    std::thread thread_;
};

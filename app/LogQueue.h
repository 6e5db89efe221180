#pragma once
// Log lines from the threads that must not wait or allocate: the MIDI input's (under JACK, JACK's
// real-time thread) and the scheduler's. A line is formatted into a slot of a fixed ring without
// taking a lock or opening a file; the GUI thread writes the waiting lines to the log at its next
// timer tick, in the order they were posted. When the ring is full a line is dropped and counted,
// and the count is logged once with the next flush.

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>

class LogQueue {
public:
    static constexpr uint32_t capacity = 256;
    static constexpr size_t lineSize = 160;  // longer lines are cut

    LogQueue();
    LogQueue(const LogQueue&) = delete;
    LogQueue& operator=(const LogQueue&) = delete;

    // Any thread; false when the line was dropped.
    bool post(const char* format, va_list args);
    // The GUI thread: writes the waiting lines to the log.
    void flush();

private:
    struct Slot {
        // Equal to the position a producer may fill, one more once filled, and a lap further once
        // the consumer has written it out.
        std::atomic<uint32_t> sequence;
        char text[lineSize];
    };

    Slot slots_[capacity];
    std::atomic<uint32_t> tail_{0};
    uint32_t head_ = 0;
    std::atomic<uint32_t> dropped_{0};
};

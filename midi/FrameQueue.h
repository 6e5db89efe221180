#pragma once
// Messages on their way from the sending threads to an audio-cycle callback that writes each at a
// frame of its cycle: a fixed ring with one sender at a time and one reader, and the rule that
// places them. Nothing allocates or waits on either side.
//
// Placement: an untimed message goes at the earliest frame; a timed one at the frame of its due
// time plus a fixed delay, held for a later cycle when that frame lies beyond this one. Messages
// leave in the order they were sent, and an untimed message takes the ones queued before it along
// at once, so a tap or a silence never waits behind a timed note, nor is overtaken by one.

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>

class FrameQueue {
public:
    static constexpr uint32_t capacity = 4096;  // a power of two

    // The cycle being written: the time its first frame stands for and the next cycle's, in the
    // clock of the due times (microseconds), and the delay added to every due time.
    struct Cycle {
        uint64_t startUs;
        uint64_t nextUs;
        double delayUs;
    };

    // Sender side. due 0: at the earliest frame. False when the ring is full.
    bool push(const uint8_t* bytes, uint8_t length, uint64_t dueUs) {
        const uint32_t at = written_.load(std::memory_order_relaxed);
        if (at - read_.load(std::memory_order_acquire) == capacity) return false;
        Queued& queued = ring_[at & mask];
        std::memcpy(queued.bytes, bytes, length);
        queued.length = length;
        queued.dueUs = dueUs;
        written_.store(at + 1, std::memory_order_release);
        return true;
    }
    bool empty() const { return read_.load(std::memory_order_acquire) == written_.load(std::memory_order_acquire); }
    // Drops everything queued; only while the reader is not running.
    void clear() { read_.store(written_.load(std::memory_order_acquire), std::memory_order_release); }

    // Reader side: hands write(frame, bytes, length) this cycle's messages in order, with
    // non-decreasing frames below `frames`; a write that fails (a full buffer) is retried in the
    // next cycle. cycle null: times unknown, everything at the earliest frame.
    template <class Write>
    void drain(uint32_t frames, const Cycle* cycle, Write&& write) {
        const uint32_t end = written_.load(std::memory_order_acquire);
        uint32_t next = read_.load(std::memory_order_relaxed);
        uint32_t pulledUpTo = next;
        for (uint32_t i = next; i != end; ++i)
            if (ring_[i & mask].dueUs == 0) pulledUpTo = i + 1;
        const bool timed = cycle && cycle->nextUs > cycle->startUs;
        const double framesPerUs = timed ? frames / static_cast<double>(cycle->nextUs - cycle->startUs) : 0.0;

        uint32_t earliest = 0;
        for (; next != end; ++next) {
            const Queued& queued = ring_[next & mask];
            uint32_t frame = earliest;
            if (queued.dueUs != 0 && timed && static_cast<int32_t>(next - pulledUpTo) >= 0) {
                const double offset =
                    (static_cast<double>(queued.dueUs) + cycle->delayUs - static_cast<double>(cycle->startUs)) * framesPerUs;
                if (offset >= frames) break;
                if (offset > earliest) frame = static_cast<uint32_t>(offset);
            }
            if (!write(frame, queued.bytes, queued.length)) break;
            earliest = frame;
        }
        read_.store(next, std::memory_order_release);
    }

private:
    static constexpr uint32_t mask = capacity - 1;
    struct Queued {
        uint8_t bytes[3];
        uint8_t length;
        uint64_t dueUs;
    };
    std::unique_ptr<Queued[]> ring_{new Queued[capacity]};
    std::atomic<uint32_t> written_{0};  // advanced by the sender
    std::atomic<uint32_t> read_{0};     // advanced by the reader
};

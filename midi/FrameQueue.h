#pragma once
// Messages on their way from the sending threads to an audio-cycle callback that writes each at a
// frame of its cycle: a fixed ring with one sender at a time and one reader, and the rule that
// places them. Nothing allocates or waits on either side.
//
// Placement: a timed message goes at the frame of its due time, held for a later cycle when that
// frame lies beyond this one, and at the earliest frame when it has passed (counted as late); an
// untimed message goes at the earliest frame. Messages leave in the order they were sent: one never
// goes after a message sent later, so a message due now takes those queued before it along (a tap
// or a silence never waits behind a timed note, nor is overtaken by one).

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

#include "midi/FrameClock.h"

class FrameQueue {
public:
    static constexpr uint32_t capacity = 4096;  // a power of two

    // Sender side. due 0: at the earliest frame; otherwise seconds on the program's clock. False
    // when the ring is full.
    bool push(const uint8_t* bytes, uint8_t length, double due) {
        const uint32_t at = written_.load(std::memory_order_relaxed);
        if (at - read_.load(std::memory_order_acquire) == capacity) return false;
        Queued& queued = ring_[at & mask];
        std::memcpy(queued.bytes, bytes, length);
        queued.length = length;
        queued.due = due;
        written_.store(at + 1, std::memory_order_release);
        return true;
    }
    bool empty() const { return read_.load(std::memory_order_acquire) == written_.load(std::memory_order_acquire); }
    // Drops everything queued; only while the reader is not running.
    void clear() { read_.store(written_.load(std::memory_order_acquire), std::memory_order_release); }

    // Reader side, for the cycle of `frames` frames from the absolute frame `first`: hands
    // write(frame, bytes, length) this cycle's messages in order, with non-decreasing frames below
    // `frames`; a write that fails (a full buffer) is retried in the next cycle. clock null or not
    // yet known: everything at the earliest frame. Returns how many timed messages went late.
    template <class Write>
    uint32_t drain(uint64_t first, uint32_t frames, const FrameClock* clock, Write&& write) {
        const uint32_t end = written_.load(std::memory_order_acquire);
        uint32_t next = read_.load(std::memory_order_relaxed);
        placeFrom(next, end, clock && clock->known() ? clock : nullptr);
        const int64_t start = static_cast<int64_t>(first);
        const int64_t cycleEnd = start + frames;
        uint32_t late = 0;
        for (; next != end; ++next) {
            const Queued& queued = ring_[next & mask];
            if (queued.at >= cycleEnd) break;
            const uint32_t frame = queued.at > start ? static_cast<uint32_t>(queued.at - start) : 0u;
            if (!write(frame, queued.bytes, queued.length)) break;
            if (queued.due != 0.0 && queued.own < start) ++late;
        }
        read_.store(next, std::memory_order_release);
        return late;
    }

private:
    static constexpr uint32_t mask = capacity - 1;
    static constexpr int64_t earliest = std::numeric_limits<int64_t>::min();
    struct Queued {
        uint8_t bytes[3];
        uint8_t length;
        double due;
        // Set by the reader: the frame of the message's own due time, and the frame it goes at (the
        // earliest of its own and those of every message sent after it).
        int64_t own;
        int64_t at;
    };

    // The reader owns the entries from `next` to `end` until it moves past them.
    void placeFrom(uint32_t next, uint32_t end, const FrameClock* clock) {
        int64_t least = std::numeric_limits<int64_t>::max();
        for (uint32_t i = end; i != next;) {
            Queued& queued = ring_[--i & mask];
            queued.own = queued.due != 0.0 && clock ? clock->frameAt(queued.due) : earliest;
            least = std::min(least, queued.own);
            queued.at = least;
        }
    }

    std::unique_ptr<Queued[]> ring_{new Queued[capacity]};
    std::atomic<uint32_t> written_{0};  // advanced by the sender
    std::atomic<uint32_t> read_{0};     // advanced by the reader
};

#pragma once
// What an audio server's process callback does with MIDI in one cycle, apart from the server's own
// calls: the input's events go to the engine first, each with the time of its frame, and what they
// produce for the output is written in the same cycle at that frame, after the timed messages
// queued before; then the output's queue is written. The JACK back end feeds it JACK's buffers,
// the recording back end of the tests feeds it lists.
//
// The callback never waits: the handler refuses an event while the engine is busy, and the event
// then waits here, with its time, to be offered again first in the next cycle. Nothing allocates.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "midi/FrameClock.h"
#include "midi/FrameQueue.h"

class MidiCycle {
public:
    // Hands one input message to the engine with the time of its frame on the program's clock;
    // false when the engine is busy.
    using Handler = bool (*)(void* context, const uint8_t* bytes, uint8_t length, double at);
    static constexpr uint32_t waitingCapacity = 256;

    MidiCycle(Handler handler, void* context) : handler_(handler), context_(context) {}
    MidiCycle(const MidiCycle&) = delete;
    MidiCycle& operator=(const MidiCycle&) = delete;

    // Sending threads, one at a time. due 0: at the earliest frame; otherwise seconds on the
    // program's clock. False when the queue is full.
    bool send(const uint8_t* bytes, uint8_t length, double due) { return queue_.push(bytes, length, due); }
    // Everything sent has been written.
    bool written() const { return queue_.empty(); }
    // Only while output() is not being called.
    void dropOutput() { queue_.clear(); }

    // The callback, each cycle: begin, then receive for each input event in frame order (or
    // forgetInput while the input is closed), then output while the output is open.
    void begin(uint64_t firstFrame, uint32_t frames, double rate, double callbackStart) {
        clock_.cycle(firstFrame, rate, callbackStart);
        first_ = firstFrame;
        frames_ = frames;
        if (clock_.known()) period_.store(frames / clock_.rate(), std::memory_order_relaxed);
        offerWaiting();
    }
    void receive(uint32_t frame, const uint8_t* bytes, size_t length) {
        if (!forEngine(bytes, length) || !clock_.known()) return;
        const uint8_t size = static_cast<uint8_t>(length);
        const double at = clock_.timeOf(first_ + frame);
        if (waiting_ == 0 && handler_(context_, bytes, size, at)) return;
        keep(bytes, size, at);
    }
    void forgetInput() { waiting_ = 0; }
    template <class Write>
    void output(Write&& write) {
        const uint32_t late = queue_.drain(first_, frames_, &clock_, write);
        if (late) late_.fetch_add(late, std::memory_order_relaxed);
    }

    // Any thread.
    double period() const { return period_.load(std::memory_order_relaxed); }  // seconds; 0 before the first cycle
    uint64_t lateOutput() const { return late_.load(std::memory_order_relaxed); }
    uint64_t waitedInput() const { return waited_.load(std::memory_order_relaxed); }
    uint64_t lostInput() const { return lost_.load(std::memory_order_relaxed); }

private:
    struct Waiting {
        uint8_t bytes[3];
        uint8_t length;
        double at;
    };

    // Short messages only, without system exclusive, timing clock, time code and active sensing,
    // which nothing here uses and which would fill the waiting room.
    static bool forEngine(const uint8_t* bytes, size_t length) {
        if (length == 0 || length > 3 || !(bytes[0] & 0x80)) return false;
        const uint8_t status = bytes[0];
        return status < 0xF0 || (status != 0xF0 && status != 0xF1 && status != 0xF7 && status != 0xF8 && status != 0xFE);
    }

    void keep(const uint8_t* bytes, uint8_t length, double at) {
        if (waiting_ == waitingCapacity) {
            lost_.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        Waiting& w = room_[(head_ + waiting_++) % waitingCapacity];
        for (uint8_t i = 0; i < length; ++i) w.bytes[i] = bytes[i];
        w.length = length;
        w.at = at;
        waited_.fetch_add(1, std::memory_order_relaxed);
    }

    void offerWaiting() {
        while (waiting_ > 0) {
            const Waiting& w = room_[head_];
            if (!handler_(context_, w.bytes, w.length, w.at)) return;
            head_ = (head_ + 1) % waitingCapacity;
            --waiting_;
        }
    }

    Handler handler_;
    void* context_;
    FrameClock clock_;
    FrameQueue queue_;
    uint64_t first_ = 0;
    uint32_t frames_ = 0;
    // Input events the engine could not take yet, oldest first; the callback's alone.
    Waiting room_[waitingCapacity] = {};
    uint32_t head_ = 0;
    uint32_t waiting_ = 0;
    std::atomic<double> period_{0.0};
    std::atomic<uint64_t> late_{0};
    std::atomic<uint64_t> waited_{0};
    std::atomic<uint64_t> lost_{0};
};

#pragma once
// The times of an audio server's frames on the program's clock, so that an input event's frame
// becomes a tap's time and a due time becomes the frame to write a message at.
//
// Each cycle tells the frame it begins with and when its callback began. A callback never runs
// before its first frame is due, and runs later by a varying wake-up delay, so the earliest offset
// seen between the two clocks is kept: the wake-up's jitter never moves the frames' times. The
// offset is taken afresh from every block of cycles, so that a sound card's drift against the
// system clock, or frames lost in a stall, are followed within a second or two.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

class FrameClock {
public:
    static constexpr uint32_t blockCycles = 256;

    void cycle(uint64_t firstFrame, double rate, double callbackStart) {
        if (rate <= 0.0) return;
        const double offset = callbackStart - static_cast<double>(firstFrame) / rate;
        if (rate != rate_ || offset < offset_) {
            rate_ = rate;
            offset_ = offset;
        }
        blockLeast_ = std::min(blockLeast_, offset);
        if (++blockCount_ < blockCycles) return;
        offset_ = blockLeast_;
        blockLeast_ = std::numeric_limits<double>::infinity();
        blockCount_ = 0;
    }

    bool known() const { return rate_ > 0.0; }
    double rate() const { return rate_; }
    double timeOf(uint64_t frame) const { return offset_ + static_cast<double>(frame) / rate_; }
    int64_t frameAt(double time) const { return std::llround((time - offset_) * rate_); }

private:
    double rate_ = 0.0;
    double offset_ = std::numeric_limits<double>::infinity();
    double blockLeast_ = std::numeric_limits<double>::infinity();
    uint32_t blockCount_ = 0;
};

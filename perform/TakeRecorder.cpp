#include "perform/TakeRecorder.h"

#include <algorithm>

#include "app/Log.h"
#include "midi/MessageKinds.h"

namespace {

// Local Control sets up the performer's keyboard; it is not part of the music played.
bool belongsInTake(const Message& message) {
    const uint8_t kind = message.status & 0xF0;
    if (kind < midi::noteOff || kind == midi::system) return false;
    return !(kind == midi::controlChange && message.data1 == midi::localControl);
}

bool startsNote(const Message& message) {
    return (message.status & 0xF0) == midi::noteOn && message.data2 > 0;
}

}  // namespace

TakeRecorder::TakeRecorder(Clock clock, std::recursive_mutex& engineLock, uint32_t blockMessages, uint32_t maxBlocks)
    : clock_(clock),
      engineLock_(engineLock),
      blockMessages_(blockMessages),
      maxBlocks_(maxBlocks),
      blocks_(std::make_unique<std::unique_ptr<TakeMessage[]>[]>(maxBlocks)) {
    if (maxBlocks_ > 0) blocks_[blockCount_++] = std::make_unique<TakeMessage[]>(blockMessages_);
}

void TakeRecorder::listen(void* recorder, const Message& message, double due) {
    static_cast<TakeRecorder*>(recorder)->record(message, due);
}

void TakeRecorder::record(const Message& message, double due) {
    if (!belongsInTake(message)) return;
    std::lock_guard guard(engineLock_);
    const double time = due != 0.0 ? due : clock_();
    // A Note On sets no state, so the take that it begins does not replay it.
    state_.apply(message);
    if (!taking_) {
        if (!startsNote(message)) return;
        begin(time);
    }
    append(time, message);
}

// The take starts as the listener heard it: every channel as the messages before had set it.
void TakeRecorder::begin(double time) {
    taking_ = true;
    state_.replay([&](const Message& message) { append(time, message); });
}

bool TakeRecorder::append(double time, const Message& message) {
    if (stopped_) return false;
    if (count_ == capacity()) {
        stopped_ = true;
        stoppedAt_ = clock_();
        return false;
    }
    at(count_++) = {time, message};
    return true;
}

void TakeRecorder::tick() {
    bool grow = false;
    bool logStop = false;
    uint32_t recorded = 0;
    {
        std::lock_guard guard(engineLock_);
        grow = blockCount_ < maxBlocks_ && capacity() - count_ < blockMessages_;
        logStop = stopped_ && !stopLogged_;
        stopLogged_ = stopped_;
        recorded = count_;
    }
    if (logStop) logMessage("The take is full (%u messages): recording stopped until it is saved\n", recorded);
    if (!grow) return;
    // Allocated outside the lock; only this thread adds blocks, so the slot is still free.
    auto block = std::make_unique<TakeMessage[]>(blockMessages_);
    std::lock_guard guard(engineLock_);
    blocks_[blockCount_++] = std::move(block);
}

Take TakeRecorder::handOver() {
    Take take;
    uint32_t room = size();
    for (;;) {
        take.messages.reserve(room);
        std::lock_guard guard(engineLock_);
        if (count_ > take.messages.capacity()) {
            // More arrived while the room was made; make room for them too, outside the lock.
            room = count_ + blockMessages_;
            continue;
        }
        for (uint32_t first = 0; first < count_; first += blockMessages_) {
            const TakeMessage* block = blocks_[first / blockMessages_].get();
            take.messages.insert(take.messages.end(), block, block + std::min(blockMessages_, count_ - first));
        }
        take.end = stopped_ ? stoppedAt_ : clock_();
        count_ = 0;
        taking_ = false;
        stopped_ = false;
        stopLogged_ = false;
        return take;
    }
}

uint32_t TakeRecorder::size() const {
    std::lock_guard guard(engineLock_);
    return count_;
}

bool TakeRecorder::stopped() const {
    std::lock_guard guard(engineLock_);
    return stopped_;
}

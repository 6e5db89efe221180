#include "app/LogQueue.h"

#include <cstdio>

#include "app/Log.h"

LogQueue::LogQueue() {
    for (uint32_t i = 0; i < capacity; ++i) slots_[i].sequence.store(i, std::memory_order_relaxed);
}

bool LogQueue::post(const char* format, va_list args) {
    uint32_t position = tail_.load(std::memory_order_relaxed);
    for (;;) {
        Slot& slot = slots_[position % capacity];
        const uint32_t sequence = slot.sequence.load(std::memory_order_acquire);
        const int32_t lead = static_cast<int32_t>(sequence - position);
        if (lead < 0) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        if (lead > 0) {
            position = tail_.load(std::memory_order_relaxed);
            continue;
        }
        if (!tail_.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) continue;
        std::vsnprintf(slot.text, lineSize, format, args);
        slot.sequence.store(position + 1, std::memory_order_release);
        return true;
    }
}

void LogQueue::flush() {
    LogBatch batch;
    for (;;) {
        Slot& slot = slots_[head_ % capacity];
        if (slot.sequence.load(std::memory_order_acquire) != head_ + 1) break;
        logMessage("%s", slot.text);
        slot.sequence.store(head_ + capacity, std::memory_order_release);
        ++head_;
    }
    if (const uint32_t dropped = dropped_.exchange(0, std::memory_order_relaxed))
        logMessage("ERROR: %u log lines from the MIDI input thread were dropped\n", dropped);
}

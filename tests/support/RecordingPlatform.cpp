#include "support/RecordingPlatform.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "app/Nolari.h"
#include "midi/MidiCycle.h"
#include "midi/grwin.h"
#include "midi/platform.h"

namespace recording {

namespace {

std::mutex& lock() {
    static std::mutex instance;
    return instance;
}

void portDelay() {
    if (state().portMicroseconds > 0) std::this_thread::sleep_for(std::chrono::microseconds(state().portMicroseconds));
}

bool toEngine(void*, const uint8_t* bytes, uint8_t length, double at) {
    return state().jack->tryMidiIn(bytes[0], length > 1 ? bytes[1] : 0, length > 2 ? bytes[2] : 0, at);
}

bool sounding[16][128];  // on the open output

void follow(uint8_t status, uint8_t pitch, uint8_t velocity) {
    const uint8_t kind = status & 0xF0;
    if (state().openOutput >= 0 && (kind == 0x80 || kind == 0x90)) sounding[status & 0x0F][pitch] = kind == 0x90 && velocity;
}

void strand() {
    for (auto& channel : sounding)
        for (bool& note : channel) state().strandedNotes += std::exchange(note, false);
}

struct Cycles {
    MidiCycle midi{toEngine, nullptr};
    uint64_t next = 0;
};
std::unique_ptr<Cycles> cycles = std::make_unique<Cycles>();

void queueForCycle(uint8_t status, uint8_t data1, uint8_t data2, double due) {
    const uint8_t bytes[3] = {status, data1, data2};
    if (state().jack) cycles->midi.send(bytes, static_cast<uint8_t>(MidiMessageLength(status)), due);
}

}  // namespace

State& state() {
    static State s;
    return s;
}

void reset() {
    state() = State{};
    strand();
    state().strandedNotes = 0;
    cycles = std::make_unique<Cycles>();
}

FramedList cycle(const FramedList& input) {
    constexpr uint32_t frames = 256;
    constexpr double rate = 48000.0;
    const uint64_t first = std::exchange(cycles->next, cycles->next + frames);
    cycles->midi.begin(first, frames, rate, 100.0 + first / rate);
    for (const auto& [frame, m] : input) {
        const uint8_t bytes[3] = {m.status, m.data1, m.data2};
        cycles->midi.receive(frame, bytes, static_cast<size_t>(MidiMessageLength(m.status)));
    }
    FramedList written;
    cycles->midi.output([&](uint32_t frame, const uint8_t* b, uint8_t length) {
        written.push_back({frame, {b[0], length > 1 ? b[1] : uint8_t{0}, length > 2 ? b[2] : uint8_t{0}}});
        return true;
    });
    return written;
}

void receive(uint8_t status, uint8_t data1, uint8_t data2) {
    receiveCode(MIM_DATA, status | (data1 << 8) | (data2 << 16), 0);
}

void receiveCode(unsigned code, uintptr_t param1, uintptr_t param2) {
    {
        std::lock_guard<std::mutex> guard(lock());
        if (state().openInput < 0) return;
    }
    MidiInProc(&state(), code, 0, param1, param2);
}

}  // namespace recording

namespace platform {

using recording::lock;
using recording::portDelay;
using recording::state;

int listedInputs() { return static_cast<int>(state().inputs.size()); }
int listedOutputs() { return static_cast<int>(state().outputs.size()); }

int numInputs() {
    ++state().listings;
    return listedInputs();
}

int numOutputs() {
    ++state().listings;
    return listedOutputs();
}

bool inputName(int n, std::string& name) {
    if (n < 0 || n >= listedInputs() || n == state().failName) return false;
    name = state().inputs[n];
    return true;
}

bool outputName(int n, std::string& name) {
    if (n < 0 || n >= listedOutputs() || n == state().failName) return false;
    name = state().outputs[n];
    return true;
}

int openInput(int n) {
    portDelay();
    std::lock_guard<std::mutex> guard(lock());
    if (state().failOpen || n < 0 || n >= listedInputs()) return 1;
    state().openInput = n;
    return 0;
}

int closeInput() {
    portDelay();
    std::lock_guard<std::mutex> guard(lock());
    if (state().openInput < 0) return 1;
    state().openInput = -1;
    return 0;
}

int openOutput(int n) {
    portDelay();
    std::lock_guard<std::mutex> guard(lock());
    if (state().failOpen || n < 0 || n >= listedOutputs()) return 1;
    state().openOutput = n;
    return 0;
}

int closeOutput() {
    portDelay();
    std::lock_guard<std::mutex> guard(lock());
    if (state().openOutput < 0) return 1;
    recording::strand();
    state().openOutput = -1;
    return 0;
}

int sendShort(uint8_t status, uint8_t data1, uint8_t data2, double due) {
    std::lock_guard<std::mutex> guard(lock());
    ++state().sentCount;
    if (state().keep) state().sent.push_back({status, data1, data2, due});
    recording::follow(status, data1, data2);
    recording::queueForCycle(status, data1, data2, due);
    return state().openOutput < 0 ? 1 : 0;
}

int reset() {
    std::lock_guard<std::mutex> guard(lock());
    ++state().resets;
    if (state().keep) state().resetAt.push_back(state().sent.size());
    if (state().openOutput >= 0) std::fill(&recording::sounding[0][0], &recording::sounding[0][0] + sizeof recording::sounding, false);
    for (uint8_t channel = 0; channel < 16; ++channel) {
        recording::queueForCycle(static_cast<uint8_t>(0xB0 | channel), 64, 0, 0.0);
        recording::queueForCycle(static_cast<uint8_t>(0xB0 | channel), 123, 0, 0.0);
    }
    return state().openOutput < 0 ? 1 : 0;
}

double outputAhead() { return state().ahead; }

Delays delays() {
    const MidiCycle& cycle = recording::cycles->midi;
    return {cycle.lateOutput(), cycle.waitedInput(), cycle.lostInput()};
}

}  // namespace platform

#pragma once
// The recording MIDI back end linked into tests and benchmarks: a configurable list of ports,
// every message sent kept in order, and input injected as if it came from the open input.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class Nolari;

struct MidiMessage {
    uint8_t status, data1, data2;
    double due = 0.0;  // as handed to the back end; not part of a message's identity
    bool operator==(const MidiMessage& other) const {
        return status == other.status && data1 == other.data1 && data2 == other.data2;
    }
};

namespace recording {

struct State {
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    int openInput = -1;   // -1 when closed
    int openOutput = -1;  // -1 when closed
    int resets = 0;
    std::vector<size_t> resetAt;  // for each reset, how many messages had been sent before it
    bool failOpen = false;  // every open fails
    int failName = -1;      // the name lookup of this input and output index fails
    std::vector<MidiMessage> sent;
    // When false, sent messages are counted but not stored (benchmarks).
    bool keep = true;
    long long sentCount = 0;
    // Opening and closing a port takes this long, as a real device may.
    int portMicroseconds = 0;
    double ahead = 0.0;  // what outputAhead reports
    int listings = 0;    // how many times the port lists were asked for
    // Notes an output was closed with: started on it, and ended neither by a Note Off nor a reset.
    int strandedNotes = 0;
    // The output is a JACK port: what is sent is also queued for cycle(), whose input goes here.
    Nolari* jack = nullptr;
};

// Calls from the GUI thread and the MIDI-input thread may meet here; the platform functions keep
// the state consistent between them.
State& state();
// Back to no ports, nothing open, nothing sent.
void reset();
// Delivers one short message as the open input's callback would.
void receive(uint8_t status, uint8_t data1, uint8_t data2);
void receiveCode(unsigned code, uintptr_t param1, uintptr_t param2);

// A JACK process cycle of 256 frames as the real back end runs it, for the engine in state().jack:
// the input messages, at their frames, reach the engine with the times of their frames (or wait
// while it is busy), then the output's queue is written; returns what it wrote, at which frames.
// The first cycle after a reset begins at 100 s, the frames run at 48 kHz.
using FramedList = std::vector<std::pair<uint32_t, MidiMessage>>;
FramedList cycle(const FramedList& input = {});

}  // namespace recording

#pragma once
// The recording MIDI back end linked into tests and benchmarks: a configurable list of ports,
// every message sent kept in order, and input injected as if it came from the open input.

#include <cstdint>
#include <string>
#include <vector>

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
    bool failOpen = false;  // every open fails
    int failName = -1;      // the name lookup of this input and output index fails
    std::vector<MidiMessage> sent;
    // When false, sent messages are counted but not stored (benchmarks).
    bool keep = true;
    long long sentCount = 0;
};

State& state();
// Back to no ports, nothing open, nothing sent.
void reset();
// Delivers one short message as the open input's callback would.
void receive(uint8_t status, uint8_t data1, uint8_t data2);
void receiveCode(unsigned code, uintptr_t param1, uintptr_t param2);

}  // namespace recording

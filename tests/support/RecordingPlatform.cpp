#include "support/RecordingPlatform.h"

#include "midi/grwin.h"
#include "midi/platform.h"

namespace recording {

State& state() {
    static State s;
    return s;
}

void reset() { state() = State{}; }

void receive(uint8_t status, uint8_t data1, uint8_t data2) {
    receiveCode(MIM_DATA, status | (data1 << 8) | (data2 << 16), 0);
}

void receiveCode(unsigned code, uintptr_t param1, uintptr_t param2) {
    if (state().openInput < 0) return;
    MidiInProc(&state(), code, 0, param1, param2);
}

}  // namespace recording

namespace platform {

using recording::state;

int numInputs() { return static_cast<int>(state().inputs.size()); }
int numOutputs() { return static_cast<int>(state().outputs.size()); }

bool inputName(int n, std::string& name) {
    if (n < 0 || n >= numInputs() || n == state().failName) return false;
    name = state().inputs[n];
    return true;
}

bool outputName(int n, std::string& name) {
    if (n < 0 || n >= numOutputs() || n == state().failName) return false;
    name = state().outputs[n];
    return true;
}

int openInput(int n) {
    if (state().failOpen || n < 0 || n >= numInputs()) return 1;
    state().openInput = n;
    return 0;
}

int closeInput() {
    if (state().openInput < 0) return 1;
    state().openInput = -1;
    return 0;
}

int openOutput(int n) {
    if (state().failOpen || n < 0 || n >= numOutputs()) return 1;
    state().openOutput = n;
    return 0;
}

int closeOutput() {
    if (state().openOutput < 0) return 1;
    state().openOutput = -1;
    return 0;
}

int sendShort(uint8_t status, uint8_t data1, uint8_t data2, double due) {
    ++state().sentCount;
    if (state().keep) state().sent.push_back({status, data1, data2, due});
    return state().openOutput < 0 ? 1 : 0;
}

int reset() {
    ++state().resets;
    return state().openOutput < 0 ? 1 : 0;
}

}  // namespace platform

#pragma once
// The few operations the port layer needs from the system's MIDI back end. The program links the
// RtMidi implementation; unit tests and benchmarks link a recording one.

#include <cstdint>
#include <string>

namespace platform {

// Ask the system for its ports afresh; the names come from the last of these lists.
int numInputs();
int numOutputs();
// How many ports the last list held, without asking the system again.
int listedInputs();
int listedOutputs();
bool inputName(int n, std::string& name);
bool outputName(int n, std::string& name);

// Opens input n; its short messages reach MidiInProc as MIM_DATA (status in bits 0-7, data1 in
// 8-15, data2 in 16-23), back-end errors as MIM_ERROR; or, from a JACK input, MidiInAt on JACK's
// real-time thread, with the time of the event's frame. Result 0 on success.
int openInput(int n);
int closeInput();

int openOutput(int n);
int closeOutput();  // non-zero when no output is open
// Sends exactly the bytes the status needs, now (due 0) or at due, seconds on the program's
// monotonic clock: a JACK output writes it at the frame of that time, the other outputs send when
// called (the scheduler calls when it is due). Result 0 on success.
int sendShort(uint8_t status, uint8_t data1, uint8_t data2, double due = 0.0);
// Silences every note and the sustain pedal on all 16 channels of the open output.
int reset();
// How long before its due time a timed message must be handed to sendShort for the output to
// place it at its frame: one period of a JACK output; 0 for outputs that send when called.
double outputAhead();

// Counted since the start: timed messages that reached the output after their frame had passed
// (sent at the earliest frame instead), and JACK input events that waited for a busy engine, or
// were lost because too many waited.
struct Delays {
    uint64_t lateOutput = 0;
    uint64_t waitedInput = 0;
    uint64_t lostInput = 0;
};
Delays delays();

}  // namespace platform

// The port layer: device numbering and names, opening and closing, sending with the routing to
// the software synthesizer, and the input callback. The system's MIDI lives behind platform.h.

#include "midi/grwin.h"

#include <atomic>
#include <cstdio>

#include "app/Log.h"
#include "app/Nolari.h"
#include "midi/platform.h"
#include "synth/WindowsSynthGeneralMIDI.h"

int activeMidiOut = 0;
bool synthOpen = false;
int synthIndex = 0;

namespace {

// The synthesizer is the current output: kept apart from activeMidiOut, since synthIndex moves
// with the platform's list while the choice stays.
std::atomic<bool> synthActive{false};
// While the output changes, everything sent is dropped: a note started on the old output after
// its silence would sound there forever, and the engine lock is not held while ports open and
// close. Set and cleared under the engine lock, read by every sender.
std::atomic<bool> outputParked{false};

// Switch for the port layer's trace lines.
constexpr bool trace = false;

const char* enableText(bool enable) { return enable ? "enable" : "disable"; }

const char* messageName(unsigned code, char (&unknown)[32]) {
    switch (code) {
    case MIM_OPEN: return "MIM_OPEN";
    case MIM_CLOSE: return "MIM_CLOSE";
    case MIM_DATA: return "MIM_DATA";
    case MIM_LONGDATA: return "MIM_LONGDATA";
    case MIM_ERROR: return "MIM_ERROR";
    case MIM_LONGERROR: return "MIM_LONGERROR";
    case MM_MOM_OPEN: return "MM_MOM_OPEN";
    case MM_MOM_CLOSE: return "MM_MOM_CLOSE";
    case MM_MOM_DONE: return "MM_MOM_DONE";
    case MM_MOM_POSITIONCB: return "MM_MOM_POSITIONCB";
    case MIM_MOREDATA: return "MIM_MOREDATA";
    default: std::snprintf(unknown, sizeof unknown, "unknown(%d)", static_cast<int>(code)); return unknown;
    }
}

int switchOutput(int n, bool enable) {
    synthActive = false;
    if (n == -1) return -1;
    if (!enable) return platform::closeOutput() == 0 ? n : -1;
    if (synthOpen && n == NumMidiOuts() - 1) {
        synthActive = true;  // the synthesizer is always open
        return n;
    }
    // Sending into our own input would play every message back into the engine.
    std::string name;
    if (platform::outputName(n, name) && IsOwnPort(name)) {
        logMessage("ERROR: SetMidiOut(%d) %s is one of Nolari's own ports\n", n, name.c_str());
        return -1;
    }
    return platform::openOutput(n) == 0 ? n : -1;
}

}  // namespace

int NumMidiIns() {
    const int count = platform::numInputs();
    if (trace) logMessage("NumMidiIns() = %d\n", count);
    return count;
}

// The synthesizer stays the last entry however the platform's list changes.
int NumMidiOuts() {
    const int platformCount = platform::numOutputs();
    if (synthOpen) synthIndex = platformCount;
    const int count = platformCount + (synthOpen ? 1 : 0);
    if (trace) logMessage("NumMidiOuts() = %d\n", count);
    return count;
}

// The names come from the system's last list, which NumMidiIns and NumMidiOuts take: a lookup does
// not ask the system for its ports again.
bool MidiInName(int n, std::string& name) {
    if (n == -1) return false;
    if (n < 0 || n >= platform::listedInputs()) {
        logMessage("ERROR: MidiInName(%d) out of range\n", n);
        name.clear();
        return false;
    }
    if (!platform::inputName(n, name)) {
        logMessage("ERROR: MidiInName(%d) midiInGetDevCaps() error\n", n);
        name.clear();
        return false;
    }
    if (trace) logMessage("MidiInName(%d) = %s\n", n, name.c_str());
    return true;
}

bool MidiOutName(int n, std::string& name) {
    if (n == -1) return false;
    const int count = platform::listedOutputs() + (synthOpen ? 1 : 0);
    if (synthOpen && n == count - 1) {
        name = synth.name();
        return true;
    }
    if (n < 0 || n >= count) {
        logMessage("ERROR: MidiOutName(%d) out of range\n", n);
        name.clear();
        return false;
    }
    if (!platform::outputName(n, name)) {
        logMessage("ERROR: MidiOutName(%d) midiOutGetDevCaps() error\n", n);
        name.clear();
        return false;
    }
    if (trace) logMessage("MidiOutName(%d) = %s\n", n, name.c_str());
    return true;
}

int SetMidiIn(int n, bool enable) {
    if (n == -1) return -1;
    const int status = enable ? platform::openInput(n) : platform::closeInput();
    const int result = status == 0 ? n : -1;
    if (trace) logMessage("SetMidiIn( %d, %s ) = %d\n", n, enableText(enable), result);
    return result;
}

int SetMidiOut(int n, bool enable) {
    const int result = switchOutput(n, enable);
    if (trace) logMessage("SetMidiOut( %d, %s ) = %d\n", n, enableText(enable), result);
    activeMidiOut = result;
    return result;
}

int MidiOut(int port, uint8_t status, uint8_t data1, uint8_t data2, double due) {
    if (trace) logMessage("MidiOut( %d, %02x, %02x, %02x )\n", port, status, data1, data2);
    // The back end keeps its one open output itself, so no handle travels with the message.
    return sendMIDIEvent(nullptr, status, data1, data2, due);
}

int sendMIDIEvent(void*, uint8_t status, uint8_t data1, uint8_t data2, double due) {
    if (!(status & 0x80)) {
        logMessage("ERROR:sendMIDIEvent bStatus(0x%02x) is not a status byte\n", status);
        return 0;
    }
    if (outputParked) return 0;
    // The synthesizer plays what it is given at once, which is when a timed message falls due.
    if (synthActive) {
        synth.send(status & 0x0F, status & 0xF0, data1, data2);
        return 0;
    }
    return platform::sendShort(status, data1, data2, due);
}

// The synthesizer hears the same silence as a port: a sustain held through from the MIDI input
// would otherwise keep its notes ringing.
int MidiOutReset() {
    if (outputParked) return 0;
    if (!synthActive) return platform::reset();
    constexpr uint8_t controlChange = 0xB0, sustainPedal = 64, allNotesOff = 123;
    for (uint8_t channel = 0; channel < 16; ++channel) {
        synth.send(channel, controlChange, sustainPedal, 0);
        synth.send(channel, controlChange, allNotesOff, 0);
    }
    return 0;
}

void ParkMidiOut(bool parked) { outputParked = parked; }

double MidiOutAhead() { return outputParked || synthActive ? 0.0 : platform::outputAhead(); }

void MidiInProc(void* handle, unsigned code, uintptr_t instance, uintptr_t param1, uintptr_t param2) {
    if (code == MIM_OPEN || code == MIM_CLOSE) return;
    if (code == MIM_DATA) {
        nolari.midiIn(param1 & 0xFF, (param1 >> 8) & 0xFF, (param1 >> 16) & 0xFF);
        return;
    }
    char unknown[32];
    // One call, so that a line from the other thread cannot land inside this one.
    nolari.engineLog("grwin, MidiInProc(hMidiIn:%p dwInstance:%d dwParam1:%d dwParam2:%d) message: %s\n", handle,
                     static_cast<int>(instance), static_cast<int>(param1), static_cast<int>(param2),
                     messageName(code, unknown));
}

bool MidiInAt(uint8_t status, uint8_t data1, uint8_t data2, double at) {
    return nolari.tryMidiIn(status, data1, data2, at);
}

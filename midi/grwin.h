#pragma once
// The MIDI port layer: numbered inputs and outputs with their names, one open input whose short
// messages reach the main object, one open output, and the software synthesizer listed as the last
// output. Free functions over process-wide state.

#include <cstdint>
#include <string>

extern int activeMidiOut;  // the output index sendMIDIEvent sends to
extern bool synthOpen;     // the software synthesizer opened at start-up
extern int synthIndex;     // its output index when open

int NumMidiIns();
int NumMidiOuts();
bool MidiInName(int n, std::string& name);
bool MidiOutName(int n, std::string& name);
int SetMidiIn(int n, bool enable);
int SetMidiOut(int n, bool enable);
int MidiOut(int port, uint8_t status, uint8_t data1, uint8_t data2);
int sendMIDIEvent(void* handle, uint8_t status, uint8_t data1, uint8_t data2);
int MidiOutReset();
uint8_t MidiMessageType(uint8_t status, uint8_t data2);

// Message codes of the input callback.
enum : unsigned {
    MIM_OPEN = 961, MIM_CLOSE = 962, MIM_DATA = 963, MIM_LONGDATA = 964, MIM_ERROR = 965,
    MIM_LONGERROR = 966, MM_MOM_OPEN = 967, MM_MOM_CLOSE = 968, MM_MOM_DONE = 969,
    MM_MOM_POSITIONCB = 970, MIM_MOREDATA = 972,
};

// The input callback, called on the MIDI back end's thread.
void MidiInProc(void* handle, unsigned code, uintptr_t instance, uintptr_t param1, uintptr_t param2);

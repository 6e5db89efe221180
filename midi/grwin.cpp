#include "midi/grwin.h"

#include "midi/platform.h"

// The port layer is not built yet: there are no devices and nothing is sent.
int activeMidiOut = 0;
bool synthOpen = false;
int synthIndex = 0;

int NumMidiIns() { return 0; }
int NumMidiOuts() { return 0; }
bool MidiInName(int, std::string&) { return false; }
bool MidiOutName(int, std::string&) { return false; }
int SetMidiIn(int, bool) { return -1; }
int SetMidiOut(int, bool) { return -1; }
int MidiOut(int, uint8_t status, uint8_t data1, uint8_t data2) { return platform::sendShort(status, data1, data2); }
int sendMIDIEvent(void*, uint8_t, uint8_t, uint8_t) { return 0; }
int MidiOutReset() { return platform::reset(); }
uint8_t MidiMessageType(uint8_t status, uint8_t data2) {
    const uint8_t type = status & 0xF0;
    return type == 0x90 && data2 == 0 ? 0x80 : type;
}
void MidiInProc(void*, unsigned, uintptr_t, uintptr_t, uintptr_t) {}

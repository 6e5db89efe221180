#pragma once
// The MIDI port layer: numbered inputs and outputs with their names, one open input whose short
// messages reach the main object, one open output, and the software synthesizer listed as the last
// output. Free functions over process-wide state.

#include <cstdint>
#include <string>

extern int activeMidiOut;  // the output index sendMIDIEvent sends to
extern bool synthOpen;     // the software synthesizer opened at start-up
extern int synthIndex;     // its output index when open: the last one, refreshed by NumMidiOuts

int NumMidiIns();
int NumMidiOuts();
bool MidiInName(int n, std::string& name);
bool MidiOutName(int n, std::string& name);
int SetMidiIn(int n, bool enable);
int SetMidiOut(int n, bool enable);
// due: 0 for now, or the time on the program's clock the message is to sound (platform.h).
int MidiOut(int port, uint8_t status, uint8_t data1, uint8_t data2, double due = 0.0);
int sendMIDIEvent(void* handle, uint8_t status, uint8_t data1, uint8_t data2, double due = 0.0);
int MidiOutReset();
// While parked, MidiOut and MidiOutReset send nothing: the output is being changed.
void ParkMidiOut(bool parked);
// How long before its due time a timed message must be sent for the current output to place it at
// its frame: one period of a JACK output, 0 for the synthesizer and outputs that send when called.
double MidiOutAhead();
uint8_t MidiMessageType(uint8_t status, uint8_t data2);

// The number of bytes a short message with this status has on the wire: 3 for notes, aftertouch,
// controllers, pitch bend and song position, 2 for program change, channel pressure, time code and
// song select, 1 for the other system messages; 0 when it cannot be sent as a short message (a
// data byte, or the start or end of a system-exclusive message).
int MidiMessageLength(uint8_t status);

// Nolari's own MIDI clients as the port lists show them: "Nolari In:in" and "Nolari Out:out" on
// the ALSA sequencer, "Nolari:in" and "Nolari:out" on JACK.
inline constexpr const char* ownInputClient = "Nolari In";
inline constexpr const char* ownOutputClient = "Nolari Out";
inline constexpr const char* ownJackClient = "Nolari";
inline constexpr const char* ownInputPort = "in";
inline constexpr const char* ownOutputPort = "out";
// True for a port of one of Nolari's own clients, also when JACK gave the client a "-NN" suffix
// because another Nolari runs.
bool IsOwnPort(const std::string& name);

// An ALSA sequencer port name without the trailing client:port address ("Midi Through:Midi Through
// Port-0 14:0" becomes "Midi Through:Midi Through Port-0"), since the address changes between runs.
std::string WithoutAlsaAddress(const std::string& name);

// Message codes of the input callback.
enum : unsigned {
    MIM_OPEN = 961, MIM_CLOSE = 962, MIM_DATA = 963, MIM_LONGDATA = 964, MIM_ERROR = 965,
    MIM_LONGERROR = 966, MM_MOM_OPEN = 967, MM_MOM_CLOSE = 968, MM_MOM_DONE = 969,
    MM_MOM_POSITIONCB = 970, MIM_MOREDATA = 972,
};

// The input callback, called on the MIDI back end's thread.
void MidiInProc(void* handle, unsigned code, uintptr_t instance, uintptr_t param1, uintptr_t param2);
// A short message from a JACK input, on JACK's real-time thread, with the time of its frame on the
// program's clock. It never waits: false while the engine is busy, and the caller offers it again.
bool MidiInAt(uint8_t status, uint8_t data1, uint8_t data2, double at);

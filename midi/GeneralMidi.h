#pragma once
// The names General MIDI gives its 128 programs.

#include <cstdint>

// The name of program 0-127 ("Acoustic Grand Piano" for 0); the channel's own program number
// is ignored on channel 10 (index 9), which General MIDI keeps for percussion.
const char* generalMidiProgramName(uint8_t program, uint8_t channel = 0);

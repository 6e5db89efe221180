#include "midi/WindowsSynthGeneralMIDI.h"

// The software synthesizer is not built yet: it never opens.
WindowsSynthGeneralMIDI::WindowsSynthGeneralMIDI() {}
WindowsSynthGeneralMIDI::~WindowsSynthGeneralMIDI() { close(); }
bool WindowsSynthGeneralMIDI::open() { return false; }
void WindowsSynthGeneralMIDI::close() {}
void WindowsSynthGeneralMIDI::send(uint8_t, uint8_t, uint8_t, uint8_t) {}
bool WindowsSynthGeneralMIDI::setGMInstrument(uint8_t, uint8_t) { return false; }
void WindowsSynthGeneralMIDI::play(uint8_t, uint8_t, uint8_t, uint8_t) {}

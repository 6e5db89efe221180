#include "app/Nolari.h"

// Event output is not built yet.
void Nolari::trackNoteOn(uint8_t, uint8_t, uint8_t) {}
void Nolari::trackNoteOff(uint8_t, uint8_t) {}
void Nolari::playRange(Event*, Event*, uint8_t, uint8_t) {}
void Nolari::allNotesOff() {}
int Nolari::soundingCount() const { return 0; }
void Nolari::sendProgramChanges() {}

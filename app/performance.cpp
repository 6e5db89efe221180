#include "app/Nolari.h"

// Tapping and listening are not built yet.
void Nolari::tap(int, int) {}
void Nolari::release(int) {}
void Nolari::midiIn(uint8_t, uint8_t, uint8_t) {}
Event* Nolari::lastNoteOnOfGroup(Event* e) const { return e; }
int Nolari::groupMaxVelocity(Event*, Event*) const { return 0; }
void Nolari::startListening() {}
void Nolari::listenTick() {}
void Nolari::stopListening() {}

#include "app/Nolari.h"

// Navigation is not built yet.
void Nolari::nextNote() {}
void Nolari::previousNote() {}
void Nolari::forwardScreen() {}
void Nolari::backScreen() {}
void Nolari::goToStart() {}
void Nolari::toggleMarker() {}
void Nolari::nextMarker() {}
void Nolari::previousMarker() {}
void Nolari::goToMarker(int) {}
void Nolari::zoom(double) {}
void Nolari::group() {}
void Nolari::ungroup() {}
Event* Nolari::nextGroupStart(Event*) const { return nullptr; }
Event* Nolari::previousGroupStart() const { return nullptr; }
Event* Nolari::nextNoteOn() const { return nullptr; }

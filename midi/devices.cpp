#include "app/Nolari.h"

// Device selection and the pop-up menus are not built yet.
void Nolari::findDefaultMidiDevices() {}
int Nolari::findMidiInByName(const std::string&) const { return -1; }
int Nolari::findMidiOutByName(const std::string&) const { return -1; }
void Nolari::startMidi() {}
void Nolari::stopMidi() {}
void Nolari::sendLocalControl(bool) {}
void Nolari::selectMidiIn(int) {}
void Nolari::selectMidiOut(int) {}
void Nolari::changeMidiOut(int) {}
void Nolari::selectMain(int) {}
void Nolari::makeMenus() { menusDirty = false; }

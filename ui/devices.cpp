// Device selection and the pop-up menus: the default devices of a first start, opening the
// configured devices by name, switching them from the menus with the Local Control handshake, and
// the main menu's file and song options.
//
// Devices are switched on the GUI thread while taps from the MIDI input may be sending. Ports are
// never opened or closed, nor the configuration saved, under engineLock: closing an input waits
// for the input thread, which may itself be waiting for the lock, and a tap must not wait for slow
// work.

#include <GL/freeglut.h>

#include <mutex>

#include "app/Log.h"
#include "app/Nolari.h"
#include "config/Cfg.h"
#include "midi/GeneralMidi.h"
#include "midi/grwin.h"
#include "song/HandSplit.h"
#include "song/Meta.h"
#include "synth/platform_soundfile.h"
#include "ui/Menus.h"

namespace {

constexpr uint8_t localControl = 122;
constexpr int noDevice = -1;
const char* const separator = "---------------------------------";

void midiInMenu(int value) { nolari.selectMidiIn(value); }
void midiOutMenu(int value) { nolari.selectMidiOut(value); }
void mainMenu(int value) { nolari.selectMain(value); }
void listenSpeedMenu(int value) { nolari.selectListenSpeed(value); }
void transposeMenu(int value) { nolari.selectTranspose(value); }
void partsMenu(int value) { nolari.selectPart(value); }

constexpr int partsSubmenu = 4;
constexpr int exportWav = 6;
constexpr int exportFlac = 7;

// Loopback cables and Nolari's own ports play into nothing or back into Nolari, so a first start
// never chooses them.
bool defaultCandidate(const std::string& name) {
    return name.find("Yoke") == std::string::npos && name.find("Midi Through") == std::string::npos &&
           !IsOwnPort(name);
}

// An empty submenu makes freeglut open a window of no size, which X refuses, and the program
// hangs: with no device the submenu says so in an entry that does nothing.
std::vector<MenuEntry> deviceEntries(const std::vector<Device>& devices, const std::string& current,
                                     const char* none) {
    if (devices.empty()) return {{none, noDevice}};
    std::vector<MenuEntry> entries;
    for (const Device& device : devices) entries.push_back({markCurrent(device.name, device.name == current), device.index});
    return entries;
}

// The list may have moved since the menu showed the device at index n; if so it is found again by
// its name. A device whose name could not be read keeps its index.
bool stillListed(int n, const std::string& name, int (*count)(), bool (*lookup)(int, std::string&)) {
    std::string now;
    return name.empty() || (n >= 0 && n < count() && lookup(n, now) && now == name);
}

// A submenu entry opens the menu submenus[its value].
int addEntries(void (*callback)(int), const std::vector<MenuEntry>& entries, const std::vector<int>& submenus = {}) {
    const int menu = glutCreateMenu(callback);
    for (const MenuEntry& entry : entries) {
        const std::string label = bitmapText(entry.label);
        if (entry.submenu) glutAddSubMenu(label.c_str(), submenus[static_cast<std::size_t>(entry.value)]);
        else glutAddMenuEntry(label.c_str(), entry.value);
    }
    return menu;
}

}  // namespace

std::string markCurrent(const std::string& label, bool current) { return (current ? ">>>" : "        ") + label; }

MenuContents menuContents(const Nolari& nolari) {
    const Meta& meta = *nolari.meta;
    MenuContents menus;
    menus.devices = currentDevices();
    menus.midiIn = deviceEntries(menus.devices.inputs, nolari.cfg_->midiInDeviceName, "(no MIDI input found)");
    menus.midiOut = deviceEntries(menus.devices.outputs, nolari.cfg_->midiOutDeviceName, "(no MIDI output found)");
    menus.transpose = transposeEntries();
    menus.main = {
        {"midiIn", 0, true},
        {"midiOut", 1, true},
        {separator, -1},
        {"Open ...", 1},
        {separator, -1},
        {meta.chan16Mute ? "Channel 16: Mute" : "Channel 16: Play", 2},
        {meta.sendPedalEvents ? "Pedal Events: Auto" : "Pedal Events: User", 3},
        {meta.forceChannelOne ? "Channel: Force Channel One" : "Channel: ALL", 4},
        {meta.loop ? "Loop between markers: On" : "Loop between markers: Off", 5},
        {"Listen speed", 2, true},
        {transposeTitle(meta.transpose), 3, true},
        {"Parts", partsSubmenu, true},
    };
    menus.main.push_back({"Export take as audio", exportWav});
    if (platform::canWriteSoundFile(platform::SoundFileType::flac)) menus.main.push_back({"Export take as audio (FLAC)", exportFlac});
    menus.listenSpeed = listenSpeedEntries(meta);
    menus.parts = partEntries(nolari);
    menus.hands = handEntries(nolari);
    menus.handChoices = handChoiceEntries(nolari);
    return menus;
}

void Nolari::findDefaultMidiDevices() {
    std::string name;
    if (cfg_->midiInDeviceName.empty()) {
        midiInDevice = -1;
        for (int i = 0; i < NumMidiIns(); ++i) {
            if (!MidiInName(i, name) || !defaultCandidate(name)) continue;
            midiInDevice = i;
            cfg_->setMidiInDevice(name);
            break;
        }
    }
    if (cfg_->midiOutDeviceName.empty()) {
        midiOutDevice = -1;
        for (int i = 0; i < NumMidiOuts(); ++i) {
            if (!MidiOutName(i, name) || !defaultCandidate(name)) continue;
            midiOutDevice = i;
            cfg_->setMidiOutDevice(name);
            break;
        }
    }
}

int Nolari::findMidiInByName(const std::string& name) const {
    std::string found;
    for (int i = 0; i < NumMidiIns(); ++i)
        if (MidiInName(i, found) && found == name) return i;
    return -1;
}

int Nolari::findMidiOutByName(const std::string& name) const {
    std::string found;
    for (int i = 0; i < NumMidiOuts(); ++i)
        if (MidiOutName(i, found) && found == name) return i;
    return -1;
}

namespace {

// Ports are opened and closed outside the engine lock, so that a tap never waits for them; what
// is sent meanwhile is dropped rather than left sounding on an output about to close.
template <class Change>
void withOutputParked(Nolari& nolari, Change change) {
    {
        std::lock_guard<std::recursive_mutex> guard(nolari.engineLock);
        ParkMidiOut(true);
    }
    change();
    std::lock_guard<std::recursive_mutex> guard(nolari.engineLock);
    ParkMidiOut(false);
}

}  // namespace

void Nolari::startMidi() {
    midiInDevice = SetMidiIn(findMidiInByName(cfg_->midiInDeviceName), true);
    // Looked up after the input opened: its port joins the output list and moves the entries after it.
    const int output = findMidiOutByName(cfg_->midiOutDeviceName);
    withOutputParked(*this, [&] { midiOutDevice = SetMidiOut(output, true); });
    std::lock_guard<std::recursive_mutex> guard(engineLock);
    sendLocalControl(false);
    sendProgramChanges();
}

void Nolari::stopMidi() {
    {
        std::lock_guard<std::recursive_mutex> guard(engineLock);
        sendLocalControl(true);
    }
    SetMidiIn(midiInDevice, false);
    withOutputParked(*this, [&] { SetMidiOut(midiOutDevice, false); });
}

void Nolari::sendLocalControl(bool on) {
    for (uint8_t channel = 0; channel < 16; ++channel)
        output.send({static_cast<uint8_t>(0xB0 + channel), localControl, static_cast<uint8_t>(on ? 127 : 0)});
}

void Nolari::selectMidiIn(int n) {
    if (n == noDevice) return;
    std::string name;
    if (!deviceMenus.inputName(n, name)) MidiInName(n, name);
    const int device = stillListed(n, name, NumMidiIns, MidiInName) ? n : findMidiInByName(name);
    SetMidiIn(midiInDevice, false);
    {
        // Keys held on the old input would never be released.
        std::lock_guard<std::recursive_mutex> guard(engineLock);
        allNotesOff();
        forgetHeldKeys();
    }
    cfg_->setMidiInDevice(name);
    midiInDevice = device;
    SetMidiIn(device, true);
    menusDirty = true;
}

void Nolari::selectMidiOut(int n) {
    if (n == noDevice) return;
    std::string name;
    if (!deviceMenus.outputName(n, name)) MidiOutName(n, name);
    cfg_->setMidiOutDevice(name);
    changeMidiOut(stillListed(n, name, NumMidiOuts, MidiOutName) ? n : findMidiOutByName(name));
    menusDirty = true;
}

// The output is parked in the same hold of the lock as its silence: a tap that came between the two
// would sound on the old output after its silence, and its Note Off would go to the new one.
void Nolari::changeMidiOut(int n) {
    {
        std::lock_guard<std::recursive_mutex> guard(engineLock);
        allNotesOff();
        sendLocalControl(true);
        ParkMidiOut(true);
    }
    SetMidiOut(midiOutDevice, false);
    midiOutDevice = n;
    SetMidiOut(n, true);
    std::lock_guard<std::recursive_mutex> guard(engineLock);
    ParkMidiOut(false);
    sendLocalControl(false);
    // The new output has not heard the instruments the song chose so far.
    sendProgramChanges();
}

void Nolari::selectMain(int item) {
    if (item == exportWav || item == exportFlac) {
        exportTake(item == exportFlac ? platform::SoundFileType::flac : platform::SoundFileType::wav);
        return;
    }
    if (item < 1 || item > 5) {
        logMessage("ERROR: Nolari::selectMain( %d ) invalid menu item\n", item);
        return;
    }
    if (item == 1) {
        file();
    } else if (item == 5) {
        toggleLoop();
    } else {
        std::lock_guard<std::recursive_mutex> guard(engineLock);
        // The channel options change where a Note Off goes: the notes sounding end first.
        if (item != 3) allNotesOff();
        if (item == 2) meta->chan16Mute = !meta->chan16Mute;
        else if (item == 3) meta->sendPedalEvents = !meta->sendPedalEvents;
        else meta->forceChannelOne = !meta->forceChannelOne;
    }
    menusDirty = true;
}

// Regrouping changes what a tap plays next, so whatever sounds or waits is stopped first. The new
// roles and grouping are made outside the engine lock (a long song takes milliseconds, and writes
// the histogram and log lines), and swapped in under it; only this thread changes them.
void Nolari::selectPart(int value) {
    PartChoice choice;
    if (!songLoaded || !decodePartChoice(value, meta->parts.count(), choice)) return;
    if (choice.action == PartAction::SplitAutomatically) choice.pitch = automaticSplit(*song, choice.part);
    Parts roles = meta->parts;
    applyPartChoice(roles, choice);
    const Regrouping grouping = meta->defaultGrouping(*song, roles);
    {
        std::lock_guard<std::recursive_mutex> guard(engineLock);
        allNotesOff();
        std::swap(meta->parts, roles);
        Meta::regroup(*song, grouping);
    }
    overviewImage.forget();
    menusDirty = true;
    requestRedisplay();
}

// Menus replaced by a rebuild are left alone rather than destroyed: one of them may still be on
// the screen when the timer rebuilds.
void Nolari::makeMenus() {
    menusDirty = false;
    const MenuContents menus = menuContents(*this);
    deviceMenus.shown(menus.devices);
    int submenus[partsSubmenu + 1] = {};
    submenus[0] = addEntries(midiInMenu, menus.midiIn);
    submenus[1] = addEntries(midiOutMenu, menus.midiOut);
    submenus[2] = addEntries(listenSpeedMenu, menus.listenSpeed);
    submenus[3] = addEntries(transposeMenu, menus.transpose);
    std::vector<int> handChoices;
    for (const std::vector<MenuEntry>& choices : menus.handChoices) handChoices.push_back(addEntries(partsMenu, choices));
    submenus[partsSubmenu] = addEntries(partsMenu, menus.parts, {addEntries(partsMenu, menus.hands, handChoices)});
    glutCreateMenu(mainMenu);
    for (const MenuEntry& entry : menus.main) {
        if (entry.submenu) glutAddSubMenu(entry.label.c_str(), submenus[entry.value]);
        else glutAddMenuEntry(entry.label.c_str(), entry.value);
    }
    glutAttachMenu(GLUT_RIGHT_BUTTON);
}

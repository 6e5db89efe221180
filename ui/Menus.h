#pragma once
// The right-button pop-up menus as lists of labels and values, so that what they show can be
// built and checked without a window; Nolari::makeMenus hands these lists to GLUT.

#include <string>
#include <vector>

class Meta;
#include "ui/DeviceMenus.h"

class Nolari;

struct MenuEntry {
    std::string label;
    int value;             // what the menu's callback receives; for a submenu entry, which submenu
    bool submenu = false;  // value 0 is the midiIn submenu, 1 midiOut, 2 Listen speed, 3 Transpose, 4 Parts,
                           // 5 Metronome
};

struct MenuContents {
    std::vector<MenuEntry> midiIn;
    std::vector<MenuEntry> midiOut;
    std::vector<MenuEntry> transpose;
    std::vector<MenuEntry> main;
    std::vector<MenuEntry> parts;
    std::vector<MenuEntry> listenSpeed;
    std::vector<MenuEntry> metronome;
    DeviceLists devices;  // what the two device submenus offer
};

MenuContents menuContents(const Nolari& nolari);
// One entry per part of the current song, by track and channel, each choosing its part:
// "Track 2, Channel 1, Acoustic Grand Piano: Follow" (track and channel counted from 1).
std::vector<MenuEntry> partEntries(const Nolari& nolari);

// The Transpose submenu's title, "Transpose (+2)" or "Transpose (0)", and its entries, whose
// values are steps in semitones (0 for none).
std::string transposeTitle(int semitones);
std::vector<MenuEntry> transposeEntries();

// "50 %" … "125 %", the song's current speed marked; each entry's value is its percent.
std::vector<MenuEntry> listenSpeedEntries(const Meta& meta);

// "Off", "Count-in", "On", the song's setting marked; each entry's value is its MetronomeMode.
std::vector<MenuEntry> metronomeEntries(const Meta& meta);

// ">>>" before the current device's name, eight blanks before the others, so the names line up.
std::string markCurrent(const std::string& label, bool current);

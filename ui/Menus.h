#pragma once
// The right-button pop-up menus as lists of labels and values, so that what they show can be
// built and checked without a window; Nolari::makeMenus hands these lists to GLUT.

#include <cstdint>
#include <string>
#include <vector>

#include "song/Parts.h"
#include "ui/DeviceMenus.h"

class Meta;
class Nolari;

struct MenuEntry {
    std::string label;
    int value;             // what the menu's callback receives; for a submenu entry, which submenu
    bool submenu = false;  // in the main menu value 0 is the midiIn submenu, 1 midiOut, 2 Listen speed,
                           // 3 Transpose, 4 Parts
};

struct MenuContents {
    std::vector<MenuEntry> midiIn;
    std::vector<MenuEntry> midiOut;
    std::vector<MenuEntry> transpose;
    std::vector<MenuEntry> main;
    std::vector<MenuEntry> parts;  // its one submenu entry opens hands
    std::vector<MenuEntry> hands;  // entry k opens handChoices[k]
    std::vector<std::vector<MenuEntry>> handChoices;
    std::vector<MenuEntry> listenSpeed;
    DeviceLists devices;  // what the two device submenus offer
};

MenuContents menuContents(const Nolari& nolari);

// What an entry of the Parts menu or of its submenus does to a part.
enum class PartAction { Cycle, CycleLow, CycleHigh, SplitAt, SplitAutomatically, Join };
struct PartChoice {
    uint32_t part = 0;
    PartAction action = PartAction::Cycle;
    uint8_t pitch = 0;  // where SplitAt splits; SplitAutomatically finds it before the choice is applied
};
// The pitches a part can be split at from the menu: C3, G3, C4 (middle C), G4, C5.
inline constexpr uint8_t menuSplitPitches[] = {48, 55, 60, 67, 72};
// An entry's value: the part, plus the action (and for SplitAt the pitch's place in the list)
// times partValueStep, so that cycling a whole part's role has the part itself as its value.
inline constexpr int partValueStep = 1 << 20;
int partMenuValue(uint32_t part, PartAction action, int pitchIndex = 0);
// False for values no entry carries (separators, the inert entry, a part the song does not have).
bool decodePartChoice(int value, uint32_t parts, PartChoice& choice);
// Changes the part's roles or split and makes them take effect.
void applyPartChoice(Parts& parts, const PartChoice& choice);

// One entry per part of the current song, by track and channel, each moving its role on: "Track 2
// "Right Hand", Channel 1, Acoustic Grand Piano: Follow" (track and channel counted from 1, the
// track's name when it has one). A split part has an entry for each half instead: "Track 1,
// Channel 1, Acoustic Grand Piano, below C4 (left hand): Follow". Then the submenu that splits and
// joins parts.
std::vector<MenuEntry> partEntries(const Nolari& nolari);
// The split submenu, one entry per part, and each part's choices: the split pitches, automatic,
// and join for a split part.
std::vector<MenuEntry> handEntries(const Nolari& nolari);
std::vector<std::vector<MenuEntry>> handChoiceEntries(const Nolari& nolari);

// "C4" for 60, "F#3" for 54.
std::string pitchName(uint8_t pitch);
// A label as GLUT's bitmap fonts draw it: one byte per character, Latin-1; a character beyond it
// or a control character is drawn as '?'.
std::string bitmapText(const std::string& utf8);

// The Transpose submenu's title, "Transpose (+2)" or "Transpose (0)", and its entries, whose
// values are steps in semitones (0 for none).
std::string transposeTitle(int semitones);
std::vector<MenuEntry> transposeEntries();

// "50 %" … "125 %", the song's current speed marked; each entry's value is its percent.
std::vector<MenuEntry> listenSpeedEntries(const Meta& meta);

// ">>>" before the current device's name, eight blanks before the others, so the names line up.
std::string markCurrent(const std::string& label, bool current);

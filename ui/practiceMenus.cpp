// The Transpose submenu of the pop-up menu.

#include "ui/Menus.h"

std::string transposeTitle(int semitones) {
    return "Transpose (" + std::string(semitones > 0 ? "+" : "") + std::to_string(semitones) + ")";
}

std::vector<MenuEntry> transposeEntries() {
    return {{"Up a semitone", 1}, {"Down a semitone", -1}, {"Up an octave", 12}, {"Down an octave", -12}, {"None", 0}};
}

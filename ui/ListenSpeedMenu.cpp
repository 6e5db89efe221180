// The "Listen speed" submenu: how fast listening plays the song, kept per song in its metadata.

#include <string>

#include "app/Log.h"
#include "app/Nolari.h"
#include "song/Meta.h"
#include "ui/Menus.h"

std::vector<MenuEntry> listenSpeedEntries(const Meta& meta) {
    std::vector<MenuEntry> entries;
    for (int speed : listenSpeeds)
        entries.push_back({markCurrent(std::to_string(speed) + " %", speed == meta.listenSpeed), speed});
    return entries;
}

void Nolari::selectListenSpeed(int percent) {
    bool offered = false;
    for (int speed : listenSpeeds) offered = offered || speed == percent;
    if (!offered) {
        logMessage("ERROR: Nolari::selectListenSpeed( %d ) invalid menu item\n", percent);
        return;
    }
    setListenSpeed(percent);
    menusDirty = true;
}

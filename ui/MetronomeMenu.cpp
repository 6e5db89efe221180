// The "Metronome" submenu: silent, a count-in before listening, or clicking along with the
// performer, kept per song in its metadata.

#include <mutex>

#include "app/Log.h"
#include "app/Nolari.h"
#include "song/Meta.h"
#include "ui/Menus.h"

std::vector<MenuEntry> metronomeEntries(const Meta& meta) {
    const char* const labels[] = {"Off", "Count-in", "On"};
    std::vector<MenuEntry> entries;
    for (int mode = 0; mode < 3; ++mode)
        entries.push_back({markCurrent(labels[mode], static_cast<int>(meta.metronome) == mode), mode});
    return entries;
}

void Nolari::selectMetronome(int mode) {
    if (mode < 0 || mode > static_cast<int>(MetronomeMode::On)) {
        logMessage("ERROR: Nolari::selectMetronome( %d ) invalid menu item\n", mode);
        return;
    }
    {
        std::lock_guard<std::recursive_mutex> guard(engineLock);
        meta->metronome = static_cast<MetronomeMode>(mode);
        if (meta->metronome != MetronomeMode::On) metronome.stop();
    }
    menusDirty = true;
}

// Keeping the take: S writes it beside the song, and a song switch or the exit keeps an unsaved
// one in LastTake.mid in the starting directory, so that no performance is lost.
//
// The take is handed over under the engine lock and written outside it, on the GUI thread.

#include <mutex>

#include "app/Log.h"
#include "app/Nolari.h"
#include "perform/TakeFile.h"
#include "song/Meta.h"

namespace {

void logSaved(const std::string& path, const TakeFileSummary& summary) {
    logMessage("Saved take %s (%d notes, %.1f s)\n", path.c_str(), summary.notes, summary.seconds);
}

// Writes the take to LastTake.mid and logs it, or logs why it could not.
void keepInLastTake(const Take& take, const std::string& songPath) {
    const std::string path = startDirectory + "/LastTake.mid";
    TakeFileSummary summary;
    if (writeTakeFile(path, take, fileNameOf(songPath) + " last take", summary)) logSaved(path, summary);
    else logMessage("ERROR: unable to write the take to %s\n", path.c_str());
}

}  // namespace

void Nolari::saveTake() {
    const Take recorded = take.handOver();
    if (recorded.empty()) {
        logMessage("Nothing to save\n");
        return;
    }
    int number = 0;
    const std::string path = nextTakePath(songPath, number);
    TakeFileSummary summary;
    if (!writeTakeFile(path, recorded, fileNameOf(songPath) + " take " + std::to_string(number), summary)) {
        logMessage("ERROR: unable to write the take to %s\n", path.c_str());
        keepInLastTake(recorded, songPath);
        return;
    }
    // Taps move the position on the MIDI-input thread; the file is written outside the lock.
    bool loaded = false;
    uint32_t at = 0;
    {
        std::lock_guard guard(engineLock);
        loaded = songLoaded;
        at = meta->position;
    }
    if (loaded) meta->save(*song, at);
    logSaved(path, summary);
}

void Nolari::keepLastTake() {
    const Take recorded = take.handOver();
    if (!recorded.empty()) keepInLastTake(recorded, songPath);
}

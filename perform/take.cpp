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

// Writes the take to LastTake.mid and logs it, or logs why it could not; its path, or empty.
std::string keepInLastTake(const Take& take, const std::string& songPath) {
    const std::string path = startDirectory + "/LastTake.mid";
    TakeFileSummary summary;
    if (writeTakeFile(path, take, fileNameOf(songPath) + " last take", summary)) {
        logSaved(path, summary);
        return path;
    }
    logMessage("ERROR: unable to write the take to %s\n", path.c_str());
    return {};
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
        savedTakePath = keepInLastTake(recorded, songPath);
        return;
    }
    savedTakePath = path;
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

// The take saved since the song was opened; else the take so far, saved first; else one saved
// beside the song before.
std::string Nolari::takeToExport() {
    if (savedTakePath.empty() && take.size() > 0) saveTake();
    return savedTakePath.empty() ? newestTakePath(songPath) : savedTakePath;
}

void Nolari::exportTake(platform::SoundFileType type) {
    if (audioExport.busy()) {
        logMessage("ERROR: an export is still running\n");
        return;
    }
    const std::string path = songLoaded ? takeToExport() : std::string();
    if (path.empty()) {
        logMessage("Nothing to export\n");
        return;
    }
    audioExport.start(path, withoutMidiExtension(path) + (type == platform::SoundFileType::flac ? ".flac" : ".wav"));
}

// From the timer: the title follows a long render, and its end is logged.
void Nolari::exportTick() {
    ExportOutcome outcome;
    if (audioExport.collect(outcome)) {
        const RenderResult& result = outcome.result;
        if (result.written)
            logMessage("Exported take %s (%.1f s of sound, rendered in %.1f s)\n", outcome.soundPath.c_str(),
                       result.seconds, outcome.took);
        else
            logMessage("ERROR: unable to export %s to %s: %s\n", outcome.midiPath.c_str(), outcome.soundPath.c_str(),
                       result.problem.c_str());
        if (outcome.took >= 1.0) setTitle(songPath);
        return;
    }
    const std::string progress = audioExport.busy() ? exportProgressText(audioExport.done(), audioExport.elapsed()) : "";
    if (progress.empty() || !windowReady) return;
    showTitle(titleText(songPath, meta->loop) + progress);
}

// Practice: the loop between two markers and the transposition of the song, both per-song
// settings kept in the metadata and switched from the pop-up menu.

#include <mutex>

#include "app/Nolari.h"
#include "song/Meta.h"

void Nolari::positionMovedByUser() {
    std::lock_guard guard(engineLock);
    breakTempo();
    const Event* at = currentEvent();
    loop.choose(*meta, at ? static_cast<uint32_t>(at - song->events) : 0);
}

void Nolari::breakTempo() {
    performerTempo.reset();
    tempoCurve.breakLine();
}

void Nolari::toggleLoop() {
    {
        std::lock_guard guard(engineLock);
        meta->loop = !meta->loop;
        positionMovedByUser();
    }
    if (songLoaded) setTitle(songPath);
    requestRedisplay();
}

// Notes sounding are ended first, under the setting they were started with.
void Nolari::selectTranspose(int choice) {
    std::lock_guard guard(engineLock);
    const int semitones = choice == 0 ? 0 : output.transpose() + choice;
    allNotesOff();
    output.setTranspose(semitones);
    meta->transpose = output.transpose();
    menusDirty = true;
}

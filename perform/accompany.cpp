// Playing along: where a passage's tempo starts, the count-in that leads into it, and the
// performer's tempo as the title shows it. The work is the followers' and the metronome's; this
// hands them the song and the moment.

#include <mutex>

#include "app/Nolari.h"
#include "song/Meta.h"

void Nolari::beginPassage() {
    std::lock_guard guard(engineLock);
    followers.forget(100.0 / meta->listenSpeed);
}

void Nolari::countIn() {
    std::lock_guard guard(engineLock);
    Event* q = currentEvent();
    if (!q) return;
    Event* group = q;
    while (!group->start && !group->isLast) ++group;
    if (!group->start) return;
    allNotesOff();
    beginPassage();
    const uint32_t from = static_cast<uint32_t>(q - song->events);
    const double intro = followers.introStart(*song, meta->parts, from, group);
    const double groupWall =
        metronome.countIn(song->tempoMap, group->time, intro, followers.tracker().startRatio(), clockSeconds());
    followers.leadIn(*song, meta->parts, from, group, groupWall);
}

bool Nolari::trackedTempo(double& beatsPerMinute, double& percent) const {
    std::lock_guard guard(engineLock);
    const Event* at = currentEvent();
    const bool following = !meta->parts.allPlay() || meta->metronome == MetronomeMode::On;
    if (!at || !(metronome.running() || (following && followers.tracker().taps() > 0))) return false;
    const double ratio = followers.line().ratio;
    beatsPerMinute = song->tempoMap.beatsPerMinute(at->time) / ratio;
    percent = 100.0 / ratio;
    return true;
}

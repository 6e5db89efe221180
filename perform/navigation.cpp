// Navigation: moving the position by group, by screen, to the start and to markers, setting
// markers, zooming, and joining and splitting note groups. Every operation takes engineLock,
// since taps from the MIDI-input thread read the position and the group flags.

#include <algorithm>
#include <mutex>

#include "app/Nolari.h"
#include "song/Meta.h"

namespace {

// The nearest group start below index, or null.
Event* groupStartBefore(const Song& song, uint32_t index) {
    for (uint32_t i = index; i > 0; --i)
        if (song.events[i - 1].start) return &song.events[i - 1];
    return nullptr;
}

}  // namespace

Event* Nolari::nextGroupStart(Event* e) const {
    if (!e) return nullptr;
    while (!e->isLast) {
        ++e;
        if (e->isLast) return nullptr;
        if (e->start) return e;
    }
    return nullptr;
}

Event* Nolari::previousGroupStart() const {
    const Event* current = currentEvent();
    if (!current) return nullptr;
    return groupStartBefore(*song, static_cast<uint32_t>(current - song->events));
}

// The group edits work on the notes the performer plays.
Event* Nolari::nextNoteOn() const {
    Event* e = currentEvent();
    for (; e && !e->isLast; ++e)
        if (e->isNoteOn() && meta->parts.plays(*e)) return e;
    return nullptr;
}

void Nolari::nextNote() {
    std::lock_guard guard(engineLock);
    if (!hasSong()) return;
    if (Event* q = nextGroupStart(currentEvent())) moveTo(q);
    positionMovedByUser();
    allNotesOff();
}

void Nolari::previousNote() {
    std::lock_guard guard(engineLock);
    if (!hasSong()) return;
    if (Event* q = previousGroupStart()) moveTo(q);
    positionMovedByUser();
    allNotesOff();
}

void Nolari::forwardScreen() {
    std::lock_guard guard(engineLock);
    if (!hasSong()) return;
    allNotesOff();
    Event* current = currentEvent();
    const double target = current->time + 0.5 * meta->zoom;
    Event* q = nextGroupStart(current);
    if (!q) return;
    Event* reached = q;
    while (q && q->time < target) {
        q = nextGroupStart(q);
        if (q) reached = q;
    }
    moveTo(reached);
    positionMovedByUser();
}

void Nolari::backScreen() {
    std::lock_guard guard(engineLock);
    if (!hasSong()) return;
    allNotesOff();
    Event* current = currentEvent();
    const double target = current->time - 0.5 * meta->zoom;
    Event* q = previousGroupStart();
    if (!q) return;
    Event* reached = q;
    while (q && q->time > target) {
        q = groupStartBefore(*song, static_cast<uint32_t>(q - song->events));
        if (q) reached = q;
    }
    moveTo(reached);
    positionMovedByUser();
}

void Nolari::goToStart() {
    std::lock_guard guard(engineLock);
    if (!hasSong()) return;
    moveTo(&song->events[0]);
    positionMovedByUser();
    allNotesOff();
}

void Nolari::toggleMarker() {
    std::lock_guard guard(engineLock);
    const Event* current = currentEvent();
    if (!current) return;
    const uint32_t index = static_cast<uint32_t>(current - song->events);
    if (meta->isMarker(index)) meta->clearMarker(index);
    else meta->setMarker(index);
    positionMovedByUser(false);
    requestRedisplay();
}

void Nolari::nextMarker() {
    std::lock_guard guard(engineLock);
    const Event* current = currentEvent();
    if (!current || meta->numMarkers() == 0) return;
    const uint32_t index = static_cast<uint32_t>(current - song->events);
    uint32_t i = 0;
    while (i < meta->numMarkers() && meta->marker(i) <= index) ++i;
    goToMarker(i < meta->numMarkers() ? static_cast<int>(i) : 0);
}

void Nolari::previousMarker() {
    std::lock_guard guard(engineLock);
    const Event* current = currentEvent();
    if (!current || meta->numMarkers() == 0) return;
    const uint32_t index = static_cast<uint32_t>(current - song->events);
    uint32_t i = meta->numMarkers();
    while (i > 0 && meta->marker(i - 1) >= index) --i;
    goToMarker(static_cast<int>(i > 0 ? i - 1 : meta->numMarkers() - 1));
}

// A marker read from an older metadata file may lie beyond the song; it leads to the last event.
// A jump ends what sounds and what is held, as the other jumps do: a release after it would
// otherwise play on from the marker.
void Nolari::goToMarker(int n) {
    std::lock_guard guard(engineLock);
    if (!hasSong() || n < 0 || static_cast<uint32_t>(n) >= meta->numMarkers()) return;
    const uint32_t index = std::min(meta->marker(static_cast<uint32_t>(n)), song->numEvents - 1);
    moveTo(&song->events[index]);
    positionMovedByUser();
    allNotesOff();
    forgetHeldKeys();
}

void Nolari::zoom(double factor) {
    std::lock_guard guard(engineLock);
    if (!hasSong()) return;
    meta->scaleZoom(factor);
    requestRedisplay();
}

void Nolari::group() {
    std::lock_guard guard(engineLock);
    if (!hasSong()) return;
    Event* e = nextNoteOn();
    if (!e) return;
    Event* q = nextGroupStart(e);
    if (!q) return;
    q->start = 0;
    song->removeGroupCount();
    requestRedisplay();
}

void Nolari::ungroup() {
    std::lock_guard guard(engineLock);
    if (!hasSong()) return;
    Event* e = nextNoteOn();
    if (!e) return;
    Event* q = lastNoteOnOfGroup(e);
    if (q == e) return;
    q->start = 1;
    song->addGroupCount();
    requestRedisplay();
}

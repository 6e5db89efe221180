// Tapping and listening: each tap sends the song's next group, the release of the last held key
// sends the rest of it, MIDI input taps like the keys and otherwise passes through, and listen
// mode plays half a screen of the song by itself, each event at its time through the scheduler.
//
// Every entry point takes engineLock, because taps arrive on the MIDI-input thread while keys,
// the timer and navigation run on the GUI thread. The work done under it is bounded by one group
// and never draws or writes files, apart from error log lines.

#include <algorithm>
#include <mutex>

#include "app/Nolari.h"
#include "midi/grwin.h"
#include "song/Meta.h"

namespace {

constexpr int maxVelocity = 127;
// Listening hands the scheduler this many events at a time, so that a long listen never queues
// the whole song; the next batch is asked for when half of one has been played.
constexpr uint32_t listenBatch = 256;

// The start of the group a tap from q plays, or the last event when no group lies ahead.
Event* groupAhead(Event* q) {
    Event* p = q;
    while (!p->start && !p->isLast) ++p;
    return p;
}

}  // namespace

bool Nolari::hasSong() const { return songLoaded && song->numEvents > 0; }

Event* Nolari::currentEvent() const {
    if (!hasSong()) return nullptr;
    const int32_t last = static_cast<int32_t>(song->numEvents - 1);
    return &song->events[std::clamp(position, 0, last)];
}

void Nolari::moveTo(const Event* e) {
    position = static_cast<int32_t>(e - song->events);
    meta->position = static_cast<uint32_t>(position);
    requestRedisplay();
}

Event* Nolari::lastNoteOnOfGroup(Event* e) const {
    Event* result = e;
    for (Event* p = e; p && !p->isLast;) {
        ++p;
        if (p->start) break;
        if (p->isNoteOn() && meta->parts.plays(*p)) result = p;
    }
    return result;
}

int Nolari::groupMaxVelocity(Event* first, Event* end) const {
    int max = 0;
    for (Event* e = first; e != end; ++e)
        if (e->isNoteOn() && meta->parts.plays(*e)) max = std::max<int>(max, e->vel);
    return max;
}

void Nolari::tap(int index, int velocity, double at) {
    std::lock_guard guard(engineLock);
    Event* q = currentEvent();
    if (!q) return;
    if (at == 0.0) at = clockSeconds();
    if (index > 0 && index < 128 && !held[index]) {
        held[index] = 1;
        ++heldCount;
    }
    Event* p = groupAhead(q);
    if (loop.wraps(static_cast<uint32_t>(p - song->events))) {
        allNotesOff();
        breakTempo();
        q = &song->events[std::min(loop.passage().start, song->numEvents - 1)];
        p = groupAhead(q);
    }
    if (q->isLast) {
        // Nothing else would ever end what the last group left sounding (after Q, say).
        if (soundingCount() > 0) allNotesOff();
        return;
    }

    Event* group = p->start ? p : nullptr;
    if (group) {
        tempoCurve.add(group->time, performerTempo.percentAt(group->time, at));
        p = lastNoteOnOfGroup(p);
        if (!p->isLast) ++p;
    }

    const int max = groupMaxVelocity(q, p);
    const int to = velocity != 0 ? std::clamp(velocity, 1, maxVelocity) : max;
    if (!meta->parts.allPlay())
        followers.tap(*song, meta->parts, static_cast<uint32_t>(q - song->events), group, nextGroupStart(group), at);
    playRange(q, p, static_cast<uint8_t>(max), static_cast<uint8_t>(to), 0.0, Role::Play);
    if (p->isLast && !p->isNoteOff()) allNotesOff();
    moveTo(p);
}

void Nolari::release(int index) {
    std::lock_guard guard(engineLock);
    Event* q = currentEvent();
    if (!q) return;
    if (index < 1 || index > 127) {
        forgetHeldKeys();
    } else if (held[index]) {
        held[index] = 0;
        --heldCount;
    } else {
        // Not held (forgotten at a jump or a device switch): its group was ended already.
        return;
    }
    if (heldCount != 0 || q->start) return;

    Event* p = q;
    while (!p->start && !p->isLast) ++p;
    playRange(q, p->isLast ? p + 1 : p, maxVelocity, maxVelocity, 0.0, Role::Play);
    moveTo(p);
}

void Nolari::forgetHeldKeys() {
    std::lock_guard guard(engineLock);
    std::fill(std::begin(held), std::end(held), 0);
    heldCount = 0;
}

void Nolari::midiIn(uint8_t status, uint8_t data1, uint8_t data2, double at) {
    std::lock_guard guard(engineLock);
    output.setPresent(at);
    switch (MidiMessageType(status, data2)) {
    case 0x80:
        release(data1);
        break;
    case 0x90:
        tap(data1, data2, at);
        break;
    case 0xA0:
    case 0xB0:
    case 0xC0:
    case 0xD0:
    case 0xE0:
        output.sendAsIs({status, data1, data2});
        break;
    default:
        break;
    }
    output.setPresent(0.0);
}

bool Nolari::tryMidiIn(uint8_t status, uint8_t data1, uint8_t data2, double at) {
    std::unique_lock guard(engineLock, std::try_to_lock);
    if (!guard.owns_lock()) return false;
    midiIn(status, data1, data2, at);
    return true;
}

void Nolari::startListening() {
    std::lock_guard guard(engineLock);
    const Event* start = currentEvent();
    if (!start) return;
    allNotesOff();
    // The performer stops playing to listen: the tempo is measured afresh after it.
    breakTempo();
    listenIndex = listenPlayed = static_cast<int32_t>(start - song->events);
    // Begun one lead ahead, so that the first events reach the output in time for their frames.
    const double now = clockSeconds() + scheduler.lead();
    const double speed = meta->listenSpeed / 100.0;
    listenEnd = now + 0.5 * meta->zoom / speed;
    listenOffset = now - start->time / speed;
    listening = true;
    // Ahead of every event due at the end itself, which is not played.
    scheduler.add(listenEndMark, listenEnd, false);
    queueListenBatch();
}

double Nolari::listenDue(const Event& e) const { return e.time * 100.0 / meta->listenSpeed + listenOffset; }

// Listening goes on from the first event not yet played, at the new speed, and ends where it would
// have ended in the song. The song time reached is the clock's, but never before what was played.
void Nolari::setListenSpeed(int percent) {
    std::lock_guard guard(engineLock);
    const int before = meta->listenSpeed;
    meta->listenSpeed = percent;
    if (!listening || !hasSong()) return;
    const double now = clockSeconds() + scheduler.lead();
    double reached = (now - listenOffset) * before / 100.0;
    if (listenPlayed > 0) reached = std::max(reached, song->events[listenPlayed - 1].time);
    const double end = (listenEnd - listenOffset) * before / 100.0;
    listenOffset = now - reached * 100.0 / percent;
    listenEnd = listenOffset + end * 100.0 / percent;
    scheduler.cancel();
    listenIndex = listenPlayed;
    scheduler.add(listenEndMark, listenEnd, false);
    queueListenBatch();
}

void Nolari::queueListenBatch() {
    const uint32_t end = song->numEvents;
    double markAt = 0.0;
    uint32_t queued = 0;
    for (; static_cast<uint32_t>(listenIndex) < end && queued < listenBatch; ++listenIndex, ++queued) {
        const double due = listenDue(song->events[listenIndex]);
        if (!(due < listenEnd) || !scheduler.add(static_cast<uint32_t>(listenIndex), due)) break;
        if (queued <= listenBatch / 2) markAt = due;
    }
    if (queued == listenBatch && static_cast<uint32_t>(listenIndex) < end) scheduler.add(listenBatchMark, markAt);
}

// The scheduler's thread ends listening at its end time; the timer only stands in when that
// thread has not (it is not running, or is late), playing first what fell due before the end.
void Nolari::listenTick() {
    std::lock_guard guard(engineLock);
    if (!listening || !hasSong()) return;
    if (!(clockSeconds() > listenEnd)) return;
    scheduler.runDue(listenEnd);
    if (listening) stopListening();
}

void Nolari::stopListening() {
    std::lock_guard guard(engineLock);
    allNotesOff();
    listening = false;
}

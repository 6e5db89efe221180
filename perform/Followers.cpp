#include "perform/Followers.h"

#include <algorithm>
#include <cstdarg>
#include <limits>

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

}  // namespace

void Followers::tap(const Song& song, const Parts& parts, uint32_t from, const Event* group, const Event* next,
                    double tapTime) {
    if (leading_ && pendingCount_ > 0) abandonLeadIn(song);
    leading_ = false;
    sendPendingNow();
    if (!group) {
        stop();
        expected_ = nullptr;
        return;
    }
    const bool continuing = group == expected_;
    if (!continuing) {
        tracker_.restart(tracker_.startRatio());
        songOffset_ = 0.0;
    }
    const double nextTime = next ? next->time : infinity;
    tracker_.tap(tapTime, group->time + songOffset_, nextTime + songOffset_);
    const TimeLine& ahead = tracker_.line();
    line_ = {ahead.songTime - songOffset_, ahead.wallTime, ahead.ratio};
    expected_ = next;
    if (parts.allPlay()) {
        handing_ = false;
        return;
    }
    if (!continuing || !handing_) handedTo_ = startPassage(song, parts, from, group);
    limit_ = nextTime;
    handOver(song, parts, group->time, tapTime);
}

void Followers::leadIn(const Song& song, const Parts& parts, uint32_t from, const Event* group, double groupWall) {
    stop();
    tracker_.restart(tracker_.startRatio());
    songOffset_ = 0.0;
    tracker_.startAt(group->time, groupWall);
    line_ = tracker_.line();
    expected_ = group;
    if (parts.allPlay()) return;
    handing_ = leading_ = true;
    passageStart_ = handedTo_ = from;
    limit_ = group->time;
    handOver(song, parts, -infinity, -infinity);
}

double Followers::introStart(const Song& song, const Parts& parts, uint32_t from, const Event* group) const {
    for (uint32_t i = from; i < group->index && i < song.numEvents; ++i)
        if (parts.roleOf(song.events[i]) == Role::Follow) return song.events[i].time;
    return group->time;
}

void Followers::nextBatch(const Song& song, const Parts& parts, double now) {
    if (handing_) handOver(song, parts, -infinity, now);
}

void Followers::stop() {
    handing_ = leading_ = false;
    pendingFirst_ = pendingCount_ = 0;
}

void Followers::forget(double startRatio) {
    tracker_.restart(startRatio);
    line_ = tracker_.line();
    songOffset_ = 0.0;
    expected_ = nullptr;
}

void Followers::wrap(const Event* group, double songDistance) {
    expected_ = group;
    songOffset_ += songDistance;
}

// The Follow events before the group's time are skipped, but for what sets up their sound.
uint32_t Followers::startPassage(const Song& song, const Parts& parts, uint32_t from, const Event* group) {
    stop();
    handing_ = true;
    uint32_t i = from;
    for (; i < song.numEvents && song.events[i].time < group->time; ++i) {
        const Event& e = song.events[i];
        if (parts.roleOf(e) == Role::Follow && e.isChannelEvent() && !e.isNote()) player_(context_, i, 0.0);
    }
    passageStart_ = i;
    return i;
}

// The ring is emptied before anything is played: playing an event reports it back through played().
uint32_t Followers::takePending(uint32_t& first) {
    scheduler_.cancel();
    first = pendingFirst_;
    const uint32_t count = pendingCount_;
    pendingFirst_ = pendingCount_ = 0;
    return count;
}

void Followers::sendPendingNow() {
    uint32_t first = 0;
    for (uint32_t k = 0, count = takePending(first); k < count; ++k) player_(context_, pending_[(first + k) % maxPending], 0.0);
}

void Followers::abandonLeadIn(const Song& song) {
    uint32_t first = 0;
    const uint32_t count = takePending(first);
    const uint32_t firstWaiting = pending_[first];
    for (uint32_t k = 0; k < count; ++k) {
        const uint32_t i = pending_[(first + k) % maxPending];
        const Event& e = song.events[i];
        const bool endsSounding = e.isNoteOff() && e.other && e.other->index < firstWaiting;
        if (endsSounding || !e.isNote()) player_(context_, i, 0.0);
    }
}

bool Followers::endsUnplayedNote(const Event& e) const {
    return e.isNoteOff() && e.other && e.other->index < passageStart_;
}

// Up to a batch of events from handedTo_ on; those up to atOnceUpTo (song time) or due by now go
// at once. Those due within the scheduler's lead go at once too, with their due times, since the
// scheduler would hand them over no earlier: the output places them at their frames. When more
// remain before the limit, a mark half-way through asks for the next batch.
void Followers::handOver(const Song& song, const Parts& parts, double atOnceUpTo, double now) {
    const double lead = scheduler_.lead();
    uint32_t i = handedTo_;
    double markDue = now;
    for (uint32_t looked = 0; i < song.numEvents && looked < batch && song.events[i].time < limit_; ++i, ++looked) {
        const Event& e = song.events[i];
        if (parts.roleOf(e) != Role::Follow || endsUnplayedNote(e)) continue;
        const double due = e.time <= atOnceUpTo ? now : line_.at(e.time);
        if (looked <= batch / 2) markDue = std::max(markDue, due);
        if (due <= now) player_(context_, i, 0.0);
        else if (due <= now + lead) player_(context_, i, due);
        else if (!queue(i, due)) break;
    }
    handedTo_ = i;
    const bool more = i < song.numEvents && song.events[i].time < limit_;
    if (more && !scheduler_.add(batchMark, markDue, false)) {
        post("ERROR: Followers: scheduler full at event %d\n", static_cast<int>(i));
        handing_ = false;
    }
}

// False, queueing nothing, when there is no room: the batch mark tries again later.
bool Followers::queue(uint32_t event, double due) {
    if (pendingCount_ == maxPending || scheduler_.pending() + 2 > Scheduler::capacity) return false;
    if (!scheduler_.add(event, due)) return false;
    pending_[(pendingFirst_ + pendingCount_++) % maxPending] = event;
    return true;
}

void Followers::post(const char* format, ...) {
    va_list args;
    va_start(args, format);
    log_.post(format, args);
    va_end(args);
}

#include "perform/Followers.h"

#include <algorithm>

#include "app/Log.h"

void TapTempo::tap(double at, double songTime) {
    const double songSpan = songTime - lastSongTime_;
    // Two groups at one song time (a split chord) say nothing about the tempo.
    if (taps_ > 0 && songSpan > 0) {
        std::copy_backward(ratio_, ratio_ + 2, ratio_ + 3);
        ratio_[0] = (at - lastAt_) / songSpan;
        ratios_ = std::min<uint32_t>(ratios_ + 1, 3);
    }
    if (taps_ == 0 || songSpan > 0) {
        lastAt_ = at;
        lastSongTime_ = songTime;
    }
    ++taps_;
}

double TapTempo::ratio() const {
    if (ratios_ == 0) return 1.0;
    double r = ratio_[0];
    if (ratios_ == 3) r = std::max(std::min(ratio_[0], ratio_[1]), std::min(std::max(ratio_[0], ratio_[1]), ratio_[2]));
    return std::clamp(r, fastest, slowest);
}

void Followers::tap(const Song& song, const Parts& parts, uint32_t from, const Event* group, const Event* next,
                    double now) {
    sendPendingNow(song, parts);
    if (!group || parts.allPlay()) {
        stop();
        return;
    }
    const bool continuing = group == expected_;
    if (!continuing) tempo_.reset();
    tempo_.tap(now, group->time);
    expected_ = next;
    handOver(song, parts, continuing ? handedTo_ : from, group, next, now);
}

void Followers::stop() {
    tempo_.reset();
    nextToPlay_ = handedTo_ = 0;
    expected_ = nullptr;
}

void Followers::sendPendingNow(const Song& song, const Parts& parts) {
    if (nextToPlay_ >= handedTo_) return;
    scheduler_.cancel();
    for (uint32_t i = nextToPlay_; i < handedTo_ && i < song.numEvents; ++i)
        if (parts.roleOf(song.events[i]) == Role::Follow) player_(context_, i, 0.0);
    nextToPlay_ = handedTo_;
}

// Events due by now are sent at once; they come first, since the due times grow with the events.
// Those due within the scheduler's lead are sent at once too, with their due times, since the
// scheduler would hand them over no earlier: the output places them at their frames.
void Followers::handOver(const Song& song, const Parts& parts, uint32_t begin, const Event* group, const Event* next,
                         double now) {
    const double r = tempo_.ratio();
    const double lead = scheduler_.lead();
    uint32_t i = begin;
    nextToPlay_ = UINT32_MAX;
    for (; i < song.numEvents; ++i) {
        const Event& e = song.events[i];
        if (next && e.time >= next->time) break;
        if (parts.roleOf(e) != Role::Follow) continue;
        const double due = now + (e.time - group->time) * r;
        if (due <= now) {
            player_(context_, i, 0.0);
            continue;
        }
        if (due <= now + lead) {
            player_(context_, i, due);
            continue;
        }
        if (!scheduler_.add(i, due)) {
            logMessage("ERROR: Followers: scheduler full at event %d\n", static_cast<int>(i));
            break;
        }
        nextToPlay_ = std::min(nextToPlay_, i);
    }
    handedTo_ = i;
    nextToPlay_ = std::min(nextToPlay_, handedTo_);
}

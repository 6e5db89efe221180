#include "song/Parts.h"

#include <algorithm>

namespace {

Role nextRole(Role role) { return role == Role::Play ? Role::Follow : role == Role::Follow ? Role::Mute : Role::Play; }

}  // namespace

void Parts::attach(const Song& song) {
    song_ = &song;
    parts_.assign(song.numInstruments, Setting{});
    eventRoles_.clear();
    partOf_.clear();
    for (uint32_t i = 0; i < count(); ++i) {
        const Instrument& in = song.instruments[i];
        const std::size_t at = slot(in.track, in.channel);
        if (at >= partOf_.size()) partOf_.resize(at + 16, none);
        partOf_[at] = i;
    }
}

void Parts::reset() {
    std::fill(parts_.begin(), parts_.end(), Setting{});
    eventRoles_.clear();
}

uint32_t Parts::find(uint32_t track, uint8_t channel) const {
    const std::size_t at = slot(track, channel);
    return at < partOf_.size() ? partOf_[at] : none;
}

void Parts::setRole(uint32_t part, Role role) {
    if (part < count()) parts_[part].role = role;
}

Role Parts::halfRole(uint32_t part, Half half) const {
    if (part >= count()) return Role::Play;
    return half == Half::Low ? parts_[part].low : parts_[part].high;
}

void Parts::setHalfRole(uint32_t part, Half half, Role role) {
    if (part >= count()) return;
    (half == Half::Low ? parts_[part].low : parts_[part].high) = role;
}

void Parts::split(uint32_t part, uint8_t pitch) {
    if (part >= count()) return;
    Setting& s = parts_[part];
    if (!s.split) s.low = s.high = s.role;
    setSplit(part, pitch);
}

void Parts::setSplit(uint32_t part, uint8_t pitch) {
    if (part >= count()) return;
    parts_[part].split = true;
    parts_[part].pitch = pitch & 0x7F;
}

void Parts::join(uint32_t part) {
    if (part >= count() || !parts_[part].split) return;
    parts_[part].role = otherRole(part);
    parts_[part].split = false;
}

void Parts::cycle(uint32_t part) { setRole(part, nextRole(role(part))); }

void Parts::cycleHalf(uint32_t part, Half half) { setHalfRole(part, half, nextRole(halfRole(part, half))); }

std::vector<uint32_t> Parts::byTrack() const {
    std::vector<uint32_t> order(count());
    for (uint32_t i = 0; i < count(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [this](uint32_t a, uint32_t b) {
        const Instrument& x = song_->instruments[a];
        const Instrument& y = song_->instruments[b];
        return x.track != y.track ? x.track < y.track : x.channel < y.channel;
    });
    return order;
}

uint8_t Parts::firstProgram(uint32_t part) const {
    if (part >= count()) return 0;
    const Instrument& in = song_->instruments[part];
    const Event* onChannel = nullptr;
    for (uint32_t i = 0; i < song_->numEvents; ++i) {
        const Event& e = song_->events[i];
        if (!e.isProgramChange() || e.chan != in.channel) continue;
        if (e.track == in.track) return e.pitch;
        if (!onChannel) onChannel = &e;
    }
    return onChannel ? onChannel->pitch : 0;
}

Role Parts::noteRole(uint32_t part, uint8_t pitch) const {
    const Setting& s = parts_[part];
    if (!s.split) return s.role;
    return pitch < s.pitch ? s.low : s.high;
}

Role Parts::otherRole(uint32_t part) const {
    const Setting& s = parts_[part];
    if (!s.split) return s.role;
    return s.high == Role::Mute ? s.low : s.high;
}

bool Parts::everyEventPlays() const {
    return std::all_of(parts_.begin(), parts_.end(), [](const Setting& s) {
        return s.split ? s.low == Role::Play && s.high == Role::Play : s.role == Role::Play;
    });
}

void Parts::apply() {
    eventRoles_.clear();
    if (everyEventPlays()) return;
    eventRoles_.assign(song_->numEvents, static_cast<uint8_t>(Role::Play));
    for (uint32_t i = 0; i < song_->numEvents; ++i) {
        const Event& e = song_->events[i];
        Role role = Role::Play;
        if (e.isNote()) {
            // A Note Off may lie in another track than its Note On: it takes the Note On's role.
            const Event& on = e.isNoteOff() && e.other ? *e.other : e;
            if (on.inst < count()) role = noteRole(on.inst, on.pitch);
        } else if (e.type == TYPE_CHANNEL) {
            const uint32_t part = find(e.track, e.chan);
            if (part != none) role = otherRole(part);
        }
        eventRoles_[i] = static_cast<uint8_t>(role);
    }
}

const char* roleWord(Role role) {
    switch (role) {
    case Role::Follow:
        return "FOLLOW";
    case Role::Mute:
        return "MUTE";
    default:
        return "PLAY";
    }
}

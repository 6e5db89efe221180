#include "song/Parts.h"

#include <algorithm>

namespace {

constexpr uint32_t noPart = UINT32_MAX;

}  // namespace

void Parts::attach(const Song& song) {
    song_ = &song;
    roles_.assign(song.numInstruments, Role::Play);
    eventRoles_.clear();
}

void Parts::reset() {
    std::fill(roles_.begin(), roles_.end(), Role::Play);
    eventRoles_.clear();
}

void Parts::setRole(uint32_t part, Role role) {
    if (part >= count() || roles_[part] == role) return;
    roles_[part] = role;
    rebuildEventRoles();
}

bool Parts::setRole(uint32_t track, uint8_t channel, Role role) {
    for (uint32_t i = 0; i < count(); ++i) {
        const Instrument& in = song_->instruments[i];
        if (in.track != track || in.channel != channel) continue;
        setRole(i, role);
        return true;
    }
    return false;
}

void Parts::cycle(uint32_t part) {
    if (part >= count()) return;
    const Role next = roles_[part] == Role::Play ? Role::Follow : roles_[part] == Role::Follow ? Role::Mute : Role::Play;
    setRole(part, next);
}

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

void Parts::rebuildEventRoles() {
    eventRoles_.clear();
    if (std::all_of(roles_.begin(), roles_.end(), [](Role r) { return r == Role::Play; })) return;
    // The part of each track and channel, found once per pair rather than once per event.
    std::vector<uint32_t> partOf;
    for (uint32_t i = 0; i < count(); ++i) {
        const Instrument& in = song_->instruments[i];
        const std::size_t at = in.track * std::size_t{16} + (in.channel & 0x0F);
        if (at >= partOf.size()) partOf.resize(at + 16, noPart);
        partOf[at] = i;
    }
    eventRoles_.assign(song_->numEvents, static_cast<uint8_t>(Role::Play));
    for (uint32_t i = 0; i < song_->numEvents; ++i) {
        const Event& e = song_->events[i];
        uint32_t part = noPart;
        if (e.isNote()) {
            part = e.inst;
        } else if (e.type == TYPE_CHANNEL) {
            const std::size_t at = e.track * std::size_t{16} + (e.chan & 0x0F);
            if (at < partOf.size()) part = partOf[at];
        }
        if (part < count()) eventRoles_[i] = static_cast<uint8_t>(roles_[part]);
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

#pragma once
// The song's parts (its instruments: one per track and channel that has notes) and who plays
// each: the performer (Play), Nolari in the performer's tempo (Follow), or nobody (Mute). Every
// part plays by default, which is the program's behaviour without parts.
//
// A part's channel messages other than notes (controllers, pedal, program changes) share its
// role, so that a muted part's pitch bends do not bend another part on the same channel and a
// followed part's controllers keep time with its notes.

#include <cstdint>
#include <vector>

#include "song/Song.h"

enum class Role : uint8_t { Play = 0, Follow = 1, Mute = 2 };

class Parts {
public:
    // Binds the parts to the song's instruments, every part Play.
    void attach(const Song& song);
    // Every part Play.
    void reset();

    uint32_t count() const { return static_cast<uint32_t>(roles_.size()); }
    Role role(uint32_t part) const { return part < count() ? roles_[part] : Role::Play; }
    void setRole(uint32_t part, Role role);
    // The part of that track and channel; false when the song has none.
    bool setRole(uint32_t track, uint8_t channel, Role role);
    // Play -> Follow -> Mute -> Play.
    void cycle(uint32_t part);
    bool allPlay() const { return eventRoles_.empty(); }

    // The role of the part an event belongs to; events of no part (tempo, a channel without
    // notes) are Play.
    Role roleOf(const Event& e) const {
        return e.index < eventRoles_.size() ? static_cast<Role>(eventRoles_[e.index]) : Role::Play;
    }
    bool plays(const Event& e) const { return roleOf(e) == Role::Play; }

    // Part indices ordered by track, then channel: the order of the menu and the metadata file.
    std::vector<uint32_t> byTrack() const;
    // The program of the part's first program change (its own track first, then its channel),
    // 0 when the song sets none.
    uint8_t firstProgram(uint32_t part) const;

private:
    void rebuildEventRoles();

    const Song* song_ = nullptr;
    std::vector<Role> roles_;
    // Role by event index; empty while every part plays, so that the all-Play song pays nothing.
    std::vector<uint8_t> eventRoles_;
};

// "FOLLOW", "MUTE" or "PLAY".
const char* roleWord(Role role);

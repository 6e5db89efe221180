#pragma once
// The song's parts (its instruments: one per track and channel that has notes) and who plays
// each: the performer (Play), Nolari in the performer's tempo (Follow), or nobody (Mute). Every
// part plays by default, which is the program's behaviour without parts.
//
// A part can be split at a pitch into two hands, each with its own role: a Note On below the
// split pitch belongs to the lower half, any other to the upper half, and its Note Off goes with
// it, so that a note never starts in one half and ends in the other.
//
// A part's channel messages other than notes (controllers, pedal, program changes) share its
// role, so that a muted part's pitch bends do not bend another part on the same channel and a
// followed part's controllers keep time with its notes. Those of a split part go with the upper
// half, or with the lower half while the upper one is muted.
//
// Roles and splits take effect when apply() builds the table of event roles, once for any number
// of changes: a metadata file of many lines costs one pass over the song.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "song/Song.h"

enum class Role : uint8_t { Play = 0, Follow = 1, Mute = 2 };
enum class Half : uint8_t { Low = 0, High = 1 };

class Parts {
public:
    static constexpr uint32_t none = UINT32_MAX;

    // Binds the parts to the song's instruments, every part Play and whole.
    void attach(const Song& song);
    // Every part Play and whole, at once.
    void reset();

    uint32_t count() const { return static_cast<uint32_t>(parts_.size()); }
    // The part of that track and channel, or none.
    uint32_t find(uint32_t track, uint8_t channel) const;

    // The role of a whole part; while it is split its halves have roles of their own.
    Role role(uint32_t part) const { return part < count() ? parts_[part].role : Role::Play; }
    void setRole(uint32_t part, Role role);
    bool isSplit(uint32_t part) const { return part < count() && parts_[part].split; }
    // The lowest pitch of the upper half.
    uint8_t splitPitch(uint32_t part) const { return part < count() ? parts_[part].pitch : 0; }
    Role halfRole(uint32_t part, Half half) const;
    void setHalfRole(uint32_t part, Half half, Role role);
    // Splits the part at the pitch (0-127), or moves its split there. A part split afresh gives
    // both halves its own role.
    void split(uint32_t part, uint8_t pitch);
    // Splits the part at the pitch, its halves keeping the roles set for them, as a file names them.
    void setSplit(uint32_t part, uint8_t pitch);
    // The joined part takes the role its other channel messages had.
    void join(uint32_t part);
    // Play -> Follow -> Mute -> Play.
    void cycle(uint32_t part);
    void cycleHalf(uint32_t part, Half half);

    // Builds the table of event roles from the roles and splits set so far.
    void apply();

    bool allPlay() const { return eventRoles_.empty(); }
    // The role of the part (or half) an event belongs to; events of no part (tempo, a channel
    // without notes) are Play.
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
    struct Setting {
        Role role = Role::Play;
        bool split = false;
        uint8_t pitch = 60;
        Role low = Role::Play;
        Role high = Role::Play;
    };
    static std::size_t slot(uint32_t track, uint8_t channel) { return track * std::size_t{16} + (channel & 0x0F); }
    Role noteRole(uint32_t part, uint8_t pitch) const;
    Role otherRole(uint32_t part) const;
    bool everyEventPlays() const;

    const Song* song_ = nullptr;
    std::vector<Setting> parts_;
    // The part of each track and channel, by track * 16 + channel; none where there is no part.
    std::vector<uint32_t> partOf_;
    // Role by event index; empty while every event plays, so that the all-Play song pays nothing.
    std::vector<uint8_t> eventRoles_;
};

// "FOLLOW", "MUTE" or "PLAY".
const char* roleWord(Role role);

// No stuck notes: a note that nothing holds any more ends. Each path that used to leave one
// sounding, then the rule as a whole under thousands of random operations.

#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <set>
#include <utility>

#include "EngineTest.h"
#include "app/Log.h"
#include "config/Cfg.h"
#include "midi/grwin.h"
#include "support/SmfWriter.h"
#include "ui/Menus.h"

using MessageList = std::vector<MidiMessage>;

namespace {

// A chord of 60, 64, 67 at 0 s, note 72 at 1 s, note 74 at 2 s, on the given channel.
// Events: 0-2 the chord's Note Ons, 3-5 its Note Offs, 6/7 the 72, 8/9 the 74.
SongBuilder threeGroups(uint8_t channel = 0) {
    return SongBuilder()
        .note(0, 0.5, 60, 100, channel, true)
        .note(0, 0.5, 64, 100, channel)
        .note(0, 0.5, 67, 100, channel)
        .note(1, 0.5, 72, 100, channel, true)
        .note(2, 0.5, 74, 100, channel, true);
}

// The notes sounding at the output, from the messages the recording back end was given: a Note
// On starts one, a Note Off ends it, a reset ends them all.
class HeardNotes {
public:
    const std::set<std::pair<int, int>>& update() {
        const recording::State& state = recording::state();
        for (; seen_ < state.sent.size(); ++seen_) {
            applyResetsBefore(seen_ + 1);
            const MidiMessage& m = state.sent[seen_];
            const std::pair<int, int> note{m.status & 0x0F, m.data1};
            if ((m.status & 0xF0) == 0x90 && m.data2 > 0) sounding_.insert(note);
            else if ((m.status & 0xF0) == 0x80 || (m.status & 0xF0) == 0x90) sounding_.erase(note);
        }
        applyResetsBefore(seen_ + 1);
        return sounding_;
    }

private:
    void applyResetsBefore(size_t end) {
        const auto& resets = recording::state().resetAt;
        for (; resetsSeen_ < resets.size() && resets[resetsSeen_] < end; ++resetsSeen_) sounding_.clear();
    }

    std::set<std::pair<int, int>> sounding_;
    size_t seen_ = 0;
    size_t resetsSeen_ = 0;
};

class NoStuckNotes : public EngineTest {
protected:
    void key(unsigned char k, int modifiers = 0) { n.keyboardWithModifiers(k, modifiers); }
    void special(int k, int modifiers = 0) { n.specialWithModifiers(k, modifiers); }
    const std::set<std::pair<int, int>>& heard() { return heardNotes.update(); }

    HeardNotes heardNotes;
};

}  // namespace

TEST_F(NoStuckNotes, TapAtTheEndAfterQOnTheLastGroupEndsItsNotes) {
    load(threeGroups());
    n.position = 8;
    n.tap(-1, 0);
    EXPECT_EQ(n.position, 9);
    EXPECT_EQ(heard().size(), 1u);
    n.tap(1, 0);
    EXPECT_TRUE(heard().empty());
    EXPECT_EQ(n.soundingCount(), 0);
    EXPECT_EQ(n.position, 9);
}

TEST_F(NoStuckNotes, MarkerJumpWhileHeldSilencesAndTheReleaseSendsNothing) {
    load(threeGroups());
    n.meta->setMarker(4);
    for (unsigned char jump : {'\t', '\b', '1'}) {
        n.goToStart();
        key('w');
        ASSERT_EQ(heard().size(), 3u);
        key(jump);
        EXPECT_TRUE(heard().empty()) << "jump key " << int(jump);
        EXPECT_EQ(n.heldCount, 0);
        const size_t sent = recording::state().sent.size();
        n.keyboardUp('w', 0, 0);
        EXPECT_EQ(recording::state().sent.size(), sent) << "jump key " << int(jump);
        EXPECT_EQ(n.position, 4);
    }
}

TEST_F(NoStuckNotes, ChannelOptionsEndTheNotesOnTheirOldChannelFirst) {
    load(threeGroups(15));
    n.tap(1, 0);
    n.selectMain(4);
    EXPECT_TRUE(heard().empty()) << "Force Channel One";
    n.goToStart();
    n.tap(1, 0);
    n.selectMain(2);
    EXPECT_TRUE(heard().empty()) << "Channel 16 Mute";
    EXPECT_EQ(n.soundingCount(), 0);
}

TEST_F(NoStuckNotes, SwitchingTheInputForgetsTheKeysHeldOnTheOldOne) {
    load(threeGroups());
    recording::state().inputs = {"Keys A", "Keys B"};
    n.selectMidiIn(0);
    n.midiIn(0x90, 40, 100);
    n.selectMidiIn(1);
    EXPECT_TRUE(heard().empty());
    EXPECT_EQ(n.heldCount, 0);
    n.midiIn(0x90, 50, 100);
    takeSent();
    n.midiIn(0x80, 50, 0);
    EXPECT_EQ(takeSent(), (MessageList{noteOff(0, 72)})) << "the release on the new input was swallowed";
    n.midiIn(0x80, 40, 0);
    EXPECT_TRUE(takeSent().empty()) << "a key held on the old input released nothing";
}

// Taps from another thread while the output switches again and again: none may reach the old
// output after its silence, where its note would sound for good.
TEST_F(NoStuckNotes, ATapFromAnotherThreadDuringAnOutputSwitchIsNeverLeftOnTheOldOutput) {
    SongBuilder song;
    for (int k = 0; k < 2000; ++k) song.note(0.1 * k, 0.05, static_cast<uint8_t>(40 + k % 40), 100, 0, true);
    load(song);
    recording::state().outputs = {"Piano", "Organ"};
    recording::state().keep = false;
    std::atomic<bool> done{false};
    std::thread midi([&] {
        for (int i = 1; !done; ++i) {
            n.tryMidiIn(i % 2 ? 0x90 : 0x80, 60, 100, 0.0);
            if (i % 2000 == 0) n.goToStart();
        }
    });
    for (int k = 0; k <= 1000; ++k) n.selectMidiOut(k % 2);
    done = true;
    midi.join();
    n.selectMidiOut(0);
    EXPECT_EQ(recording::state().strandedNotes, 0);
}

TEST_F(NoStuckNotes, SongSwitchStopsListeningAndForgetsHeldKeysBeforeTheLoad) {
    SmfWriter first, second;
    first.note(0, 240, 60).note(0, 240, 64).note(480, 240, 72).note(960, 240, 74);
    second.note(0, 240, 50).note(480, 240, 52);
    ASSERT_TRUE(first.save(dir.file("first.mid")) && second.save(dir.file("second.mid")));
    n.cfg_->currentSong = dir.file("first.mid");
    n.loadCurrentSong();
    n.tap(1, 0);
    n.startListening();
    n.cfg_->currentSong = dir.file("second.mid");
    n.loadCurrentSong();
    ASSERT_TRUE(n.songLoaded);
    EXPECT_FALSE(n.listening);
    EXPECT_EQ(n.heldCount, 0);
    EXPECT_TRUE(heard().empty());
    takeSent();
    n.listenTick();
    n.release(1);
    EXPECT_TRUE(takeSent().empty()) << "nothing of the new song plays from the old song's places";
}

namespace {

// Sent while quitting, whether the MIDI input was still open.
void noteWhetherInputOpen(void*, const Message& message, double) {
    if ((message.status & 0xF0) == 0x80) logMessage(recording::state().openInput >= 0 ? "off, input open\n" : "off, input closed\n");
}

}  // namespace

using NoStuckNotesDeathTest = NoStuckNotes;

TEST_F(NoStuckNotesDeathTest, QuitClosesTheInputBeforeItSilences) {
    load(threeGroups());
    recording::state().inputs = {"Keys"};
    n.selectMidiIn(0);
    n.tap(1, 0);
    n.output.setListener(noteWhetherInputOpen, nullptr);
    EXPECT_EXIT(n.quit(), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(logCount("off, input closed\n"), 3);
    EXPECT_EQ(logCount("off, input open\n"), 0);
}

// Thousands of random operations, of every kind a user has, on random songs (parts split, joined
// and given roles among them). After each: while
// not listening, every note sounding at the output is one the song will still end from the
// current position (its Note Off lies ahead); after a jump, a switch or a silence nothing sounds.
namespace {

constexpr int songs = 2;

// Notes on channels 0, 1 and 15, each channel with its own pitches and no two notes of one pitch
// overlapping, so that the first Note On or Note Off of a pitch ahead tells whether it is still
// meant to sound; pedal events and program changes between them.
SmfWriter randomSong(std::mt19937& random) {
    SmfWriter song;
    const uint8_t channels[] = {0, 1, 15};
    uint32_t freeAt[3][12] = {};
    for (uint32_t ticks = 0; ticks < 12000; ticks += 60 + random() % 300) {
        const int chord = 1 + static_cast<int>(random() % 3);
        for (int k = 0; k < chord; ++k) {
            const int c = static_cast<int>(random() % 3), p = static_cast<int>(random() % 12);
            if (freeAt[c][p] > ticks) continue;
            const uint32_t length = 30 + random() % 900;
            freeAt[c][p] = ticks + length + 1;
            song.note(ticks, length, static_cast<uint8_t>(40 + 20 * c + p), static_cast<uint8_t>(1 + random() % 127), channels[c]);
        }
        if (random() % 10 == 0) song.controller(ticks, 64, random() % 2 ? 127 : 0, channels[random() % 3]);
        if (random() % 20 == 0) song.program(ticks, static_cast<uint8_t>(random() % 128), channels[random() % 3]);
    }
    return song;
}

class RandomUse : public NoStuckNotes {
protected:
    void SetUp() override {
        recording::state().inputs = {"Keys A", "Keys B"};
        recording::state().outputs = {"Out A", "Out B"};
        for (int i = 0; i < songs; ++i) {
            SmfWriter song = randomSong(random);
            ASSERT_TRUE(song.save(dir.file("song" + std::to_string(i) + ".mid")));
        }
        n.selectMidiOut(0);
        n.selectMidiIn(0);
        switchSong();
        ASSERT_TRUE(n.hasSong());
    }

    void switchSong() {
        n.cfg_->currentSong = dir.file("song" + std::to_string(nextSong++ % songs) + ".mid");
        n.loadCurrentSong();
        // Listening lasts a few milliseconds, so that it also ends by itself.
        n.meta->zoom = 0.004 * (1 + random() % 4);
    }

    // The note event is sent as a message for that channel and pitch.
    bool sendsNote(const Event& e, const std::pair<int, int>& note) const {
        if (n.meta->chan16Mute && e.chan == 15) return false;
        return (n.meta->forceChannelOne ? 0 : e.chan) == note.first && e.pitch == note.second;
    }

    // The notes sounding now that the song will still end from the position. A muted note is never
    // sent; a Note On of a Follow part ahead may be the sounding note itself, which the followers
    // play before the position reaches it.
    bool endedAhead(const std::pair<int, int>& note) const {
        const Song& song = *n.song;
        for (uint32_t i = static_cast<uint32_t>(n.position); i < song.numEvents; ++i) {
            const Event& e = song.events[i];
            if (!e.isNoteOn() && !e.isNoteOff()) continue;
            const Role role = n.meta->parts.roleOf(e);
            if (role == Role::Mute || (role == Role::Follow && e.isNoteOn())) continue;
            if (!sendsNote(e, note)) continue;
            return e.isNoteOff();
        }
        return false;
    }

    // A note of a Follow part may instead be ended by the scheduler: its Note Off, the last event
    // of its channel and pitch before the position, waits there.
    bool endedByScheduler(const std::pair<int, int>& note) const {
        for (uint32_t i = static_cast<uint32_t>(n.position); i-- > 0;) {
            const Event& e = n.song->events[i];
            if (!e.isNote() || !sendsNote(e, note)) continue;
            return e.isNoteOff() && n.scheduler.holds(i);
        }
        return false;
    }

    // A tap here finds the song over (unless the loop takes it back).
    bool atTheEnd() const { return n.currentEvent()->isLast && !n.meta->loop; }

    // One random operation; true when nothing may sound after it.
    bool operate() {
        const int kind = static_cast<int>(random() % 100);
        const bool markers = n.meta->numMarkers() > 0;
        if (kind < 14) {
            const bool atEnd = atTheEnd();
            key("wer"[random() % 3]);
            return atEnd;
        }
        if (kind < 28) {
            n.keyboardUp("wer"[random() % 3], 0, 0);
            return false;
        }
        if (kind < 34) {
            const bool atEnd = atTheEnd();
            key('q');
            return atEnd;
        }
        if (kind < 44) {
            const bool atEnd = atTheEnd();
            n.midiIn(0x90, static_cast<uint8_t>(36 + random() % 6), static_cast<uint8_t>(1 + random() % 127));
            return atEnd;
        }
        if (kind < 54) {
            n.midiIn(random() % 2 ? 0x80 : 0x90, static_cast<uint8_t>(random() % 20 ? 36 + random() % 6 : 0), 0);
            return false;
        }
        if (kind < 56) {
            n.midiIn(0xB0, 64, random() % 2 ? 127 : 0);
            return false;
        }
        if (kind < 60) {
            static const int steps[] = {GLUT_KEY_RIGHT, GLUT_KEY_LEFT, GLUT_KEY_HOME};
            special(steps[random() % 3], random() % 2 ? GLUT_ACTIVE_SHIFT : 0);
            return true;
        }
        if (kind < 66) {
            static const unsigned char jumps[] = {'\t', '\b', '1', '2', '0'};
            const unsigned char jump = jumps[random() % 5];
            const bool target = jump == '\t' || jump == '\b' ? markers : n.meta->numMarkers() > (jump == '0' ? 9u : jump - '1');
            key(jump, jump == '\t' && random() % 2 ? GLUT_ACTIVE_SHIFT : 0);
            return target;
        }
        if (kind < 67) {
            const bool target = n.meta->numMarkers() > 1;
            special(GLUT_KEY_F2);
            return target;
        }
        if (kind < 70) {
            key('m');
            return false;
        }
        if (kind < 72) {
            special(random() % 2 ? GLUT_KEY_PAGE_UP : GLUT_KEY_PAGE_DOWN);
            return false;
        }
        if (kind < 76) {
            key(' ');
            return true;
        }
        if (kind < 77) {
            key(',');
            return true;
        }
        if (kind < 83) {
            const bool wasListening = n.listening;
            n.listenTick();
            n.scheduler.runDue(clockSeconds());
            return wasListening && !n.listening;
        }
        if (kind < 86) {
            // A role, a split (at a pitch of the list or found by itself) or a join from the Parts menu.
            const auto action = static_cast<PartAction>(random() % 6);
            const int pitch = static_cast<int>(random() % std::size(menuSplitPitches));
            n.selectPart(partMenuValue(static_cast<uint32_t>(random() % n.meta->parts.count()), action, pitch));
            return true;
        }
        if (kind < 90) {
            const int option = 2 + static_cast<int>(random() % 4);  // 5: the loop between markers
            n.selectMain(option);
            return option == 2 || option == 4;
        }
        if (kind < 93) {
            n.selectMidiIn(static_cast<int>(random() % 2));
            return true;
        }
        if (kind < 96) {
            n.selectMidiOut(static_cast<int>(random() % 2));
            return true;
        }
        if (kind < 97) {
            switchSong();
            return true;
        }
        n.release(-1);
        return false;
    }

    std::mt19937 random{20261208};
    int nextSong = 0;
};

}  // namespace

TEST_F(RandomUse, NoNoteSoundsThatNothingHolds) {
    for (int step = 0; step < 5000; ++step) {
        const bool silent = operate();
        const auto& sounding = heard();
        if (n.listening) continue;
        if (silent) {
            ASSERT_TRUE(sounding.empty()) << "step " << step << ": notes sound after a jump, switch or silence";
        }
        for (const auto& note : sounding)
            ASSERT_TRUE(endedAhead(note) || endedByScheduler(note)) << "step " << step << ": channel " << note.first << " pitch " << note.second
                                          << " sounds and nothing ahead ends it (position " << n.position << ")";
    }
}

#include <gtest/gtest.h>

#include "EngineTest.h"

using MessageList = std::vector<MidiMessage>;

namespace {

// Three groups: a chord of 60, 64, 67 (velocities 60, 90, 30) at 0 s, note 72 at 1 s, note 74 at 2 s.
// Events: 0-2 the chord's Note Ons, 3-5 its Note Offs, 6/7 the 72, 8/9 the 74.
SongBuilder threeGroups() {
    return SongBuilder()
        .note(0, 0.5, 60, 60, 0, true)
        .note(0, 0.5, 64, 90)
        .note(0, 0.5, 67, 30)
        .note(1, 0.5, 72, 100, 0, true)
        .note(2, 0.5, 74, 100, 0, true);
}

const MessageList chordOn = {noteOn(0, 60, 60), noteOn(0, 64, 90), noteOn(0, 67, 30)};
const MessageList chordOff = {noteOff(0, 60), noteOff(0, 64), noteOff(0, 67)};

MessageList joined(MessageList a, const MessageList& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

class Tapping : public EngineTest {
protected:
    Tapping() { load(threeGroups()); }
};

TEST_F(Tapping, KeyPressSendsTheGroupsNoteOnsAndReleaseItsNoteOffs) {
    n.tap(1, 0);
    EXPECT_EQ(takeSent(), chordOn);
    EXPECT_EQ(n.position, 3);
    EXPECT_EQ(n.meta->position, 3u);
    n.release(1);
    EXPECT_EQ(takeSent(), chordOff);
    EXPECT_EQ(n.position, 6);
    EXPECT_EQ(n.meta->position, 6u);
    EXPECT_EQ(n.heldCount, 0);
    EXPECT_EQ(dir.log(), "");
}

TEST_F(Tapping, MidiNoteOnScalesTheGroupSoItsLoudestNoteGetsTheVelocity) {
    n.midiIn(0x90, 64, 45);
    EXPECT_EQ(takeSent(), (MessageList{noteOn(0, 60, 30), noteOn(0, 64, 45), noteOn(0, 67, 15)}));
    EXPECT_EQ(n.held[64], 1);
    n.midiIn(0x80, 64, 0);
    EXPECT_EQ(takeSent(), chordOff);
    EXPECT_EQ(n.position, 6);
}

TEST_F(Tapping, MidiNoteOnWithVelocityZeroIsARelease) {
    n.midiIn(0x91, 64, 45);
    takeSent();
    n.midiIn(0x91, 64, 0);
    EXPECT_EQ(takeSent(), chordOff);
    EXPECT_EQ(n.heldCount, 0);
}

TEST_F(Tapping, SecondKeyWhileHoldingPlaysLegato) {
    n.tap(1, 0);
    takeSent();
    n.tap(2, 0);
    EXPECT_EQ(takeSent(), joined(chordOff, {noteOn(0, 72, 100)}));
    n.release(1);
    EXPECT_TRUE(takeSent().empty());
    EXPECT_EQ(n.position, 7);
    n.release(2);
    EXPECT_EQ(takeSent(), (MessageList{noteOff(0, 72)}));
    EXPECT_EQ(n.position, 8);
}

TEST_F(Tapping, QIsNeverHeldSoTheNextTapEndsItsNotes) {
    n.tap(-1, 0);
    EXPECT_EQ(n.heldCount, 0);
    n.tap(-1, 0);
    EXPECT_EQ(takeSent(), joined(chordOn, joined(chordOff, {noteOn(0, 72, 100)})));
}

TEST_F(Tapping, MidiNoteZeroReleasesEveryHeldKeyAtOnce) {
    n.tap(1, 0);
    n.midiIn(0x90, 40, 100);
    n.midiIn(0x90, 41, 100);
    EXPECT_EQ(n.heldCount, 3);
    takeSent();
    n.midiIn(0x80, 0, 0);
    EXPECT_EQ(n.heldCount, 0);
    for (uint8_t h : n.held) EXPECT_EQ(h, 0);
    EXPECT_EQ(takeSent(), (MessageList{noteOff(0, 74)}));
    EXPECT_EQ(n.position, 9);
}

TEST_F(Tapping, ReleaseRightAfterAGroupWasReleasedSendsNothing) {
    n.tap(1, 0);
    n.release(1);
    takeSent();
    n.release(1);
    EXPECT_TRUE(takeSent().empty());
    EXPECT_EQ(n.position, 6);
}

TEST_F(Tapping, RepeatedPressOfAHeldKeyCountsOnce) {
    n.tap(1, 0);
    n.tap(1, 0);
    EXPECT_EQ(n.heldCount, 1);
    n.release(1);
    EXPECT_EQ(n.heldCount, 0);
}

TEST_F(Tapping, VelocityAboveTheMidiRangeIsHeldToIt) {
    n.tap(60, 300);
    EXPECT_EQ(takeSent(), (MessageList{noteOn(0, 60, 84), noteOn(0, 64, 127), noteOn(0, 67, 42)}));
}

// Five single notes a second apart, 60 to 64, each its own group: note 60 + k is events 2k, 2k + 1.
// Markers at events 2 and 6 make the passage of notes 61 and 62.
class LoopBetweenMarkers : public EngineTest {
protected:
    LoopBetweenMarkers() {
        SongBuilder song;
        for (uint8_t k = 0; k < 5; ++k) song.note(k, 0.5, static_cast<uint8_t>(60 + k), 100, 0, true);
        load(song);
        n.meta->setMarker(2);
        n.meta->setMarker(6);
        n.toggleLoop();
    }
    // Each tap's Note On pitches, with a W tap and release per group unless legato.
    std::vector<int> tapped(int taps, bool legato = false) {
        std::vector<int> pitches;
        for (int i = 0; i < taps; ++i) {
            n.tap(1, 0);
            for (const MidiMessage& m : takeSent())
                if ((m.status & 0xF0) == 0x90) pitches.push_back(m.data1);
            if (!legato) n.release(1);
            takeSent();
        }
        return pitches;
    }
};

TEST_F(LoopBetweenMarkers, TapsGoRoundThePassageChosenByTheLastMove) {
    n.goToMarker(0);
    const int jumped = resets();
    EXPECT_EQ(tapped(5), (std::vector<int>{61, 62, 61, 62, 61}));
    EXPECT_EQ(resets() - jumped, 2) << "each way round starts with a silence";
    n.nextNote();
    EXPECT_EQ(tapped(2), (std::vector<int>{63, 64})) << "navigation left the passage: at the last marker";
    n.goToMarker(0);
    n.selectMain(5);
    EXPECT_EQ(tapped(3), (std::vector<int>{61, 62, 63})) << "the loop is off";
}

TEST_F(LoopBetweenMarkers, TapAtThePassagesEndSilencesAndStartsItAgain) {
    n.goToMarker(0);
    tapped(2, true);
    const int before = resets();
    n.tap(2, 0);
    EXPECT_EQ(resets() - before, 1);
    EXPECT_EQ(takeSent(), (MessageList{noteOff(0, 62), noteOn(0, 61, 100)}));
    EXPECT_EQ(n.soundingCount(), 1);
    EXPECT_EQ(n.position, 3);
    EXPECT_EQ(n.heldCount, 2);
}

TEST_F(LoopBetweenMarkers, BeforeTheFirstMarkerTapsPlayOnThroughTheSong) {
    n.goToStart();
    EXPECT_EQ(tapped(5), (std::vector<int>{60, 61, 62, 63, 64}));
}

TEST_F(LoopBetweenMarkers, APassageEndingAtTheSongsLastEventGoesRoundToo) {
    n.meta->setMarker(9);
    n.goToMarker(1);
    EXPECT_EQ(tapped(4), (std::vector<int>{63, 64, 63, 64}));
}

class SongStart : public EngineTest {};

TEST_F(SongStart, ControllersBeforeTheFirstGroupGoOutAheadOfIt) {
    load(SongBuilder().channelEvent(0, 0xB0, 0, 7, 100).channelEvent(0, 0xC0, 0, 5, 0).note(0, 1, 60, 80, 0, true));
    n.tap(1, 0);
    EXPECT_EQ(takeSent(), (MessageList{{0xB0, 7, 100}, {0xC0, 5, 0}, noteOn(0, 60, 80)}));
    EXPECT_EQ(n.position, 3);
}

class SongEnd : public EngineTest {};

TEST_F(SongEnd, TapAtTheLastEventSendsNothingAndStays) {
    load(threeGroups());
    n.position = 9;
    n.tap(1, 0);
    EXPECT_TRUE(takeSent().empty());
    EXPECT_EQ(n.position, 9);
    EXPECT_EQ(resets(), 0);
}

TEST_F(SongEnd, TapWithNoGroupAheadSendsTheRestAndSilencesAll) {
    load(SongBuilder().note(0, 1, 60, 100, 0, true).channelEvent(2, 0xB0, 0, 7, 50));
    n.tap(1, 0);
    n.tap(2, 0);
    EXPECT_EQ(takeSent(), (MessageList{noteOn(0, 60, 100), noteOff(0, 60)}));
    EXPECT_EQ(resets(), 1);
    EXPECT_EQ(n.position, 2);
    n.release(1);
    n.release(2);
    EXPECT_EQ(takeSent(), (MessageList{{0xB0, 7, 50}}));
    EXPECT_EQ(n.position, 2);
}

TEST_F(SongEnd, ReleaseOfTheLastGroupIncludesTheFinalEvent) {
    load(threeGroups());
    n.position = 8;
    n.tap(1, 0);
    EXPECT_EQ(takeSent(), (MessageList{noteOn(0, 74, 100)}));
    EXPECT_EQ(resets(), 0);
    n.release(1);
    EXPECT_EQ(takeSent(), (MessageList{noteOff(0, 74)}));
    EXPECT_EQ(n.position, 9);
}

TEST_F(SongEnd, PositionBeyondTheSongIsReadAsTheLastEvent) {
    load(threeGroups());
    n.position = 1000;
    n.tap(1, 0);
    EXPECT_TRUE(takeSent().empty());
    n.position = -5;
    n.tap(1, 0);
    EXPECT_EQ(takeSent(), chordOn);
    EXPECT_EQ(n.position, 3);
}

class MidiThrough : public EngineTest {};

TEST_F(MidiThrough, OtherChannelMessagesPassUnchangedWhateverTheSongOptions) {
    load(threeGroups());
    n.meta->forceChannelOne = true;
    n.meta->chan16Mute = true;
    n.meta->sendPedalEvents = true;
    n.midiIn(0xB3, 64, 127);
    n.midiIn(0xEF, 0, 100);
    n.midiIn(0xA2, 60, 10);
    n.midiIn(0xC4, 3, 0);
    n.midiIn(0xD5, 20, 0);
    EXPECT_EQ(takeSent(), (MessageList{{0xB3, 64, 127}, {0xEF, 0, 100}, {0xA2, 60, 10}, {0xC4, 3, 0}, {0xD5, 20, 0}}));
    EXPECT_EQ(n.position, 0);
    EXPECT_EQ(dir.log(), "");
}

TEST_F(MidiThrough, SystemMessagesAreIgnored) {
    load(threeGroups());
    n.midiIn(0xF8, 0, 0);
    n.midiIn(0xFE, 0, 0);
    EXPECT_TRUE(takeSent().empty());
    EXPECT_EQ(n.position, 0);
}

TEST_F(MidiThrough, PedalPassesEvenWithNoSong) {
    n.midiIn(0xB0, 64, 127);
    EXPECT_EQ(takeSent(), (MessageList{{0xB0, 64, 127}}));
}

class NoSong : public EngineTest {
protected:
    // Events are there, but the song did not load: nothing may read or change them.
    NoSong() {
        threeGroups().build(*n.song);
        n.songLoaded = false;
    }
    void expectUntouched() {
        EXPECT_TRUE(takeSent().empty());
        EXPECT_EQ(resets(), 0);
        EXPECT_EQ(n.position, 0);
        EXPECT_EQ(startFlags(), 3);
        EXPECT_FALSE(n.listening);
        EXPECT_EQ(n.heldCount, 0);
    }
};

TEST_F(NoSong, PerformanceAndListenCommandsDoNothing) {
    n.tap(1, 0);
    n.release(1);
    n.midiIn(0x90, 60, 100);
    n.midiIn(0x80, 60, 0);
    n.startListening();
    n.listenTick();
    expectUntouched();
}

TEST_F(NoSong, NavigationCommandsDoNothing) {
    n.nextNote();
    n.previousNote();
    n.forwardScreen();
    n.backScreen();
    n.goToStart();
    n.toggleMarker();
    n.nextMarker();
    n.previousMarker();
    n.goToMarker(0);
    n.zoom(2);
    n.group();
    n.ungroup();
    expectUntouched();
    EXPECT_EQ(n.meta->numMarkers(), 0u);
    EXPECT_EQ(n.meta->zoom, 10.0);
}

TEST_F(NoSong, EmptySongCountsAsNoSong) {
    SongBuilder().build(*n.song);
    n.songLoaded = true;
    n.tap(1, 0);
    n.nextNote();
    n.startListening();
    EXPECT_TRUE(takeSent().empty());
    EXPECT_FALSE(n.listening);
}

class GroupWalk : public EngineTest {};

TEST_F(GroupWalk, LastNoteOnOfGroupStopsAtTheNextGroup) {
    load(threeGroups());
    EXPECT_EQ(n.lastNoteOnOfGroup(&event(0)), &event(2));
    EXPECT_EQ(n.lastNoteOnOfGroup(&event(6)), &event(6));
    EXPECT_EQ(n.lastNoteOnOfGroup(&event(9)), &event(9));
}

TEST_F(GroupWalk, GroupMaxVelocityLooksOnlyAtNoteOnsInTheRange) {
    load(threeGroups());
    EXPECT_EQ(n.groupMaxVelocity(&event(0), &event(3)), 90);
    EXPECT_EQ(n.groupMaxVelocity(&event(2), &event(3)), 30);
    EXPECT_EQ(n.groupMaxVelocity(&event(3), &event(6)), 0);
}

class Listening : public EngineTest {
protected:
    Listening() { load(threeGroups()); }
    // Plays what the scheduler holds that falls due by this song time since listening began.
    void playUntilSongTime(double seconds) { n.scheduler.runDue(n.listenOffset + seconds * 100.0 / n.meta->listenSpeed); }
};

TEST_F(Listening, StartSilencesAndLastsHalfTheZoom) {
    n.trackNoteOn(0, 50, 100);
    takeSent();
    n.position = 6;
    const double before = clockSeconds();
    n.startListening();
    const double after = clockSeconds();
    EXPECT_TRUE(n.listening);
    EXPECT_EQ(resets(), 1);
    EXPECT_EQ(takeSent(), (MessageList{noteOff(0, 50)}));
    EXPECT_EQ(n.scheduler.pending(), 4u + 1) << "the events from the position and the end";
    EXPECT_GE(n.listenEnd, before + 5.0);
    EXPECT_LE(n.listenEnd, after + 5.0);
    EXPECT_GE(n.listenOffset, before - 1.0);
    EXPECT_LE(n.listenOffset, after - 1.0);
}

TEST_F(Listening, EachEventIsSentAtItsTimeInListOrderWithItsDueTime) {
    n.startListening();
    playUntilSongTime(-0.001);
    EXPECT_TRUE(takeSent().empty());
    playUntilSongTime(0.6);
    const MessageList chord = takeSent();
    EXPECT_EQ(chord, joined(chordOn, chordOff));
    for (const MidiMessage& m : chord) EXPECT_DOUBLE_EQ(m.due, n.listenOffset + (m.status == 0x90 ? 0.0 : 0.5));
    playUntilSongTime(1.0);
    EXPECT_EQ(takeSent(), (MessageList{noteOn(0, 72, 100)}));
    EXPECT_EQ(n.position, 0);
}

TEST_F(Listening, PlaysEveryEventBeforeTheEndTimeAndNoneAfter) {
    n.meta->zoom = 4.0;  // two seconds: the note at 2 s falls due at the end itself
    n.startListening();
    playUntilSongTime(100);
    EXPECT_EQ(takeSent(), joined(joined(chordOn, chordOff), {noteOn(0, 72, 100), noteOff(0, 72)}));
    EXPECT_FALSE(n.listening);
    EXPECT_EQ(resets(), 2);
    EXPECT_EQ(n.scheduler.pending(), 0u);
}

TEST_F(Listening, GoesOnSilentlyAfterTheSongAndStopsAtTheEndTime) {
    n.startListening();
    playUntilSongTime(4.9);
    EXPECT_EQ(takeSent().size(), 10u);
    EXPECT_TRUE(n.listening);
    EXPECT_EQ(resets(), 1);
    playUntilSongTime(5.0);
    EXPECT_FALSE(n.listening);
    EXPECT_EQ(resets(), 2);
}

TEST_F(Listening, AtHalfSpeedTheSameStretchLastsTwiceAsLong) {
    n.meta->listenSpeed = 50;
    const double before = clockSeconds();
    n.startListening();
    EXPECT_GE(n.listenEnd, before + 10.0);
    n.scheduler.runDue(n.listenOffset + 1.999);
    EXPECT_EQ(takeSent(), joined(chordOn, chordOff));
    n.scheduler.runDue(n.listenOffset + 2.0);
    EXPECT_EQ(takeSent(), (MessageList{noteOn(0, 72, 100)}));
    n.scheduler.runDue(n.listenOffset + 9.999);
    EXPECT_TRUE(n.listening);
    EXPECT_EQ(takeSent().size(), 3u);
}

TEST_F(Listening, ASpeedChangeGoesOnFromWhereItGotAtTheNewSpeedToTheSamePlaceInTheSong) {
    n.startListening();
    playUntilSongTime(1.0);
    EXPECT_EQ(takeSent(), joined(joined(chordOn, chordOff), {noteOn(0, 72, 100)}));
    n.selectListenSpeed(50);
    n.scheduler.runDue(1e12);
    const MessageList after = takeSent();
    ASSERT_EQ(after, (MessageList{noteOff(0, 72), noteOn(0, 74, 100), noteOff(0, 74)}));
    EXPECT_DOUBLE_EQ(after[1].due - after[0].due, 1.0);
    EXPECT_DOUBLE_EQ(after[2].due - after[1].due, 1.0);
    EXPECT_DOUBLE_EQ(n.listenEnd - after[1].due, 6.0) << "listening ends 3 song seconds after the 74, at 50 %";
    EXPECT_EQ(n.meta->listenSpeed, 50);
}

TEST_F(Listening, TheTimerEndsItWhenTheSchedulerHasNotPlayingWhatFellDueFirst) {
    n.startListening();
    n.listenTick();
    EXPECT_TRUE(n.listening);
    n.listenOffset -= 100;  // as if the scheduler's thread had slept through the whole listen
    n.listenEnd = clockSeconds() - 0.001;
    n.scheduler.cancel();
    n.listenIndex = 0;
    n.queueListenBatch();
    n.listenTick();
    EXPECT_EQ(takeSent().size(), 10u);
    EXPECT_FALSE(n.listening);
    EXPECT_EQ(resets(), 2);
}

TEST_F(Listening, StopEndsTheNotesThatListeningStartedAndNothingQueuedPlaysAfter) {
    n.startListening();
    playUntilSongTime(0.1);
    takeSent();
    n.stopListening();
    EXPECT_FALSE(n.listening);
    EXPECT_EQ(takeSent(), chordOff);
    EXPECT_EQ(n.soundingCount(), 0);
    EXPECT_EQ(n.position, 0);
    n.scheduler.runDue(1e12);
    EXPECT_TRUE(takeSent().empty());
}

TEST_F(Listening, BatchesCoverAnHourWithoutQueueingItAll) {
    SongBuilder hour;
    for (int k = 0; k < 36000; ++k) hour.note(0.1 * k, 0.05, static_cast<uint8_t>(36 + k % 48), 100, 0, true);
    load(hour);
    n.meta->zoom = 7200.0;
    n.startListening();
    uint32_t mostQueued = 0;
    while (n.listening) {
        mostQueued = std::max(mostQueued, n.scheduler.pending());
        n.scheduler.runDue(n.scheduler.nextDue());
    }
    EXPECT_LE(mostQueued, 400u);
    const MessageList sent = takeSent();
    ASSERT_EQ(sent.size(), 72000u);
    for (uint32_t i = 0; i < 72000; ++i) {
        const Event& e = event(i);
        ASSERT_EQ(sent[i], (e.isNoteOn() ? noteOn(0, e.pitch, 100) : noteOff(0, e.pitch))) << i;
        ASSERT_DOUBLE_EQ(sent[i].due, n.listenOffset + e.time) << i;
    }
}

TEST_F(Listening, MidiInputPlaysOnWithoutStoppingIt) {
    n.startListening();
    n.midiIn(0x90, 60, 90);
    EXPECT_EQ(takeSent(), chordOn);
    EXPECT_TRUE(n.listening);
}

#include <gtest/gtest.h>

#include "EngineTest.h"

using EventOutput = EngineTest;
using MessageList = std::vector<MidiMessage>;

namespace {

// Every event of the song, in list order.
void playAll(Nolari& n, uint8_t from = 127, uint8_t to = 127) {
    n.playRange(n.song->events, n.song->events + n.song->numEvents, from, to);
}

}  // namespace

TEST_F(EventOutput, ForceChannelOneSendsNotesAndControllersOnTheFirstChannel) {
    load(SongBuilder().note(0, 1, 60, 100, 5).channelEvent(0.5, 0xB0, 5, 7, 90));
    n.meta->forceChannelOne = true;
    playAll(n);
    EXPECT_EQ(takeSent(), (MessageList{noteOn(0, 60, 100), {0xB0, 7, 90}, noteOff(0, 60)}));
}

TEST_F(EventOutput, WithoutOptionsEveryEventKeepsItsOwnChannel) {
    load(SongBuilder().note(0, 1, 60, 100, 5).channelEvent(0.5, 0xE0, 15, 0, 64).note(0.2, 1, 62, 70, 15));
    playAll(n);
    EXPECT_EQ(takeSent(), (MessageList{noteOn(5, 60, 100), noteOn(15, 62, 70), {0xEF, 0, 64}, noteOff(5, 60),
                                       noteOff(15, 62)}));
}

TEST_F(EventOutput, ChannelSixteenMuteSilencesItsNotesButNotItsOtherMessages) {
    load(SongBuilder().note(0, 1, 60, 100, 15).channelEvent(0.5, 0xE0, 15, 0, 64).note(0, 1, 62, 100, 14));
    n.meta->chan16Mute = true;
    playAll(n);
    EXPECT_EQ(takeSent(), (MessageList{noteOn(14, 62, 100), {0xEF, 0, 64}, noteOff(14, 62)}));
    EXPECT_EQ(dir.log(), "");
    EXPECT_EQ(n.soundingCount(), 0);
}

TEST_F(EventOutput, ChannelSixteenMuteLooksAtTheEventsOwnChannelWhenForcingChannelOne) {
    load(SongBuilder().note(0, 1, 60, 100, 15).note(0, 1, 62, 100, 3));
    n.meta->chan16Mute = true;
    n.meta->forceChannelOne = true;
    playAll(n);
    EXPECT_EQ(takeSent(), (MessageList{noteOn(0, 62, 100), noteOff(0, 62)}));
}

TEST_F(EventOutput, SongPedalGoesToEveryUsedChannelWhenPedalEventsAreOn) {
    load(SongBuilder().note(0, 1, 60, 100, 0).note(0, 1, 36, 100, 9).channelEvent(2, 0xB0, 3, 64, 127));
    n.meta->sendPedalEvents = true;
    n.meta->forceChannelOne = true;
    n.playRange(&event(4), &event(5), 127, 127);
    EXPECT_EQ(takeSent(), (MessageList{{0xB0, 64, 127}, {0xB9, 64, 127}}));
    EXPECT_EQ(logCount("skipping channel event\n"), 14);
    EXPECT_EQ(dir.log().size(), 14 * std::string("skipping channel event\n").size());
}

TEST_F(EventOutput, SongPedalIsDroppedSilentlyWhenPedalEventsAreOff) {
    load(SongBuilder().note(0, 1, 60).channelEvent(2, 0xB0, 0, 64, 127).channelEvent(3, 0xB0, 0, 65, 127));
    n.playRange(&event(2), &event(4), 127, 127);
    EXPECT_EQ(takeSent(), (MessageList{{0xB0, 65, 127}}));
    EXPECT_EQ(dir.log(), "");
}

TEST_F(EventOutput, TempoEventsAreSkippedWithALogLine) {
    load(SongBuilder().tempo(0).note(1, 1, 60));
    playAll(n);
    EXPECT_EQ(takeSent(), (MessageList{noteOn(0, 60, 100), noteOff(0, 60)}));
    EXPECT_EQ(dir.log(), "skipping non-channel event\n");
}

TEST_F(EventOutput, NoteOnVelocitiesAreScaledDownTruncating) {
    load(SongBuilder().note(0, 1, 60, 100).note(0, 1, 62, 80).note(0, 1, 64, 1));
    n.playRange(&event(0), &event(3), 100, 50);
    EXPECT_EQ(takeSent(), (MessageList{noteOn(0, 60, 50), noteOn(0, 62, 40), noteOn(0, 64, 0)}));
}

TEST_F(EventOutput, EqualScaleKeepsTheSongsVelocities) {
    load(SongBuilder().note(0, 1, 60, 100).note(0, 1, 62, 80).note(0, 1, 64, 1));
    n.playRange(&event(0), &event(3), 100, 100);
    EXPECT_EQ(takeSent(), (MessageList{noteOn(0, 60, 100), noteOn(0, 62, 80), noteOn(0, 64, 1)}));
}

TEST_F(EventOutput, NotesStartedAreCountedUntilEnded) {
    n.trackNoteOn(0, 60, 100);
    n.trackNoteOn(15, 127, 1);
    EXPECT_EQ(n.soundingCount(), 2);
    n.trackNoteOff(0, 60);
    EXPECT_EQ(n.soundingCount(), 1);
    EXPECT_EQ(takeSent(), (MessageList{noteOn(0, 60, 100), noteOn(15, 127, 1), noteOff(0, 60)}));
    EXPECT_EQ(dir.log(), "");
}

TEST_F(EventOutput, NoteStartedTwiceIsLoggedAndSentAgainAndEndsWithOneOff) {
    n.trackNoteOn(3, 64, 90);
    n.trackNoteOn(3, 64, 91);
    EXPECT_EQ(dir.log(), "ERROR: trackNoteOn(3, 64) already on\n");
    n.trackNoteOff(3, 64);
    EXPECT_EQ(n.soundingCount(), 0);
    EXPECT_EQ(takeSent(), (MessageList{noteOn(3, 64, 90), noteOn(3, 64, 91), noteOff(3, 64)}));
}

TEST_F(EventOutput, NoteEndedTwiceIsLoggedAndSentAgain) {
    n.trackNoteOn(9, 36, 100);
    n.trackNoteOff(9, 36);
    n.trackNoteOff(9, 36);
    EXPECT_EQ(dir.log(), "ERROR: trackNoteOff(9, 36) already off\n");
    EXPECT_EQ(takeSent(), (MessageList{noteOn(9, 36, 100), noteOff(9, 36), noteOff(9, 36)}));
}

TEST_F(EventOutput, AllNotesOffWithNothingSoundingSendsOnlyTheReset) {
    n.allNotesOff();
    EXPECT_EQ(resets(), 1);
    EXPECT_TRUE(takeSent().empty());
}

TEST_F(EventOutput, AllNotesOffResetsThenEndsEverySoundingNoteByChannelAndPitch) {
    n.trackNoteOn(5, 70, 100);
    n.trackNoteOn(0, 80, 100);
    n.trackNoteOn(5, 10, 100);
    takeSent();
    n.allNotesOff();
    EXPECT_EQ(resets(), 1);
    EXPECT_EQ(takeSent(), (MessageList{noteOff(0, 80), noteOff(5, 10), noteOff(5, 70)}));
    EXPECT_EQ(n.soundingCount(), 0);
    EXPECT_EQ(dir.log(), "");
}

TEST_F(EventOutput, ProgramChangesAtTheStartAreProgramZeroOnAllChannels) {
    load(SongBuilder().channelEvent(0, 0xC0, 2, 24, 0).note(0, 1, 60, 100, 2));
    n.sendProgramChanges();
    MessageList expected;
    for (uint8_t ch = 0; ch < 16; ++ch) expected.push_back({static_cast<uint8_t>(0xC0 | ch), 0, 0});
    EXPECT_EQ(takeSent(), expected);
}

TEST_F(EventOutput, ProgramChangesSendTheLatestBeforeThePositionOnTheirOwnChannels) {
    load(SongBuilder()
             .channelEvent(0, 0xC0, 2, 24, 0)
             .channelEvent(0, 0xC0, 9, 5, 0)
             .channelEvent(1, 0xC0, 2, 40, 0)
             .note(2, 1, 60, 100, 2)
             .channelEvent(4, 0xC0, 9, 7, 0));
    n.meta->forceChannelOne = true;
    n.position = 4;  // the note-off at 3 s: the program change at 4 s lies ahead
    n.sendProgramChanges();
    const MessageList sent = takeSent();
    ASSERT_EQ(sent.size(), 16u);
    for (uint8_t ch = 0; ch < 16; ++ch) {
        const uint8_t program = ch == 2 ? 40 : ch == 9 ? 5 : 0;
        EXPECT_EQ(sent[ch], (MidiMessage{static_cast<uint8_t>(0xC0 | ch), program, 0})) << "channel " << int(ch);
    }
}

// Group 1 at 0 s: 60 on channel 0, 36 on the percussion channel, 120 on channel 1; group 2 at 1 s: 62.
class Transposition : public EngineTest {
protected:
    Transposition() {
        load(SongBuilder()
                 .note(0, 0.5, 60, 100, 0, true)
                 .note(0, 0.5, 36, 90, 9)
                 .note(0, 0.5, 120, 80, 1)
                 .note(1, 0.5, 62, 100, 0, true));
    }
};

TEST_F(Transposition, TapsAndReleasesSoundShiftedButPercussionAndOutOfRangeNotesArePaired) {
    n.selectTranspose(12);
    takeSent();
    n.tap(1, 0);
    EXPECT_EQ(takeSent(), (MessageList{noteOn(0, 72, 100), noteOn(9, 36, 90)})) << "132 lies beyond the range";
    n.release(1);
    EXPECT_EQ(takeSent(), (MessageList{noteOff(0, 72), noteOff(9, 36)}));
    EXPECT_EQ(n.soundingCount(), 0);
    EXPECT_EQ(n.song->events[0].pitch, 60) << "the song keeps its own pitches";
    EXPECT_EQ(n.meta->transpose, 12);
    EXPECT_EQ(dir.log(), "");
}

TEST_F(Transposition, ListeningSoundsShiftedAndMidiInputPassesAsPlayed) {
    n.selectTranspose(-1);
    n.startListening();
    n.scheduler.runDue(n.listenOffset + 0.1);
    EXPECT_EQ(takeSent(), (MessageList{noteOn(0, 59, 100), noteOn(9, 36, 90), noteOn(1, 119, 80)}));
    n.midiIn(0xA0, 60, 30);
    EXPECT_EQ(takeSent(), (MessageList{{0xA0, 60, 30}}));
}

TEST_F(Transposition, AChangeWhileNotesSoundEndsThemAtThePitchTheyWereSentWith) {
    n.tap(1, 0);
    takeSent();
    n.selectTranspose(2);
    EXPECT_EQ(resets(), 1);
    EXPECT_EQ(takeSent(), (MessageList{noteOff(0, 60), noteOff(1, 120), noteOff(9, 36)}));
    EXPECT_EQ(n.soundingCount(), 0);
    n.tap(1, 0);
    EXPECT_EQ(takeSent().back(), noteOn(0, 64, 100));
}

TEST_F(Transposition, OutputRemembersThePitchEachNoteWasSentWith) {
    Output& out = n.output;
    out.setTranspose(5);
    out.send({0x93, 60, 100});
    out.send({0xA3, 60, 40});
    out.setTranspose(-5);
    out.send({0x93, 60, 0});
    out.send({0x83, 60, 0});
    EXPECT_EQ(takeSent(), (MessageList{noteOn(3, 65, 100), {0xA3, 65, 40}, {0x93, 65, 0}, noteOff(3, 55)}))
        << "the second Note Off follows no Note On: the setting of the moment";
    out.setTranspose(-30);
    EXPECT_EQ(out.transpose(), -24);
}

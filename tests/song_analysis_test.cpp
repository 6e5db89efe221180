// What the analysis makes of a loaded song: paired notes, instruments and their colours, real
// times, used channels, and the group starts.

#include <vector>

#include "song_test_fixture.h"

namespace {

using NotePairing = SongFixture;
using Instruments = SongFixture;
using Timing = SongFixture;
using GroupStarts = SongFixture;

void expectColor(const Color& c, float r, float g, float b) {
    EXPECT_FLOAT_EQ(c.r, r);
    EXPECT_FLOAT_EQ(c.g, g);
    EXPECT_FLOAT_EQ(c.b, b);
    EXPECT_EQ(c.a, 0.0f);
}

}  // namespace

TEST_F(NotePairing, OverlappingNotesOfOnePitchPairFirstInFirstOut) {
    SmfWriter w;
    w.on(0, 60).on(10, 60).off(20, 60).off(30, 60);
    ASSERT_TRUE(load(w));
    EXPECT_EQ(song.event(0)->other, song.event(2));
    EXPECT_EQ(song.event(2)->other, song.event(0));
    EXPECT_EQ(song.event(1)->other, song.event(3));
    EXPECT_EQ(song.event(3)->other, song.event(1));
}

TEST_F(NotePairing, NoteOffInAnotherTrackOnTheSameChannelAndPitchPairs) {
    SmfWriter w;
    w.on(0, 60, 100, 5).track().off(100, 60, 5);
    ASSERT_TRUE(load(w));
    EXPECT_EQ(song.event(0)->other, song.event(1));
    EXPECT_EQ(song.event(1)->track, 1u);
}

TEST_F(NotePairing, ChannelAndPitchBothMustMatch) {
    SmfWriter w;
    w.on(0, 60, 100, 0).on(0, 60, 100, 1).on(0, 61, 100, 0).off(10, 61, 0).off(20, 60, 1).off(30, 60, 0);
    ASSERT_TRUE(load(w));
    EXPECT_EQ(song.event(0)->other, song.event(5));
    EXPECT_EQ(song.event(1)->other, song.event(4));
    EXPECT_EQ(song.event(2)->other, song.event(3));
}

TEST_F(NotePairing, UnpairedNotesAreIgnoredAndOnlyNoteOffsAreLogged) {
    SmfWriter w;
    w.off(0, 60).on(10, 60).on(20, 61, 100, 3).off(30, 62, 4).off(40, 60);
    ASSERT_TRUE(load(w));
    EXPECT_EQ(dir.log(), "ERROR: Song::findNoteEnds()unpaired note off\nERROR: Song::findNoteEnds()unpaired note off\n");
    for (uint32_t i : {0u, 2u, 3u}) {
        EXPECT_EQ(song.event(i)->type, TYPE_IGNORED) << i;
        EXPECT_EQ(song.event(i)->stat, 0) << i;
        EXPECT_EQ(song.event(i)->other, nullptr) << i;
    }
    // A note-off before the note-on is never its end.
    EXPECT_EQ(song.event(1)->other, song.event(4));
    EXPECT_EQ(song.channelUsed[0], 1);
    EXPECT_EQ(song.channelUsed[3], 0);
    EXPECT_EQ(song.channelUsed[4], 0);
    // Disabled notes still made their instruments.
    EXPECT_EQ(song.numInstruments, 3u);
}

TEST_F(NotePairing, RandomSongsPairAsASearchForwardFromEveryNoteOnWould) {
    uint32_t seed = 7;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 16; };
    for (int round = 0; round < 20; ++round) {
        struct Written {
            bool on;
            uint8_t chan, pitch;
        };
        std::vector<Written> written;
        SmfWriter w;
        for (uint32_t i = 0; i < 300; ++i) {
            const Written e{next() % 2 == 0, static_cast<uint8_t>(next() % 2), static_cast<uint8_t>(60 + next() % 3)};
            if (e.on)
                w.on(i, e.pitch, 100, e.chan);
            else if (next() % 2)
                w.off(i, e.pitch, e.chan);
            else
                w.on(i, e.pitch, 0, e.chan);
            written.push_back(e);
        }
        std::vector<int> partner(written.size(), -1);
        for (std::size_t i = 0; i < written.size(); ++i) {
            if (!written[i].on) continue;
            for (std::size_t j = i + 1; j < written.size(); ++j) {
                if (written[j].on || partner[j] >= 0 || written[j].chan != written[i].chan ||
                    written[j].pitch != written[i].pitch)
                    continue;
                partner[i] = static_cast<int>(j);
                partner[j] = static_cast<int>(i);
                break;
            }
        }
        ASSERT_TRUE(load(w));
        for (std::size_t i = 0; i < written.size(); ++i) {
            const Event* e = song.event(static_cast<uint32_t>(i));
            if (partner[i] < 0) {
                ASSERT_EQ(e->type, TYPE_IGNORED) << "round " << round << " event " << i;
                continue;
            }
            ASSERT_EQ(e->other, song.event(static_cast<uint32_t>(partner[i]))) << "round " << round << " event " << i;
            ASSERT_EQ(e->isNoteOn(), written[i].on);
        }
    }
}

TEST_F(Instruments, OrderedByAveragePitchHighestFirstWithTiesInOrderOfTheirFirstNotes) {
    SmfWriter w;
    w.note(0, 5, 40, 100, 0).note(20, 5, 80, 100, 1).note(30, 5, 50, 100, 0);
    w.track().note(10, 5, 80, 100, 0).note(40, 5, 70, 100, 2);
    ASSERT_TRUE(load(w));
    ASSERT_EQ(song.numInstruments, 4u);
    // Created in the order (0,0) (1,0) (0,1) (1,2); averages 45, 80, 80, 70.
    const Instrument* in = song.instruments;
    EXPECT_EQ(in[0].track, 1u);
    EXPECT_EQ(in[0].channel, 0);
    EXPECT_EQ(in[1].track, 0u);
    EXPECT_EQ(in[1].channel, 1);
    EXPECT_EQ(in[2].track, 1u);
    EXPECT_EQ(in[2].channel, 2);
    EXPECT_EQ(in[3].track, 0u);
    EXPECT_EQ(in[3].channel, 0);
    EXPECT_EQ(in[3].numNoteEvents, 4u);
    EXPECT_EQ(in[3].pitchSum, 180);
    EXPECT_EQ(in[3].averagePitch, 45);
    EXPECT_EQ(in[3].highestPitch, 50);
    EXPECT_EQ(in[3].lowestPitch, 40);
    EXPECT_EQ(song.highestPitch, 80);
    EXPECT_EQ(song.lowestPitch, 40);
    for (uint32_t i = 0; i < song.numEvents; ++i) {
        const Event* e = song.event(i);
        EXPECT_EQ(in[e->inst].track, e->track);
        EXPECT_EQ(in[e->inst].channel, e->chan);
    }
}

TEST_F(Instruments, OneInstrumentIsPureGreenInBothWheels) {
    SmfWriter w;
    w.note(0, 10, 60).controller(5, 64, 127);
    ASSERT_TRUE(load(w));
    ASSERT_EQ(song.numInstruments, 1u);
    expectColor(song.instruments[0].color, 0, 1, 0);
    expectColor(song.instruments[0].narrowColor, 0, 1, 0);
    expectColor(song.instruments[0].paleColor, 0.4f, 1, 0.4f);
    expectColor(song.instruments[0].paleNarrowColor, 0.4f, 1, 0.4f);
}

TEST_F(Instruments, ColoursSpreadOverTheWholeWheelAndHalfOfIt) {
    SmfWriter w;
    w.note(0, 10, 90, 100, 0).note(0, 10, 70, 100, 1).note(0, 10, 50, 100, 2);
    ASSERT_TRUE(load(w));
    ASSERT_EQ(song.numInstruments, 3u);
    expectColor(song.instruments[0].color, 0, 1, 0);
    expectColor(song.instruments[1].color, 0, 0, 1);
    expectColor(song.instruments[2].color, 1, 0, 0);
    expectColor(song.instruments[1].paleColor, 0.4f, 0.4f, 1);
    expectColor(song.instruments[1].narrowColor, 0, 0.4f, 0.6f);
    expectColor(song.instruments[2].narrowColor, 0.2f, 0, 0.8f);
    expectColor(song.instruments[2].paleNarrowColor, 0.52f, 0.4f, 0.88f);
}

TEST_F(Timing, TempoChangeTakesEffectFromItsOwnTick) {
    SmfWriter w(480);
    w.on(0, 60).tempo(960, 250000).off(960, 60).on(1440, 62).off(1920, 62);
    ASSERT_TRUE(load(w));
    EXPECT_DOUBLE_EQ(song.event(1)->time, 1.0);  // the tempo event, at the old rate
    EXPECT_DOUBLE_EQ(song.event(2)->time, 1.0);
    EXPECT_DOUBLE_EQ(song.event(3)->time, 1.25);
    EXPECT_DOUBLE_EQ(song.event(4)->time, 1.5);
    EXPECT_DOUBLE_EQ(song.endTime, 1.5);
    EXPECT_DOUBLE_EQ(song.secondsPerQuarter, 0.25);
    EXPECT_DOUBLE_EQ(song.secondsPerTick, 0.25 / 480);
}

TEST_F(Timing, TempoAtTickZeroTimesTheWholeSong) {
    SmfWriter w(480);
    w.tempo(0, 1000000).note(480, 480, 60);
    ASSERT_TRUE(load(w));
    EXPECT_DOUBLE_EQ(song.event(1)->time, 1.0);
    EXPECT_DOUBLE_EQ(song.endTime, 2.0);
}

TEST_F(Timing, SmpteSongKeepsItsFixedRateThroughTempoEvents) {
    SmfWriter w(0xE728);
    w.on(0, 60).tempo(500, 250000).tempo(700, 300000).off(1000, 60);
    ASSERT_TRUE(load(w));
    const std::string line = "ERROR: Song::deriveTrueTimings() tempo change for non-beat-oriented time division method (1)\n";
    EXPECT_EQ(dir.log(), line + line);
    EXPECT_DOUBLE_EQ(song.endTime, 1.0);
}

TEST_F(GroupStarts, FlagTheNoteOnAtExactlyTheGivenTicks) {
    SmfWriter w;
    w.note(0, 10, 60).controller(20, 7, 100).note(30, 10, 62);
    ASSERT_TRUE(load(w));
    EXPECT_TRUE(song.startGroupAt(0));
    EXPECT_TRUE(song.event(0)->start);
    EXPECT_FALSE(song.startGroupAt(10));  // only the note-off lies there
    EXPECT_TRUE(song.startGroupAt(30));
    EXPECT_TRUE(song.event(3)->start);
    EXPECT_FALSE(song.startGroupAt(20));  // only the controller
    EXPECT_EQ(song.numGroups, 2u);
}

TEST_F(GroupStarts, CursorSweepsForwardAndRestartsOnlyForEarlierTicks) {
    SmfWriter w;
    w.on(0, 48).on(100, 60).on(100, 64).on(100, 67).off(200, 48).off(200, 60).off(200, 64).off(200, 67);
    ASSERT_TRUE(load(w));
    // The search for 50 ends at the first note-on at 100 and passes it.
    EXPECT_FALSE(song.startGroupAt(50));
    EXPECT_TRUE(song.startGroupAt(100));
    EXPECT_FALSE(song.event(1)->start);
    EXPECT_TRUE(song.event(2)->start);
    // The same ticks again split the chord.
    EXPECT_TRUE(song.startGroupAt(100));
    EXPECT_TRUE(song.event(3)->start);
    // Clearing leaves the cursor past the chord; earlier ticks start the search over.
    song.clearGroups();
    EXPECT_EQ(song.numGroups, 0u);
    EXPECT_FALSE(song.event(2)->start);
    EXPECT_FALSE(song.startGroupAt(100));
    EXPECT_TRUE(song.startGroupAt(0));
    EXPECT_TRUE(song.startGroupAt(100));
    EXPECT_TRUE(song.event(1)->start);
    EXPECT_EQ(song.numGroups, 2u);
}

TEST_F(GroupStarts, EveryStartBeyond4000IsLogged) {
    SmfWriter w;
    for (uint32_t i = 0; i < 4003; ++i) w.note(i * 10, 5, 60);
    ASSERT_TRUE(load(w));
    for (uint32_t i = 0; i < 4003; ++i) ASSERT_TRUE(song.startGroupAt(i * 10));
    EXPECT_EQ(dir.log(), "numGroups: 4001\nnumGroups: 4002\nnumGroups: 4003\n");
}

// A song's parts and their roles in the whole program: chosen from the Parts menu, kept in the
// metadata file across a song switch, grouping only the performer's notes, played by the tap
// (Play), by the scheduler in the performer's tempo (Follow) or not at all (Mute), and drawn
// pale (Follow) or not drawn (Mute).

#include <algorithm>
#include <iterator>
#include <map>
#include <string>

#include "EngineTest.h"
#include "config/Cfg.h"
#include "support/SmfWriter.h"
#include "ui/Menus.h"
#include "ui/Scene.h"

namespace {

constexpr uint8_t bassChannel = 1;

// Right hand in track 0 (a piano on channel 1): a note every half second. Left hand in track 1
// (an acoustic bass on channel 2): a note every quarter second, each an eighth of a second long.
SmfWriter twoHands() {
    SmfWriter w;
    w.program(0, 0, 0);
    for (uint8_t k = 0; k < 4; ++k) w.note(480 * k, 240, 72 + k, 100, 0);
    w.track().program(0, 32, bassChannel);
    for (uint8_t k = 0; k < 8; ++k) w.note(240 * k, 120, 36 + k, 100, bassChannel);
    return w;
}

bool isNote(const MidiMessage& m) { return (m.status & 0xE0) == 0x80; }
bool onBass(const MidiMessage& m) { return isNote(m) && (m.status & 0x0F) == bassChannel; }

std::vector<MidiMessage> notesOf(const std::vector<MidiMessage>& sent) {
    std::vector<MidiMessage> notes;
    std::copy_if(sent.begin(), sent.end(), std::back_inserter(notes), isNote);
    return notes;
}

std::vector<std::string> labels(const std::vector<MenuEntry>& entries) {
    std::vector<std::string> result;
    for (const MenuEntry& entry : entries) result.push_back(entry.label);
    return result;
}

}  // namespace

class PartsInTheProgram : public EngineTest {
protected:
    PartsInTheProgram() {
        SmfWriter hands = twoHands();
        hands.save(handsPath);
        SmfWriter().note(0, 240, 60).save(otherPath);
        open(handsPath);
    }
    void open(const std::string& path) {
        n.cfg_->currentSong = path;
        n.loadCurrentSong();
    }
    uint32_t bassPart() const {
        for (uint32_t i = 0; i < n.song->numInstruments; ++i)
            if (n.song->instruments[i].channel == bassChannel) return i;
        return 0;
    }
    void chooseBass() { n.selectPart(static_cast<int>(bassPart())); }
    std::vector<uint8_t> groupChannels() const {
        std::vector<uint8_t> channels;
        for (uint32_t i = 0; i < n.song->numEvents; ++i)
            if (n.song->events[i].start) channels.push_back(n.song->events[i].chan);
        return channels;
    }
    void playEverythingDue() { n.scheduler.runDue(1e12); }
    // Listening from the start with every event due at once.
    void listenToEverything() {
        n.goToStart();
        n.meta->zoom = 1e6;
        n.startListening();
        n.scheduler.runDue(1e300);
    }

    std::string handsPath = dir.file("hands.mid");
    std::string otherPath = dir.file("other.mid");
};

TEST_F(PartsInTheProgram, RolesAreChosenFromTheMenuSavedBeforeTheGroupsAndKeptAcrossASongSwitch) {
    const std::string allPlay = dir.read("hands.mid.mta");
    EXPECT_EQ(groupChannels().size(), 8u) << "every eighth note starts a group while both hands play";
    EXPECT_EQ(labels(partEntries(n)), (std::vector<std::string>{"Track 1, Channel 1, Acoustic Grand Piano: Play",
                                                                "Track 2, Channel 2, Acoustic Bass: Play"}));

    chooseBass();
    EXPECT_EQ(n.meta->parts.role(bassPart()), Role::Follow);
    EXPECT_EQ(groupChannels(), std::vector<uint8_t>(4, 0)) << "only the right hand's notes start groups";
    EXPECT_EQ(partEntries(n)[1].label, "Track 2, Channel 2, Acoustic Bass: Follow");
    EXPECT_EQ(partEntries(n)[1].value, static_cast<int>(bassPart()));
    EXPECT_TRUE(n.menusDirty);
    n.group();
    n.ungroup();
    EXPECT_EQ(groupChannels(), std::vector<uint8_t>(4, 0)) << "the group edits join and split melody notes";

    open(otherPath);
    EXPECT_TRUE(n.meta->parts.allPlay());
    const std::string saved = dir.read("hands.mid.mta");
    EXPECT_NE(saved.find("HARMONICCOLORING 0\nPART 1 1 FOLLOW\nNOTE_GROUPS 4\n"), std::string::npos) << saved;

    open(handsPath);
    EXPECT_EQ(n.meta->parts.role(bassPart()), Role::Follow);
    EXPECT_EQ(groupChannels(), std::vector<uint8_t>(4, 0));

    chooseBass();
    EXPECT_EQ(n.meta->parts.role(bassPart()), Role::Mute);
    chooseBass();
    EXPECT_TRUE(n.meta->parts.allPlay());
    n.meta->save(*n.song);
    EXPECT_EQ(dir.read("hands.mid.mta"), allPlay) << "back to all Play, the file is as a new song's";
}

TEST_F(PartsInTheProgram, AFileNamingRolesAndGroupsIsTakenAsItStands) {
    open(otherPath);  // leaving the song saves its file, which is replaced here
    dir.write("hands.mid.mta", "PART 1 1 MUTE\nPART 7 0 FOLLOW\nPART 1\nNOTE_GROUPS 2\n0\n960\n");
    open(handsPath);
    EXPECT_EQ(n.meta->parts.role(bassPart()), Role::Mute);
    EXPECT_EQ(groupChannels(), std::vector<uint8_t>(2, 0));
    EXPECT_EQ(logCount("ERROR: PART 7 0 names no part of the song\n"), 1);
    EXPECT_EQ(logCount("ERROR: PART meta tag not followed by track, channel and FOLLOW or MUTE\n"), 1);
    EXPECT_EQ(logCount("unexpected tag"), 0) << "the malformed line leaves NOTE_GROUPS to be read";
}

TEST_F(PartsInTheProgram, ATapSendsThePlayedNotesAndTheSchedulerTheFollowedOnes) {
    chooseBass();
    takeSent();
    n.midiIn(0x90, 60, 50);
    EXPECT_EQ(notesOf(takeSent()), (std::vector<MidiMessage>{noteOn(bassChannel, 36, 100), noteOn(0, 72, 50)}))
        << "the bass under the tap at once and unscaled, the melody at the tap's velocity";
    EXPECT_EQ(n.scheduler.pending(), 3u) << "the rest of the bass up to the next melody note";
    n.midiIn(0x80, 60, 0);
    EXPECT_EQ(takeSent(), (std::vector<MidiMessage>{noteOff(0, 72)})) << "the release ends the melody only";
    playEverythingDue();
    EXPECT_EQ(takeSent(), (std::vector<MidiMessage>{noteOff(bassChannel, 36), noteOn(bassChannel, 37, 100),
                                                    noteOff(bassChannel, 37)}));
}

TEST_F(PartsInTheProgram, QuickTapsToTheEndLeaveNoFollowedNoteHangingAndSilencesCancelTheRest) {
    chooseBass();
    for (int k = 0; k < 4; ++k) n.tap(1, 0);  // Q-like: never released, as fast as can be
    n.release(1);
    playEverythingDue();
    std::map<int, int> open;
    int bassOns = 0;
    for (const MidiMessage& m : takeSent()) {
        if (!onBass(m)) continue;
        open[m.data1] += (m.status & 0xF0) == 0x90 ? 1 : -1;
        bassOns += (m.status & 0xF0) == 0x90;
    }
    EXPECT_EQ(bassOns, 8);
    for (const auto& [pitch, count] : open) EXPECT_EQ(count, 0) << pitch;
    EXPECT_EQ(logCount("ERROR: trackNote"), 0);

    n.goToStart();
    n.tap(1, 0);
    EXPECT_GT(n.scheduler.pending(), 0u);
    n.nextNote();
    EXPECT_EQ(n.scheduler.pending(), 0u) << "a jump silences and cancels what waits";
    n.tap(1, 0);
    const int32_t at = n.position;
    n.startListening();
    const uint32_t waiting = n.scheduler.pending();
    n.stopListening();
    n.position = at;
    n.startListening();
    EXPECT_EQ(waiting, n.scheduler.pending()) << "so does listening: only its own events wait";
}

TEST_F(PartsInTheProgram, AFollowedPartIsDrawnPaleAndHeardInListeningAMutedOneIsNeitherDrawnNorSent) {
    chooseBass();
    std::vector<Bar> bars = overviewBars(n.viewFrame());
    ASSERT_EQ(bars.size(), 12u);
    const Instrument& bass = n.song->instruments[bassPart()];
    for (const Bar& bar : bars) {
        if (bar.y0 >= overviewRowBottom(n.viewFrame(), 60)) continue;
        EXPECT_TRUE(bar.colour.r == bass.paleColor.r && bar.colour.g == bass.paleColor.g &&
                    bar.colour.b == bass.paleColor.b);
    }

    takeSent();
    listenToEverything();
    std::vector<MidiMessage> sent = takeSent();
    EXPECT_EQ(std::count_if(sent.begin(), sent.end(), onBass), 16) << "listening plays the followed bass";

    chooseBass();
    EXPECT_EQ(overviewBars(n.viewFrame()).size(), 4u);
    for (int k = 0; k < 5; ++k) {
        n.tap(1, 0);
        n.release(1);
    }
    listenToEverything();
    playEverythingDue();
    sent = takeSent();
    EXPECT_EQ(std::count_if(sent.begin(), sent.end(), onBass), 0);
    EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [](const MidiMessage& m) { return m.status == 0xC1; }), 0)
        << "nor is its program change";
}

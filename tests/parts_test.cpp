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
#include "song/HandSplit.h"
#include "support/SmfWriter.h"
#include "tools/DemoSong.h"
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

const std::string separator = "---------------------------------";

// The demo song with both hands in one track and on one channel, as a keyboard records it.
SmfWriter mergedDemo() {
    std::vector<demo::Note> notes = demo::rightHand();
    const std::vector<demo::Note> left = demo::leftHand();
    notes.insert(notes.end(), left.begin(), left.end());
    std::stable_sort(notes.begin(), notes.end(), [](const demo::Note& a, const demo::Note& b) { return a.ticks < b.ticks; });
    SmfWriter w;
    w.program(0, 0);
    for (const demo::Note& n : notes) w.note(n.ticks, n.length, n.pitch, n.velocity);
    return w;
}

// A left hand of two-note chords (C3, E3) under a melody from E4 to B4, a beat each, except that on
// every crossing-th beat the left hand crosses over the right to play G5.
SmfWriter crossingHands(uint32_t crossing) {
    SmfWriter w;
    for (uint32_t beat = 0; beat < 16; ++beat) {
        const uint32_t at = beat * 480;
        if (beat % crossing == crossing - 1) {
            w.note(at, 480, 67).note(at, 480, 79);
            continue;
        }
        w.note(at, 480, 48).note(at, 480, 52).note(at, 480, static_cast<uint8_t>(64 + beat % 8));
    }
    return w;
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
                                                                "Track 2, Channel 2, Acoustic Bass: Play", separator,
                                                                "Split into two hands"}));

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

TEST_F(PartsInTheProgram, APartSplitAtMiddleCFromTheMenuPlaysItsHandsByTheirRolesKeepsThemInTheFileAndJoins) {
    ASSERT_TRUE(mergedDemo().save(dir.file("demo.mid")));
    open(dir.file("demo.mid"));
    const std::string allPlay = dir.read("demo.mid.mta");
    const std::string piano = "Track 1, Channel 1, Acoustic Grand Piano";
    EXPECT_EQ(labels(partEntries(n)), (std::vector<std::string>{piano + ": Play", separator, "Split into two hands"}));
    EXPECT_EQ(labels(handEntries(n)), std::vector<std::string>{piano});
    EXPECT_EQ(labels(handChoiceEntries(n)[0]),
              (std::vector<std::string>{"        Split at C3", "        Split at G3", "        Split at C4 (middle C)",
                                        "        Split at G4", "        Split at C5", "        Split automatically"}));

    n.selectPart(partMenuValue(0, PartAction::SplitAt, 2));
    n.selectPart(partMenuValue(0, PartAction::CycleLow));
    EXPECT_EQ(labels(partEntries(n)),
              (std::vector<std::string>{piano + ", below C4 (left hand): Follow", piano + ", C4 and above (right hand): Play",
                                        separator, "Split into two hands"}));
    EXPECT_EQ(labels(handEntries(n)), std::vector<std::string>{piano + ": split at C4"});
    EXPECT_EQ(handChoiceEntries(n)[0][2].label, ">>>Split at C4 (middle C)");
    EXPECT_EQ(handChoiceEntries(n)[0].back().label, "        Join the hands");
    const Parts& parts = n.meta->parts;
    int groupStarts = 0;
    for (uint32_t i = 0; i < n.song->numEvents; ++i) {
        const Event& e = n.song->events[i];
        const Role expected = e.isNote() && e.pitch < 60 ? Role::Follow : Role::Play;
        EXPECT_EQ(parts.roleOf(e), expected) << "event " << i << ": the program goes with the right hand";
        if (!e.start) continue;
        ++groupStarts;
        EXPECT_GE(e.pitch, 60) << "a chord of both hands starts its group on the right hand's note";
    }
    EXPECT_EQ(groupStarts, static_cast<int>(demo::rightHand().size()) - 1) << "every melody note but its one G3";

    takeSent();
    n.tap(1, 0);
    const std::vector<MidiMessage> sent = notesOf(takeSent());
    EXPECT_EQ(std::count(sent.begin(), sent.end(), noteOn(0, demo::E4, 88)), 1);
    EXPECT_TRUE(std::all_of(sent.begin(), sent.end(), [](const MidiMessage& m) { return m.data1 == demo::E4 || m.data1 < 60; }));
    EXPECT_GT(n.scheduler.pending(), 0u) << "the rolled chord's later notes follow";

    open(otherPath);
    EXPECT_NE(dir.read("demo.mid.mta").find("HARMONICCOLORING 0\nSPLIT 0 0 60\nPART 0 0 LOW FOLLOW\nNOTE_GROUPS 61\n"),
              std::string::npos)
        << dir.read("demo.mid.mta");
    open(dir.file("demo.mid"));
    EXPECT_TRUE(parts.isSplit(0) && parts.splitPitch(0) == 60 && parts.halfRole(0, Half::Low) == Role::Follow);

    n.selectPart(partMenuValue(0, PartAction::CycleHigh));
    n.selectPart(partMenuValue(0, PartAction::CycleHigh));
    EXPECT_EQ(parts.roleOf(n.song->events[0]), Role::Follow) << "the program goes with the left hand while the right is muted";
    const std::vector<Bar> bars = overviewBars(n.viewFrame());
    EXPECT_EQ(bars.size(), demo::leftHand().size() + 1) << "the muted hand is not drawn; the melody's G3 is the left's";
    const Color pale = n.song->instruments[0].paleColor;
    EXPECT_TRUE(std::all_of(bars.begin(), bars.end(), [&](const Bar& b) { return b.colour.g == pale.g && b.colour.r == pale.r; }))
        << "the following hand is drawn pale";
    n.selectPart(partMenuValue(0, PartAction::CycleHigh));
    n.selectPart(partMenuValue(0, PartAction::Join));
    EXPECT_EQ(parts.role(0), Role::Play) << "the joined part takes the role its program had";
    EXPECT_TRUE(parts.allPlay());
    n.goToStart();
    n.meta->save(*n.song);
    EXPECT_EQ(dir.read("demo.mid.mta"), allPlay) << "joined and played, the file is as a new song's";

    n.selectPart(-1);
    n.selectPart(partMenuValue(1, PartAction::Cycle));
    n.selectPart(partMenuValue(0, PartAction::Join) + partValueStep);
    EXPECT_TRUE(parts.allPlay() && !parts.isSplit(0)) << "values no entry carries change nothing";
    Nolari songless;
    EXPECT_EQ(labels(partEntries(songless)), std::vector<std::string>{"(no parts)"}) << "never an empty submenu";
}

TEST_F(PartsInTheProgram, TheAutomaticSplitFallsBetweenTheHandsAndStaysThereWhenTheyCross) {
    ASSERT_TRUE(mergedDemo().save(dir.file("demo.mid")));
    open(dir.file("demo.mid"));
    const uint8_t split = automaticSplit(*n.song, 0);
    EXPECT_EQ(split, 60) << "above every left-hand note (G3 at most), at the right hand's lowest but its one G3";
    n.selectPart(partMenuValue(0, PartAction::SplitAutomatically));
    EXPECT_TRUE(n.meta->parts.isSplit(0) && n.meta->parts.splitPitch(0) == 60);

    auto splitOf = [this](SmfWriter song) {
        Song loaded;
        return song.save(dir.file("auto.mid")) && loaded.load(dir.file("auto.mid")) ? automaticSplit(loaded, 0) : 0;
    };
    EXPECT_EQ(splitOf(crossingHands(4)), 60) << "the left hand crossing over the right every fourth beat";
    EXPECT_EQ(splitOf(crossingHands(2)), 60) << "and every other beat";
    SmfWriter high;
    for (uint32_t k = 0; k < 8; ++k)
        high.note(k * 480, 480, 62).note(k * 480, 480, 65).note(k * 480, 480, 69).note(k * 480, 480, 79 + k % 2 * 2);
    EXPECT_EQ(splitOf(high), 70) << "a chord within reach stays in one hand, even far from middle C";
    SmfWriter apart;
    for (uint32_t k = 0; k < 8; ++k) apart.note(k * 240, 240, static_cast<uint8_t>(36 + k % 4)).note(k * 240, 240, 84);
    EXPECT_EQ(splitOf(apart), 60) << "far apart, the hands part at middle C";
    EXPECT_EQ(splitOf(SmfWriter().note(0, 240, 40).note(240, 240, 40)), 60) << "one pitch";
}

TEST_F(PartsInTheProgram, ANoteEndedInAnotherTrackEndsWithItsOwnPartsRoleAndNamesAreShownAsGlutDrawsThem) {
    SmfWriter w;
    w.text(0, 0x03, "Caf\xC3\xA9 \xE2\x82\xAC").on(0, 60);
    w.track().off(240, 60).note(480, 240, 40);
    ASSERT_TRUE(w.save(dir.file("split.mid")));
    open(dir.file("split.mid"));
    EXPECT_EQ(partEntries(n)[0].label, "Track 1 \"Caf\xC3\xA9 \xE2\x82\xAC\", Channel 1, Acoustic Grand Piano: Play");
    EXPECT_EQ(bitmapText(partEntries(n)[0].label), "Track 1 \"Caf\xE9 ?\", Channel 1, Acoustic Grand Piano: Play");
    EXPECT_EQ(bitmapText("a\x01\xC3\x28\xE2\x82"), "a?" "?(?");
    n.selectPart(static_cast<int>(n.meta->parts.find(1, 0)));
    n.selectPart(static_cast<int>(n.meta->parts.find(1, 0)));
    takeSent();
    n.tap(1, 0);
    n.release(1);
    EXPECT_EQ(notesOf(takeSent()), (std::vector<MidiMessage>{noteOn(0, 60, 100), noteOff(0, 60)}))
        << "the Note Off in the muted track's part ends the note";
}

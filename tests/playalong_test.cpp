// Playing along in the whole program: the beats a song's time signatures and tempi lay down, the
// metronome's clicks (a count-in, along with the performer) and what they never are (recorded,
// counted as sounding), an intro the first tap skips, the tempo kept round the loop, and a long
// stretch of followed notes handed over whole.

#include <algorithm>
#include <map>
#include <string>

#include "EngineTest.h"
#include "config/Cfg.h"
#include "support/SmfWriter.h"

namespace {

constexpr uint8_t bass = 1;
constexpr uint8_t click = 0x99;

std::string timeSignature(uint8_t numerator, uint8_t power) { return std::string{char(numerator), char(power), 24, 8}; }

int count(const std::vector<MidiMessage>& sent, uint8_t status, int data1 = -1) {
    return static_cast<int>(std::count_if(sent.begin(), sent.end(), [&](const MidiMessage& m) {
        return m.status == status && (data1 < 0 || m.data1 == data1);
    }));
}

}  // namespace

class PlayingAlong : public EngineTest {
protected:
    // Track 1: the melody, one note every half second from `first`; track 2 (channel 2): the bass.
    void open(SmfWriter song, bool followBass = true) {
        song.save(path);
        n.cfg_->currentSong = path;
        n.loadCurrentSong();
        for (uint32_t i = 0; followBass && i < n.song->numInstruments; ++i)
            if (n.song->instruments[i].channel == bass) n.selectPart(static_cast<int>(i));
        takeSent();
    }
    static SmfWriter melody(int notes, uint32_t first = 0) {
        SmfWriter w;
        for (int k = 0; k < notes; ++k) w.note(first + 480 * k, 240, static_cast<uint8_t>(72 + k));
        return w;
    }
    void playAll() { n.scheduler.runDue(1e300); }

    std::string path = dir.file("along.mid");
};

TEST(Beats, FollowTimeSignaturesAndTempoChangesFromAPickupBarOn) {
    SmfWriter w;
    w.text(0, 0x58, timeSignature(1, 2)).text(480, 0x58, timeSignature(4, 2)).tempo(2400, 1000000);
    w.text(2400, 0x58, timeSignature(3, 2)).text(3840, 0x58, timeSignature(6, 3)).track().note(0, 240, 60);
    const TestDir dir;
    ASSERT_TRUE(w.save(dir.file("beats.mid")));
    Song song;
    ASSERT_TRUE(song.load(dir.file("beats.mid")));
    const TempoMap& map = song.tempoMap;

    std::vector<std::pair<double, bool>> beats;
    for (Beat b = map.beatAtOrAfter(0.0); b.time < 9.0; b = map.nextBeat(b)) beats.push_back({b.time, b.barStart});
    const std::vector<std::pair<double, bool>> expected = {{0, true},    {0.5, true},  {1, false},  {1.5, false},
                                                           {2, false},   {2.5, true},  {3.5, false}, {4.5, false},
                                                           {5.5, true},  {7, false},   {8.5, true}};
    EXPECT_EQ(beats, expected) << "1/4, 4/4, 3/4 at half the tempo, then 6/8 in dotted quarters";
    EXPECT_EQ(map.beatsPerBar(0.0), 4u) << "a count-in before a pickup counts the bar after it";
    EXPECT_DOUBLE_EQ(map.beatsPerMinute(6.0), 40.0);
    EXPECT_DOUBLE_EQ(map.previousBeat(map.beatAtOrAfter(0.0)).time, -0.5) << "before the start, the first tempo";
    EXPECT_DOUBLE_EQ(map.seconds(map.ticks(6.25)), 6.25);
}

TEST_F(PlayingAlong, AFirstTapSkipsAnIntroItDidNotWaitForWhichACountInPlaysInTime) {
    SmfWriter song = melody(2, 3840);
    song.track().program(0, 32, bass).controller(0, 7, 90, bass);
    for (uint8_t k = 0; k < 16; ++k) song.note(240u * k, k == 14 ? 720 : 120, 36 + k, 90, bass);
    song.note(3840, 120, 60, 90, bass);
    open(song);

    n.tap(1, 0);
    playAll();
    const std::vector<MidiMessage> sent = takeSent();
    EXPECT_EQ(count(sent, 0x91), 1) << "only the bass note under the tapped group, not the 4-second intro";
    EXPECT_EQ(count(sent, 0xC1, 32) + count(sent, 0xB1, 7), 2) << "its program and volume are set";
    EXPECT_EQ(count(sent, 0x81), 1) << "no Note Off for a note never started";
    EXPECT_EQ(logCount("ERROR"), 0);

    n.goToStart();
    takeSent();
    n.countIn();
    playAll();
    const std::vector<MidiMessage> led = takeSent();
    EXPECT_EQ(count(led, 0x91), 16) << "the intro, in time before the group";
    std::vector<double> clicks;
    for (const MidiMessage& m : led)
        if (m.status == click) clicks.push_back(m.due);
    ASSERT_EQ(clicks.size(), 8u) << "a click on every beat of the intro";
    for (size_t k = 1; k < clicks.size(); ++k) EXPECT_NEAR(clicks[k] - clicks[k - 1], 0.5, 1e-9);
}

TEST_F(PlayingAlong, ClicksFollowThePerformerAndAreNeitherRecordedNorSoundingAndASilenceEndsThem) {
    open(melody(8), false);
    n.selectMetronome(static_cast<int>(MetronomeMode::On));
    n.tap(1, 0);
    n.scheduler.runDue(n.scheduler.nextDue());
    EXPECT_EQ(n.soundingCount(), 1) << "the melody's note, not the click sounding with it";
    playAll();
    n.tap(2, 0);
    playAll();
    const std::vector<MidiMessage> sent = takeSent();
    EXPECT_EQ(count(sent, click, Metronome::accentNote), 1) << "the first beat of the bar";
    EXPECT_EQ(count(sent, click, Metronome::beatNote), 1) << "the second";
    EXPECT_EQ(count(sent, 0x89), 2);
    const Take take = n.take.handOver();
    EXPECT_FALSE(take.empty());
    for (const TakeMessage& m : take.messages) EXPECT_NE(m.message.status & 0xEF, 0x89);

    n.selectMetronome(static_cast<int>(MetronomeMode::Off));
    n.goToStart();
    n.countIn();
    n.scheduler.runDue(n.scheduler.nextDue());
    EXPECT_EQ(takeSent().back().status, click) << "a click sounds";
    n.allNotesOff();
    EXPECT_EQ(count(takeSent(), 0x89), 1);
    EXPECT_EQ(n.scheduler.pending(), 0u);
}

TEST_F(PlayingAlong, GoingRoundTheLoopKeepsThePerformersTempo) {
    SmfWriter song = melody(8);
    song.track();
    for (uint8_t k = 0; k < 16; ++k) song.note(240u * k, 120, 36 + k, 90, bass);
    open(song);
    n.meta->setMarker(0);
    n.meta->setMarker(8);
    n.toggleLoop();
    for (int k = 0; k < 5; ++k) n.tap(-1, 0);  // far faster than the song
    EXPECT_GT(n.followers.tracker().taps(), 1u) << "the fifth tap went round and went on";
    EXPECT_LT(n.followers.tracker().ratio(), 0.5) << "not the song's own tempo again";
}

TEST_F(PlayingAlong, FiveThousandOverlappingFollowedNotesAllEnd) {
    SmfWriter song = melody(1);
    song.track();
    for (uint32_t k = 0; k < 5000; ++k) song.on(k, static_cast<uint8_t>(k % 128), 90, bass);
    for (uint32_t k = 0; k < 5000; ++k) song.off(6000 + k, static_cast<uint8_t>(k % 128), bass);
    open(song);
    n.tap(1, 0);
    playAll();
    std::map<int, int> open;
    for (const MidiMessage& m : takeSent())
        if ((m.status & 0x0F) == bass) open[m.data1] += (m.status & 0xF0) == 0x90 ? 1 : -1;
    for (const auto& [pitch, notes] : open) EXPECT_EQ(notes, 0) << pitch;
    n.threadLog.flush();
    EXPECT_EQ(logCount("scheduler full"), 0);
}

#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include "EngineTest.h"
#include "config/Cfg.h"
#include "perform/TakeFile.h"
#include "support/SmfWriter.h"

namespace {

double fakeNow = 0.0;
double fakeClock() { return fakeNow; }

// What mido, an independent reader, sees in the file: one line per item (tests/e2e/midofile.py).
std::string readWithMido(const std::string& path) {
    const std::string source = __FILE__;
    const std::string script = source.substr(0, source.rfind('/')) + "/e2e/midofile.py";
    FILE* pipe = popen(("python3 '" + script + "' '" + path + "' 2>&1").c_str(), "r");
    if (!pipe) return "python3 did not start";
    std::string out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
    return out;
}

struct ReadNote {
    uint8_t pitch;
    uint8_t velocity;
    double on;
    double off;
};

// The notes of a take as the program's own reader loads it; a Note On left without its Note Off
// shows an end of -1.
std::vector<ReadNote> readNotes(const Song& song) {
    std::vector<ReadNote> notes;
    for (uint32_t i = 0; i < song.numEvents; ++i) {
        const Event& e = song.events[i];
        if (e.isNoteOn()) notes.push_back({e.pitch, e.vel, e.time, e.other ? e.other->time : -1.0});
    }
    return notes;
}

// Two groups: 60 at 0 s and 62 at 1 s.
SongBuilder twoGroups() { return SongBuilder().note(0, 0.5, 60, 100, 0, true).note(1, 0.5, 62, 100, 0, true); }

}  // namespace

using TakeRecording = EngineTest;

// Taps from the keys and from MIDI input at known times on the program's clock, through the
// recording back end, saved and read back by the program's reader and by mido.
TEST_F(TakeRecording, AScriptedPerformanceReadsBackAsItWasPlayed) {
    load(SongBuilder()
             .channelEvent(0, 0xC0, 0, 5, 0)
             .note(0, 0.4, 60, 100, 0, true)
             .note(0, 0.4, 64, 80)
             .note(0.5, 0.4, 67, 90, 0, true)
             .note(1.0, 0.4, 72, 100, 0, true));
    TakeRecorder recorder{fakeClock, n.engineLock};
    n.output.setListener(TakeRecorder::listen, &recorder);

    fakeNow = 99.0;
    n.sendProgramChanges();       // programs 0 before the take begins
    n.midiIn(0xB0, 64, 127);      // the performer's pedal, passed through
    fakeNow = 100.0;
    n.tap(1, 0);                  // program 5, then 60 and 64: the take begins
    fakeNow = 100.25;
    n.release(1);
    fakeNow = 100.6;
    n.midiIn(0x90, 40, 64);       // 67 scaled from 90 to 64
    fakeNow = 100.7;
    n.midiIn(0x80, 40, 0);
    fakeNow = 101.2;
    n.tap(1, 0);                  // 72, still held at the save
    fakeNow = 101.5;
    const Take take = recorder.handOver();
    EXPECT_EQ(recorder.size(), 0u);

    const std::string path = dir.file("song-take-1.mid");
    TakeFileSummary summary;
    ASSERT_TRUE(writeTakeFile(path, take, "song.mid take 1", summary));
    EXPECT_EQ(summary.notes, 4);
    EXPECT_DOUBLE_EQ(summary.seconds, 1.5);

    // Channel by channel: program, then the pedal.
    std::string expected = "type 0 tracks 1 division 1000\nname song.mid take 1\n0.000 c005\n0.000 b0407f\n";
    for (char channel : std::string("123456789abcdef")) expected += std::string("0.000 c") + channel + "00\n";
    expected +=
        "0.000 903c64\n0.000 904050\n0.250 803c00\n0.250 804000\n"
        "0.600 904340\n0.700 804300\n1.200 904864\n1.500 804800\n";
    EXPECT_EQ(readWithMido(path), expected);

    Song song;
    ASSERT_TRUE(song.load(path));
    const std::vector<ReadNote> notes = readNotes(song);
    const std::vector<ReadNote> played = {
        {60, 100, 0, 0.25}, {64, 80, 0, 0.25}, {67, 64, 0.6, 0.7}, {72, 100, 1.2, 1.5}};
    ASSERT_EQ(notes.size(), played.size());
    for (size_t i = 0; i < played.size(); ++i) {
        EXPECT_EQ(notes[i].pitch, played[i].pitch);
        EXPECT_EQ(notes[i].velocity, played[i].velocity);
        EXPECT_NEAR(notes[i].on, played[i].on, 0.001);
        EXPECT_NEAR(notes[i].off, played[i].off, 0.001);
    }
    // It opens as a song: its chord and single notes group as they were tapped.
    Meta meta;
    meta.load(path, song);
    EXPECT_EQ(song.numGroups, 3u);
}

// The song sets up its channel before its first note: bank, program, volume, pan, reverb, a bend
// range of 12 semitones (parameter 0, then the null parameter selected) and a bend. Its pedal goes
// down with the first group; a jump silences the output.
TEST_F(TakeRecording, ATakeBeginsInEveryChannelsStateAndKeepsEverySilence) {
    SongBuilder song;
    for (const auto& [status, data1, data2] : std::vector<std::tuple<uint8_t, uint8_t, uint8_t>>{
             {0xB0, 0, 1}, {0xB0, 32, 0}, {0xC0, 5, 0}, {0xB0, 7, 90}, {0xB0, 10, 30}, {0xB0, 91, 70}, {0xB0, 101, 0},
             {0xB0, 100, 0}, {0xB0, 6, 12}, {0xB0, 38, 0}, {0xB0, 101, 127}, {0xB0, 100, 127}, {0xB0, 64, 127}, {0xE0, 0, 0x48}})
        song.channelEvent(0, status, 0, data1, data2);
    load(song.note(0, 0.4, 60, 100, 0, true).note(0.5, 0.4, 62, 100, 0, true).note(1, 0.4, 64, 100, 0, true));
    n.meta->sendPedalEvents = true;
    const auto hex = [](const Take& take) {
        std::string text;
        char message[8];
        for (const TakeMessage& m : take.messages) {
            std::snprintf(message, sizeof message, " %02x%02x%02x", m.message.status, m.message.data1, m.message.data2);
            text += message;
        }
        return text + " ";
    };
    n.tap(1, 0);
    n.release(1);
    n.nextNote();
    const std::string first = hex(n.take.handOver());
    EXPECT_EQ(first.rfind(" b00001 b02000 c00500 b0075a b00a1e b0407f b05b46 b06500 b06400 b0060c b02600 b0657f b0647f e00048 903c64 ", 0), 0u) << first;
    std::string silence;
    for (const char* channel : {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "a", "b", "c", "d", "e", "f"})
        silence += std::string("b") + channel + "4000 b" + channel + "7b00 ";
    EXPECT_TRUE(first.ends_with(silence)) << first;
    // The next take begins with the pedal as the silence left it: up.
    n.tap(1, 0);
    const std::string second = hex(n.take.handOver());
    EXPECT_NE(second.find(" b04000 "), std::string::npos) << second;
    EXPECT_EQ(second.find(" b0407f "), std::string::npos) << second;
}

using TakeSaving = EngineTest;

TEST_F(TakeSaving, SSavesNumberedTakesBesideTheSongAndStartsANewOne) {
    load(twoGroups());
    n.songPath = dir.file("My Song.MID");
    n.meta->path = n.songPath + ".mta";
    n.keyboardWithModifiers('s', 0);
    EXPECT_EQ(dir.log(), "Nothing to save\n");
    EXPECT_EQ(readFile(n.meta->path), "");

    n.tap(1, 0);  // 60, held at the save
    n.keyboardWithModifiers('S', 0);
    const std::string first = dir.file("My Song-take-1.mid");
    EXPECT_EQ(dir.log(), "Nothing to save\nSaved take " + first + " (1 notes, 0.0 s)\n");
    EXPECT_NE(readFile(n.meta->path), "");
    EXPECT_NE(readFile(first).find("My Song.MID take 1"), std::string::npos);
    Song song;
    ASSERT_TRUE(song.load(first));
    ASSERT_EQ(readNotes(song).size(), 1u);
    EXPECT_GE(readNotes(song)[0].off, 0.0);

    n.release(1);  // ends a note of the saved take: no new take begins
    EXPECT_EQ(n.take.size(), 0u);
    n.tap(1, 0);
    n.release(1);
    dir.clearLog();
    n.keyboardWithModifiers('s', 0);
    EXPECT_EQ(dir.log(), "Saved take " + dir.file("My Song-take-2.mid") + " (1 notes, 0.0 s)\n");

    // A folder that cannot be written to loses nothing: the take goes to LastTake.mid.
    n.songPath = dir.file("missing/song.mid");
    n.goToStart();
    n.tap(1, 0);
    dir.clearLog();
    n.keyboardWithModifiers('s', 0);
    EXPECT_EQ(dir.log(), "ERROR: unable to write the take to " + dir.file("missing/song-take-1.mid") +
                             "\nSaved take " + dir.file("LastTake.mid") + " (1 notes, 0.0 s)\n");
}

TEST_F(TakeSaving, AnUnsavedTakeIsKeptInLastTakeWhenTheSongChanges) {
    SmfWriter().note(0, 100, 60).note(480, 100, 62).save(dir.file("a.mid"));
    SmfWriter().note(0, 100, 70).save(dir.file("b.mid"));
    n.cfg_->currentSong = dir.file("a.mid");
    n.loadCurrentSong();
    n.tap(1, 0);
    n.release(1);
    n.tap(1, 0);
    n.cfg_->currentSong = dir.file("b.mid");
    n.loadCurrentSong();

    const std::string lastTake = dir.file("LastTake.mid");
    EXPECT_NE(dir.log().find("Saved take " + lastTake + " (2 notes, "), std::string::npos) << dir.log();
    Song song;
    ASSERT_TRUE(song.load(lastTake));
    const std::vector<ReadNote> notes = readNotes(song);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].pitch, 60);
    EXPECT_EQ(notes[1].pitch, 62);
    EXPECT_GE(notes[1].off, notes[1].on);
    EXPECT_EQ(n.take.size(), 0u);

    // Nothing played on the next song: the last take stays.
    const std::string kept = readFile(lastTake);
    n.cfg_->currentSong = dir.file("a.mid");
    n.loadCurrentSong();
    EXPECT_EQ(readFile(lastTake), kept);
}

TEST(TakeRecorderRoom, GrowsFromTheTimerAndStopsCleanlyWhenFull) {
    TestDir dir;
    std::recursive_mutex lock;
    TakeRecorder recorder{fakeClock, lock, 4, 2};
    fakeNow = 5.0;
    recorder.record({0xC7, 7, 0}, 0);  // before the take: only remembered for its start
    EXPECT_EQ(recorder.size(), 0u);
    recorder.record({0x90, 60, 100}, 0);
    EXPECT_EQ(recorder.size(), 2u);
    recorder.tick();  // less than a block of room left: the second block is added
    for (uint8_t pitch = 61; pitch <= 67; ++pitch) {
        fakeNow += 0.1;
        recorder.record({0x90, pitch, 100}, 0);
    }
    EXPECT_TRUE(recorder.stopped());
    EXPECT_EQ(recorder.size(), 8u);
    recorder.tick();
    recorder.tick();
    EXPECT_EQ(dir.log(), "The take is full (8 messages): recording stopped until it is saved\n");

    const Take take = recorder.handOver();
    ASSERT_EQ(take.messages.size(), 8u);
    EXPECT_DOUBLE_EQ(take.end, fakeNow);
    TakeFileSummary summary;
    ASSERT_TRUE(writeTakeFile(dir.file("full.mid"), take, "full", summary));
    Song song;
    ASSERT_TRUE(song.load(dir.file("full.mid")));
    const std::vector<ReadNote> notes = readNotes(song);
    ASSERT_EQ(notes.size(), 7u);
    for (const ReadNote& note : notes) EXPECT_NEAR(note.off, 0.7, 0.001);  // ended where recording stopped

    // A new take records again, starting with the program remembered.
    recorder.record({0x90, 70, 100}, 0);
    EXPECT_EQ(recorder.size(), 2u);
    EXPECT_FALSE(recorder.stopped());
}

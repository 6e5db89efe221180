// Reading Standard MIDI Files into the song's one sorted event array.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "song_test_fixture.h"

namespace {

using Reader = SongFixture;

std::string patched(std::string bytes, std::size_t at, const std::string& with) {
    bytes.replace(at, with.size(), with);
    return bytes;
}

// Offsets in a file made by SmfWriter.
constexpr std::size_t headerLengthAt = 4, formatAt = 8, numTracksAt = 10, firstTrackAt = 14, firstTrackLengthAt = 18;

}  // namespace

TEST_F(Reader, VelocityZeroNoteOnIsStoredAsNoteOff) {
    SmfWriter w;
    w.on(0, 60, 100, 2).on(10, 60, 0, 2);
    ASSERT_TRUE(load(w));
    ASSERT_EQ(song.numEvents, 2u);
    const Event* on = song.event(0);
    const Event* off = song.event(1);
    EXPECT_TRUE(on->isNoteOn());
    EXPECT_EQ(off->stat, 0x80);
    EXPECT_TRUE(off->isNoteOff());
    EXPECT_EQ(off->chan, 2);
    EXPECT_EQ(off->pitch, 60);
    EXPECT_EQ(off->ticks, 10u);
    EXPECT_EQ(on->other, off);
    EXPECT_TRUE(on->isFirst && !on->isLast);
    EXPECT_TRUE(off->isLast && !off->isFirst);
    EXPECT_EQ(song.lastEvent, off);
    EXPECT_EQ(song.event(2), nullptr);
}

TEST_F(Reader, RunningStatusRepeatsTheLastChannelStatus) {
    SmfWriter w;
    w.on(0, 60).event(10, {62, 90}).event(20, {60, 0}).event(30, {62, 0});
    ASSERT_TRUE(load(w));
    ASSERT_EQ(song.numEvents, 4u);
    EXPECT_TRUE(song.event(1)->isNoteOn());
    EXPECT_EQ(song.event(1)->pitch, 62);
    EXPECT_EQ(song.event(1)->vel, 90);
    EXPECT_TRUE(song.event(2)->isNoteOff());
    EXPECT_EQ(song.event(3)->ticks, 30u);
}

TEST_F(Reader, AfterAMetaEventADataByteIsReadAsTheNextMetaType) {
    SmfWriter w;
    // The running status is now 0xFF, so 0x51 is a meta type: a Set Tempo of 500000.
    w.on(0, 60).text(5, 0x01, "verse").event(10, {0x51, 0x03, 0x07, 0xA1, 0x20}).off(20, 60);
    ASSERT_TRUE(load(w));
    ASSERT_EQ(song.numEvents, 3u);
    const Event* tempo = song.event(1);
    EXPECT_EQ(tempo->type, TYPE_TEMPO);
    EXPECT_EQ(tempo->tempo, 500000u);
    EXPECT_EQ(tempo->ticks, 10u);
}

TEST_F(Reader, TempoEventsCarryTheirFieldsAndOtherMetaEventsAreDropped) {
    SmfWriter w;
    w.text(0, 0x03, "piano").tempo(0, 600000).text(0, 0x01, std::string(300, 'x')).on(5, 60).off(9, 60);
    ASSERT_TRUE(load(w));
    ASSERT_EQ(song.numEvents, 3u);
    const Event* tempo = song.event(0);
    EXPECT_EQ(tempo->type, TYPE_TEMPO);
    EXPECT_EQ(tempo->stat, 0xF0);
    EXPECT_EQ(tempo->chan, 15);
    EXPECT_EQ(tempo->pitch, 0x51);
    EXPECT_EQ(tempo->tempo, 600000u);
    EXPECT_EQ(song.event(1)->tempo, 0u);
    EXPECT_EQ(song.event(1)->pitch, 60);
}

TEST_F(Reader, EachTrackKeepsItsFirstNameTrimmedShortenedAndSafeToShow) {
    SmfWriter w;
    w.text(0, 0x03, " \t Right Hand  ").text(0, 0x03, "Second name").note(0, 10, 72);
    w.track().note(0, 10, 48);
    w.track().text(0, 0x03, std::string("Bass\0\0\0", 7)).text(5, 0x01, "not a name");
    w.track().text(0, 0x03, "Caf\xC3\xA9\x01\x1B[1m \xE9t\xE9 \xC0\xAF\xED\xA0\x80");
    w.track().text(0, 0x03, std::string(60, 'x'));
    std::string euros;
    for (int k = 0; k < 34; ++k) euros += "\xE2\x82\xAC";
    w.track().text(0, 0x03, euros);
    ASSERT_TRUE(load(w));
    std::string firstEuros;
    for (int k = 0; k < 33; ++k) firstEuros += "\xE2\x82\xAC";
    EXPECT_EQ(song.trackNames, (std::vector<std::string>{"Right Hand", "", "Bass",
                                                         "Caf\xC3\xA9  [1m \xC3\xA9t\xC3\xA9 \xC3\x80\xC2\xAF\xC3\xAD\xC2\xA0",
                                                         std::string(40, 'x'), firstEuros}))
        << "UTF-8 kept, other bytes read as Latin-1, controls blank, at most 40 characters, a character cut by "
           "the 100-byte buffer dropped";
    EXPECT_EQ(song.trackName(1), "");
    EXPECT_EQ(song.trackName(99), "");
    ASSERT_FALSE(song.load(dir.file("missing.mid")));
    EXPECT_TRUE(song.trackNames.empty());
}

TEST_F(Reader, SystemExclusiveIsDroppedAndNeverBecomesATempo) {
    SmfWriter w;
    w.on(0, 60).sysex(5, {0x7E, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0xF7}).off(10, 60);
    ASSERT_TRUE(load(w));
    ASSERT_EQ(song.numEvents, 2u);
    EXPECT_TRUE(song.event(0)->isNoteOn());
    EXPECT_TRUE(song.event(1)->isNoteOff());
    EXPECT_EQ(dir.log(), "");
}

TEST_F(Reader, DataBytesKeepSevenBits) {
    SmfWriter w;
    w.event(0, {0x90, 0xC8, 0xE4}).event(10, {0x80, 0xC8, 0x00});
    ASSERT_TRUE(load(w));
    EXPECT_EQ(song.event(0)->pitch, 0x48);
    EXPECT_EQ(song.event(0)->vel, 0x64);
    EXPECT_EQ(song.event(0)->other, song.event(1));
}

TEST_F(Reader, EqualTicksKeepTrackOrderThenFileOrder) {
    SmfWriter w;
    w.on(0, 60).controller(480, 7, 100).off(480, 60);
    w.track().program(0, 5, 1).on(480, 64, 100, 1).off(960, 64, 1);
    w.track().on(0, 67, 100, 2).off(480, 67, 2);
    ASSERT_TRUE(load(w));
    using Row = std::tuple<uint32_t, uint32_t, int>;
    std::vector<Row> rows;
    for (uint32_t i = 0; i < song.numEvents; ++i) {
        EXPECT_EQ(song.event(i)->index, i);
        rows.emplace_back(song.event(i)->ticks, song.event(i)->track, song.event(i)->stat);
    }
    const std::vector<Row> expected = {{0, 0, 0x90},   {0, 1, 0xC0},   {0, 2, 0x90},   {480, 0, 0xB0},
                                       {480, 0, 0x80}, {480, 1, 0x90}, {480, 2, 0x80}, {960, 1, 0x80}};
    EXPECT_EQ(rows, expected);
}

// Ticks on a coarse grid, so that tracks often meet on one tick, with jumps past 2^24; with the
// longest delta a file can hold among the jumps, each track's ticks wrap around 2^32 many times.
TEST_F(Reader, ManyTracksMergeInTickOrderOverTheWholeTickRange) {
    struct Written {
        uint32_t ticks, track, sequence;
        bool operator<(const Written& o) const { return std::tie(ticks, track, sequence) < std::tie(o.ticks, o.track, o.sequence); }
    };
    for (const uint32_t jump : {5000000u, 0x0FFFFFFFu}) {
        SmfWriter w;
        std::vector<Written> written;
        uint32_t seed = 12345;
        auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 16; };
        const uint32_t steps[] = {0, 100, 200, jump};
        for (uint32_t t = 0; t < 6; ++t) {
            if (t > 0) w.track();
            uint32_t ticks = 0;
            for (uint32_t s = 0; s < 400; ++s) {
                ticks += steps[next() % 4];
                w.controller(ticks, static_cast<uint8_t>(s / 128), static_cast<uint8_t>(s % 128), static_cast<uint8_t>(t));
                written.push_back({ticks, t, s});
            }
        }
        ASSERT_TRUE(load(w));
        std::sort(written.begin(), written.end());
        ASSERT_EQ(song.numEvents, written.size());
        for (uint32_t i = 0; i < song.numEvents; ++i) {
            const Event* e = song.event(i);
            const Written read{e->ticks, e->chan, e->pitch * 128u + e->vel};
            ASSERT_EQ(std::tie(read.ticks, read.track, read.sequence),
                      std::tie(written[i].ticks, written[i].track, written[i].sequence))
                << "at event " << i << " with jumps of " << jump;
            ASSERT_EQ(e->track, e->chan);
            ASSERT_EQ(e->index, i);
        }
        EXPECT_GT(song.lastEvent->ticks, 1u << 24);
    }
}

TEST_F(Reader, EveryProgramChangeIsLoggedAsItIsRead) {
    SmfWriter w;
    w.on(0, 60, 100).program(480, 5, 3).off(960, 60);
    w.track().controller(0, 7, 90).program(10, 127);
    ASSERT_TRUE(load(w));
    // The second data byte of a program change is the one the previous event left.
    EXPECT_EQ(dir.log(), "add( 0  480 c3 05 64)\nadd( 1   10 c0 7f 5a)\n");
    EXPECT_EQ(song.event(2)->vel, 90);
    EXPECT_EQ(song.event(3)->vel, 100);
}

TEST_F(Reader, MissingFileAndEmptyPath) {
    EXPECT_FALSE(song.load(""));
    EXPECT_EQ(dir.log(), "");
    const std::string missing = dir.file("missing.mid");
    EXPECT_FALSE(song.load(missing));
    EXPECT_EQ(dir.log(), "ERROR: Song::load() unable to open " + missing + " for reading\n");
}

TEST_F(Reader, BadHeadersAreRefused) {
    SmfWriter w;
    w.on(0, 60).off(10, 60);
    const std::string good = w.bytes();
    const std::string bad[] = {
        patched(good, headerLengthAt, std::string("\0\0\0\7", 4)),
        patched(good, formatAt, std::string("\0\3", 2)),
        patched(good, 0, "RIFF"),
        good.substr(0, 12),
        "",
    };
    for (const std::string& bytes : bad) {
        dir.clearLog();
        EXPECT_FALSE(loadBytes(bytes));
        EXPECT_EQ(dir.log(), "ERROR: Song::load() first chunk wasn't a header\n");
        EXPECT_EQ(song.numEvents, 0u);
    }
}

TEST_F(Reader, MissingOrForeignTrackChunks) {
    SmfWriter w;
    w.on(0, 60).off(10, 60);
    const std::string good = w.bytes();
    const std::string header = good.substr(0, firstTrackAt);

    EXPECT_FALSE(loadBytes(patched(good, numTracksAt, std::string("\0\2", 2))));
    EXPECT_EQ(dir.log(), "ERROR: Song::load() first chunk wasn't a header\n");

    dir.clearLog();
    EXPECT_FALSE(loadBytes(patched(good, firstTrackAt, "XTrk")));
    EXPECT_EQ(dir.log(), "Song::load() skipped a chunk 'XTrk' of 12 bytes before track chunk 0\n"
                         "ERROR: Song::load() first chunk wasn't a header\n");

    dir.clearLog();
    EXPECT_FALSE(loadBytes(patched(good, numTracksAt, std::string("\0\2", 2)) + header));
    EXPECT_EQ(dir.log(), "ERROR: Song::load() chunk 2 wasn't a track chunk\n");
}

TEST_F(Reader, TrackRunningPastItsLengthShowsBothCounts) {
    SmfWriter w;
    w.on(0, 60);  // 00 90 3C 64, then the end of track 00 FF 2F 00: 8 bytes
    EXPECT_FALSE(loadBytes(patched(w.bytes(), firstTrackLengthAt, std::string("\0\0\0\6", 4))));
    EXPECT_EQ(dir.log(), "ERROR: Song::load() track chunk 0 was longer than specified in header (8 vs 6)\n");
}

TEST_F(Reader, DeltaTimesHaveAtMostFourBytes) {
    SmfWriter longest;
    longest.raw({0x81, 0x80, 0x80, 0x00, 0x90, 60, 100});
    ASSERT_TRUE(load(longest));
    EXPECT_EQ(song.event(0)->ticks, 1u << 21);

    SmfWriter tooLong;
    tooLong.raw({0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 60, 100});
    EXPECT_FALSE(load(tooLong));
    EXPECT_EQ(dir.log(), "ERROR: Song::load() track chunk 0 ended early\n");
}

TEST_F(Reader, FileEndingInsideATrackBeforeTheLastEndedEarly) {
    SmfWriter w;
    w.on(0, 60).off(10, 60).track().on(0, 62).off(10, 62);
    EXPECT_FALSE(loadBytes(w.bytes().substr(0, firstTrackAt + 8 + 6)));
    EXPECT_EQ(dir.log(), "ERROR: Song::load() track chunk 0 ended early\n");
}

TEST_F(Reader, RealWorldFilesLoadAsOtherPlayersLoadThem) {
    SmfWriter w;
    w.on(0, 60).off(10, 60).track().on(0, 62).off(10, 62);
    const std::string smf = w.bytes();
    const std::size_t secondTrackAt = smf.rfind("MTrk");
    auto littleEndian = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };

    const std::string alien = std::string("XFIH\0\0\0\3", 8) + "abc";
    std::string withAliens = smf;
    withAliens.insert(secondTrackAt, alien).insert(firstTrackAt, alien);
    ASSERT_TRUE(loadBytes(withAliens));
    EXPECT_EQ(song.numEvents, 4u);
    EXPECT_EQ(dir.log(), "Song::load() skipped a chunk 'XFIH' of 3 bytes before track chunk 0\n"
                         "Song::load() skipped a chunk 'XFIH' of 3 bytes before track chunk 1\n");

    const std::string info = "INFO" + littleEndian(3) + "abc" + '\0';
    dir.clearLog();
    ASSERT_TRUE(loadBytes("RIFF" + littleEndian(uint32_t(4 + info.size() + 8 + smf.size())) + "RMID" + info + "data" +
                          littleEndian(uint32_t(smf.size())) + smf));
    EXPECT_EQ(song.numEvents, 4u);
    EXPECT_EQ(dir.log(), "Song::load() " + songPath + " is a RIFF RMID file: reading the MIDI file inside\n");

    // The last track lacks its End of Track and one byte of its last event.
    dir.clearLog();
    ASSERT_TRUE(loadBytes(smf.substr(0, smf.size() - 5)));
    EXPECT_EQ(song.numEvents, 3u);
    EXPECT_EQ(dir.log(), "Song::load() track chunk 1 runs past the end of the file: read up to the end\n");
}

TEST_F(Reader, OnlyRegularFilesOfAHoldableSizeAreRead) {
    const std::string pipe = dir.file("pipe.mid"), huge = dir.file("huge.mid");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& path : {dir.path(), std::string("/dev/zero"), pipe}) {
        dir.clearLog();
        EXPECT_FALSE(song.load(path));
        EXPECT_EQ(dir.log(), "ERROR: Song::load() " + path + " is not a regular file\n");
    }
    writeFile(huge, "");
    ASSERT_EQ(truncate(huge.c_str(), (off_t{1} << 30) + 1), 0);
    dir.clearLog();
    EXPECT_FALSE(song.load(huge));
    EXPECT_EQ(dir.log(), "ERROR: Song::load() " + huge + " is too large to hold\n");
    EXPECT_EQ(song.numEvents, 0u);
}

TEST_F(Reader, MalformedStatusFailsTheLoadWithAStampedLineAndTheProgramGoesOn) {
    SmfWriter dataFirst;
    dataFirst.raw({0x00, 60, 100});
    EXPECT_FALSE(load(dataFirst));
    EXPECT_TRUE(isStampedLine(dir.log(), "ERROR: premature running status in MidiEvent::read\n")) << dir.log();

    // Running status never crosses into the next track.
    SmfWriter acrossTracks;
    acrossTracks.on(0, 60).off(10, 60).track().raw({0x00, 62, 100});
    dir.clearLog();
    EXPECT_FALSE(load(acrossTracks));
    EXPECT_TRUE(isStampedLine(dir.log(), "ERROR: premature running status in MidiEvent::read\n")) << dir.log();

    SmfWriter systemCommon;
    systemCommon.on(0, 60).event(5, {0xF1, 0x00}).off(10, 60);
    dir.clearLog();
    EXPECT_FALSE(load(systemCommon));
    EXPECT_TRUE(isStampedLine(dir.log(), "UNIMPLEMENTED (status f1) in MidiEvent::read\n")) << dir.log();
    EXPECT_EQ(song.numEvents, 0u);
}

TEST_F(Reader, FileWithoutStoredEventsIsNotLoaded) {
    SmfWriter w;
    w.text(0, 0x03, "title").sysex(10, {0x7E, 0xF7}).track().text(0, 0x01, "nothing");
    EXPECT_FALSE(load(w));
    EXPECT_EQ(dir.log(), "ERROR: Song::load() " + songPath + " has no events\n");
    EXPECT_EQ(song.numEvents, 0u);
    EXPECT_EQ(song.events, nullptr);
    EXPECT_EQ(song.lastEvent, nullptr);
}

// Bytes already in memory are read as their file would be, named in the log as the caller says.
TEST_F(Reader, BytesInMemoryReadAsTheirFileAndTouchNoFile) {
    SmfWriter w;
    w.program(0, 5).note(0, 240, 60).track().note(120, 240, 48, 90, 1);
    const std::string bytes = w.bytes();
    ASSERT_TRUE(loadBytes(bytes));
    const uint32_t fromFile = song.numEvents;
    std::remove(songPath.c_str());
    EXPECT_TRUE(song.loadFromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), "take.mid"));
    EXPECT_EQ(song.numEvents, fromFile);
    const std::string empty = SmfWriter().text(0, 0x03, "title").bytes();
    dir.clearLog();
    EXPECT_FALSE(song.loadFromBytes(reinterpret_cast<const uint8_t*>(empty.data()), empty.size(), "take.mid"));
    EXPECT_EQ(dir.log(), "ERROR: Song::load() take.mid has no events\n");
    EXPECT_FALSE(song.loadFromBytes(nullptr, 0, "take.mid"));
    EXPECT_EQ(song.numEvents, 0u);
}

TEST_F(Reader, ZeroTicksPerQuarterOrPerFrameIsRefused) {
    for (uint16_t division : {0x0000, 0x8000, 0xE700}) {
        SmfWriter w(division);
        w.on(0, 60).off(10, 60);
        dir.clearLog();
        EXPECT_FALSE(load(w)) << division;
        EXPECT_EQ(dir.log(), "ERROR: Song::load() " + songPath + " has a time division of 0 ticks\n");
    }
}

TEST_F(Reader, SmpteDivisionGivesFramesTimesTicksPerSecond) {
    SmfWriter w(0xE728);  // -25 frames per second, 40 ticks per frame
    w.on(0, 60).off(1000, 60);
    ASSERT_TRUE(load(w));
    EXPECT_EQ(song.timeDivisionMethod, 1u);
    EXPECT_EQ(song.secondsPerTick, 0.001);
    EXPECT_DOUBLE_EQ(song.event(1)->time, 1.0);

    SmfWriter dropFrame(0xE30A);  // -29: 29.97 frames per second, 10 ticks per frame
    dropFrame.on(0, 60).off(2997, 60);
    ASSERT_TRUE(load(dropFrame));
    EXPECT_DOUBLE_EQ(song.secondsPerTick, 1.0 / 299.7);
    EXPECT_DOUBLE_EQ(song.event(1)->time, 10.0);

    SmfWriter thirty(0xE201);
    thirty.on(0, 60).off(30, 60);
    ASSERT_TRUE(load(thirty));
    EXPECT_DOUBLE_EQ(song.event(1)->time, 1.0);
}

TEST_F(Reader, FailedLoadLeavesAnEmptySong) {
    SmfWriter good;
    good.on(0, 60).off(10, 60);
    ASSERT_TRUE(load(good));
    EXPECT_FALSE(loadBytes("MThd"));
    EXPECT_EQ(song.numEvents, 0u);
    EXPECT_EQ(song.events, nullptr);
    EXPECT_EQ(song.instruments, nullptr);
    EXPECT_EQ(song.numInstruments, 0u);
    EXPECT_EQ(song.event(0), nullptr);
    EXPECT_EQ(song.endTime, 0);
    EXPECT_EQ(song.channelUsed[0], 0);
}

TEST_F(Reader, TraceIsSilentUntilSwitchedOn) {
    SmfWriter w;
    w.text(0, 0x59, std::string("\0\0", 2)).text(0, 0x59, std::string("\x03\x01", 2));
    w.text(0, 0x59, std::string("\xFD\x00", 2)).tempo(0, 500000);
    w.on(0, 60).off(10, 60);
    ASSERT_TRUE(load(w));
    EXPECT_EQ(dir.log(), "");

    song.trace = true;
    ASSERT_TRUE(load(w));
    const std::string log = dir.log();
    EXPECT_NE(log.find("POS:22\nSYSTEM...C major (0, 0)\n"), std::string::npos) << log;
    EXPECT_NE(log.find("SYSTEM...F-sharp minor (3, 1)\n"), std::string::npos) << log;
    EXPECT_NE(log.find("SYSTEM...E-flat major (-3, 0)\n"), std::string::npos) << log;
    EXPECT_NE(log.find("SYSTEM...TEMPO 500000 usecs/quarter (120 quarters/minute)\n"), std::string::npos);
    EXPECT_NE(log.find("NOTE_ON\n"), std::string::npos);
    EXPECT_NE(log.find("NOTE_OFF\n"), std::string::npos);
    EXPECT_NE(log.find("SYSTEM...(end of track)\ntrack 0, 7 events\n"), std::string::npos);
    EXPECT_NE(log.find("Instrument 0, track 0, channel 0, 2 note events, pitches 60 to 60, average 60\n"),
              std::string::npos);
}

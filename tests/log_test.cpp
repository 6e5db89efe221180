#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "app/Log.h"
#include "song/Meta.h"
#include "song_test_fixture.h"
#include "support/TestEnv.h"

using LogBurst = SongFixture;

TEST(LogLineEnd, FormatsEndingInLineEndGetNothingAdded) {
    EXPECT_TRUE(endsInLineEnd("before startMidi()\n"));
    EXPECT_TRUE(endsInLineEnd("text\n  \t"));
    EXPECT_TRUE(endsInLineEnd("text\r"));
    EXPECT_FALSE(endsInLineEnd("text"));
    EXPECT_FALSE(endsInLineEnd(""));
    EXPECT_FALSE(endsInLineEnd("   "));
    EXPECT_FALSE(endsInLineEnd("%s"));
}

TEST(LogStamped, WritesTimestampColonTextAndOneLineEnd) {
    TestDir dir;
    logStamped("before startMidi()\n");
    logStamped("no line end");
    const std::string log = dir.log();
    const std::regex line("[A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4}: ");
    ASSERT_EQ(log.size(), 2 * 26 + std::string("before startMidi()\nno line end\n").size());
    EXPECT_TRUE(std::regex_search(log.substr(0, 26), line));
    EXPECT_EQ(log.substr(26, 19), "before startMidi()\n");
    EXPECT_EQ(log.substr(45 + 26), "no line end\n");
}

TEST(LogStamped, RuleLooksAtTheFormatNotTheOutput) {
    TestDir dir;
    logStamped("%s", "ends in a line end\n");
    EXPECT_EQ(dir.log().substr(26), "ends in a line end\n\n");
}

TEST(LogMessage, CallsWithoutLineEndContinueTheLine) {
    TestDir dir;
    logMessage("MARKERS: ");
    logMessage("\n");
    logMessage("ERROR: %d\n", 7);
    EXPECT_EQ(dir.log(), "MARKERS: \nERROR: 7\n");
}

TEST(LogMessage, AppendsToWhatEarlierRunsWrote) {
    TestDir dir;
    dir.write("NolariLog.txt", "first run\n");
    logMessage("second run\n");
    EXPECT_EQ(dir.log(), "first run\nsecond run\n");
}

TEST(LogTimestamp, IsTwentyFourCharactersWithTwoDigitFields) {
    const std::string stamp = logTimestamp();
    ASSERT_EQ(stamp.size(), 24u);
    EXPECT_TRUE(std::regex_match(stamp, std::regex("(Sun|Mon|Tue|Wed|Thu|Fri|Sat) "
                                                   "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                                   "\\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4}")));
}

TEST(LogMessage, UnwritableLogChangesNothing) {
    TestDir dir;
    std::string saved = dir.path();
    extern std::string startDirectory;
    startDirectory = "/nonexistent-directory-for-nolari";
    logMessage("lost\n");
    logStamped("lost too");
    startDirectory = saved;
    EXPECT_EQ(dir.log(), "");
}

TEST(LogMessage, LinesFromTwoThreadsNeverInterleave) {
    TestDir dir;
    auto writer = [](char c) {
        const std::string line(200, c);
        for (int i = 0; i < 200; ++i) logMessage("%s\n", line.c_str());
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    const std::string log = dir.log();
    ASSERT_EQ(log.size(), 400u * 201u);
    for (std::size_t i = 0; i < log.size(); i += 201) {
        const std::string line = log.substr(i, 201);
        EXPECT_TRUE(line == std::string(200, 'a') + "\n" || line == std::string(200, 'b') + "\n");
    }
}

// A load logs its lines in one burst; they must read exactly as they always have, in their order.
TEST_F(LogBurst, ASongLoadLogsTheSameLinesInTheSameOrder) {
    SmfWriter w;
    w.program(0, 5);
    std::string ticks;
    for (uint32_t g = 0; g < 4003; ++g) {
        w.note(480 * g, 240, 60);
        if (g == 0) w.off(10, 70);
        ticks += std::to_string(480 * g) + "\n";
    }
    w.track().program(0, 9, 1).note(0, 20, 50, 90, 1);
    ASSERT_TRUE(load(w));
    Meta meta;
    meta.load(songPath, song);
    dir.write("song.mid.mta", "ZOOM x\nNOTE_GROUPS 4002\n" + ticks + "TEMPO\n");
    meta.load(songPath, song);
    auto unexpected = [&](const std::string& tag) { return "ERROR: unexpected tag '" + tag + "' in " + songPath + ".mta\n"; };
    std::string expected = "add( 0    0 c0 05 00)\nadd( 1    0 c1 09 00)\nERROR: Song::findNoteEnds()unpaired note off\n";
    for (int n = 4001; n <= 4003; ++n) expected += "numGroups: " + std::to_string(n) + "\n";
    // The group starts a file names are applied once all of it is read.
    expected += "ERROR: ZOOM meta tag not followed zoom scope\n" + unexpected("x") + unexpected("1920960") +
                unexpected("TEMPO") + "numGroups: 4001\nnumGroups: 4002\n";
    EXPECT_EQ(dir.log(), expected);
}

// A batch's lines reach the log when the outermost batch ends, after any other thread's lines
// written meanwhile; handed over, they are not written at all.
TEST(LogBatching, CollectedLinesWaitForTheBatchWhileOtherThreadsWriteAtOnce) {
    TestDir dir;
    {
        LogBatch load;
        logMessage("first\n");
        {
            LogBatch inner;
            logStamped("second");
        }
        std::thread([] { logMessage("another thread\n"); }).join();
        EXPECT_EQ(dir.log(), "another thread\n");
    }
    const std::string log = dir.log();
    ASSERT_EQ(log.size(), std::string("another thread\nfirst\n").size() + 26 + 7);
    EXPECT_EQ(log.substr(0, 21), "another thread\nfirst\n");
    EXPECT_EQ(log.substr(21 + 24), ": second\n");
    {
        LogBatch dropped;
        logMessage("%s %d", "kept", 7);
        EXPECT_EQ(dropped.take(), "kept 7");
    }
    EXPECT_EQ(dir.log(), log);
}

TEST(LogBatchingDeathTest, FatalErrorWritesTheCollectedLinesFirst) {
    TestDir dir;
    EXPECT_EXIT(
        {
            LogBatch load;
            logMessage("collected\n");
            fatalError("fatal\n");
        },
        testing::ExitedWithCode(1), "");
    const std::string log = dir.log();
    EXPECT_EQ(log.substr(0, 10), "collected\n");
    EXPECT_EQ(log.substr(10 + 24, 8), ": fatal\n");
    EXPECT_NE(log.find(": Exiting.\n"), std::string::npos);
}

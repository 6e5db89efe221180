#include <gtest/gtest.h>

#include <thread>

#include "app/Nolari.h"
#include "config/Cfg.h"
#include "song/Meta.h"

TEST(RedrawThrottle, SlowOverviewDrawPostponesTheNextOne) {
    Nolari n;
    n.lastDrawDuration = 0.05;
    const double before = clockSeconds();
    n.requestRedisplay();
    EXPECT_GE(n.redrawNotBefore, before + 0.05);
    EXPECT_LE(n.redrawNotBefore, clockSeconds() + 0.05);
}

TEST(RedrawThrottle, DrawOfExactlyTheThresholdDoesNotPostpone) {
    Nolari n;
    n.redrawNotBefore = 1.5;
    n.lastDrawDuration = 0.0166;
    n.requestRedisplay();
    EXPECT_EQ(n.redrawNotBefore, 1.5);
    n.lastDrawDuration = 0.01661;
    n.requestRedisplay();
    EXPECT_GT(n.redrawNotBefore, 1.5);
}

TEST(Title, IsDeferredUntilTheWindowExists) {
    Nolari n;
    n.setTitle("/songs/a.mid");
    EXPECT_EQ(n.songPath, "/songs/a.mid");
    EXPECT_TRUE(n.titlePending);
    EXPECT_EQ(titleText("/songs/a.mid"), "Nolari /songs/a.mid         [F1 Help]");
    EXPECT_EQ(titleText("/songs/a.mid", true), "Nolari /songs/a.mid [loop]         [F1 Help]");
}

TEST(MainObject, StartsWithNothingLoadedAndItsPitchColours) {
    Nolari n;
    EXPECT_FALSE(n.songLoaded);
    EXPECT_FALSE(n.windowReady);
    EXPECT_FALSE(n.listening);
    EXPECT_FALSE(n.helpShown);
    ASSERT_NE(n.cfg_, nullptr);
    ASSERT_NE(n.song, nullptr);
    ASSERT_NE(n.meta, nullptr);
    // C is green, C# (seven fifths away) is red-blue, both lightened for the pale table.
    EXPECT_FLOAT_EQ(n.pitchColor(60, false).g, 1.0f);
    EXPECT_FLOAT_EQ(n.pitchColor(61, false).r, 0.75f);
    EXPECT_FLOAT_EQ(n.pitchColor(61, false).b, 0.25f);
    EXPECT_FLOAT_EQ(n.pitchColor(61, true).r, 0.85f);
    EXPECT_FLOAT_EQ(n.pitchColor(61, true).g, 0.4f);
    EXPECT_FLOAT_EQ(n.pitchColor(64, false).b, 1.0f);
    EXPECT_FLOAT_EQ(n.pitchColor(68, false).r, 1.0f);
}

TEST(RedrawThrottle, RequestFromAnotherThreadIsLeftToTheTimer) {
    Nolari n;
    n.lastDrawDuration = 0.05;
    std::thread other([&] { n.requestRedisplay(); });
    other.join();
    EXPECT_TRUE(n.redisplayWanted);
    EXPECT_EQ(n.redrawNotBefore, 0.0) << "the throttle belongs to the GUI thread";
}

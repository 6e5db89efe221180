#include <gtest/gtest.h>

#include "EngineTest.h"
#include "config/Cfg.h"
#include "perform/TempoCurve.h"
#include "support/SmfWriter.h"
#include "ui/TempoView.h"

// A scripted take: taps at clock times against their groups' song times.
TEST(TempoCurve, PointsFromAScriptedTakeShowThePerformersTempoBetweenTaps) {
    PerformerTempo tempo;
    TempoCurve curve;
    const auto tap = [&](double songTime, double clockTime) { curve.add(songTime, tempo.percentAt(songTime, clockTime)); };
    tap(0.0, 10.0);    // the first tap tells nothing yet
    EXPECT_FALSE(curve.shown());
    tap(0.5, 10.5);    // in time: 100 %
    tap(1.0, 10.75);   // rushed: 200 %
    tap(1.02, 10.8);   // a split chord: measured on from the tap before it
    tap(1.5, 11.75);   // held back over the half second since 1.0: 50 %
    ASSERT_EQ(curve.size(), 3u);
    const TempoPoint expected[] = {{0.5, 100, false}, {1.0, 200, true}, {1.5, 50, true}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_DOUBLE_EQ(curve.points()[i].songTime, expected[i].songTime);
        EXPECT_FLOAT_EQ(curve.points()[i].percent, expected[i].percent);
        EXPECT_EQ(curve.points()[i].joined, expected[i].joined);
    }
    EXPECT_TRUE(curve.shown());

    // A jump: hidden until a tap after it gives a point, which begins a line of its own.
    tempo.reset();
    curve.breakLine();
    tap(4.0, 20.0);
    EXPECT_FALSE(curve.shown());
    tap(4.5, 20.25);
    EXPECT_TRUE(curve.shown());
    EXPECT_FALSE(curve.points()[3].joined);
    EXPECT_FLOAT_EQ(curve.points()[3].percent, 200);
    curve.clear();
    EXPECT_EQ(curve.size(), 0u);
    EXPECT_FALSE(curve.shown());
}

// Over a 10 s song in a 1000-pixel window: 100 % in the middle of the band, doublings to its edges.
TEST(TempoCurve, IsDrawnAlongTheOverviewOnAScaleOfDoublings) {
    Song song;
    SongBuilder().note(0, 10, 60).build(song);
    const TempoPoint points[] = {{2, 100, false}, {4, 200, true}, {4.001, 400, true}, {6, 50, true}, {8, 141.42f, false}};
    ViewFrame frame;
    frame.song = &song;
    frame.bands.setSizes(573, true);
    frame.windowWidth = 1000;
    frame.tempoPoints = points;
    frame.tempoCount = 5;
    const Band& band = frame.bands.overView;
    const TempoPicture picture = tempoPicture(frame);
    EXPECT_DOUBLE_EQ(picture.reference, band.bottom + band.height / 2);
    ASSERT_EQ(picture.lines.size(), 2u);
    // 4.001 s lies within the pixel of 4 s: one vertex for both, the line's last one stays.
    const std::vector<TempoVertex>& line = picture.lines[0];
    ASSERT_EQ(line.size(), 3u);
    EXPECT_DOUBLE_EQ(line[0].x, 0.2);
    EXPECT_DOUBLE_EQ(line[0].y, picture.reference);
    EXPECT_DOUBLE_EQ(line[1].y, band.top);
    EXPECT_DOUBLE_EQ(line[2].x, 0.6);
    EXPECT_DOUBLE_EQ(line[2].y, band.bottom);
    // A point alone is a dash six pixels wide, halfway up the band's upper half.
    const std::vector<TempoVertex>& dash = picture.lines[1];
    ASSERT_EQ(dash.size(), 2u);
    EXPECT_NEAR(dash[1].x - dash[0].x, 0.006, 1e-12);
    EXPECT_NEAR(dash[0].y, band.bottom + band.height * 0.75, 1e-5);
}

using TempoTaps = EngineTest;

// Every tap feeds the curve its group's song time; a jump hides it; a load clears it.
TEST_F(TempoTaps, TapsFeedTheCurveJumpsBreakItLoadsClearIt) {
    load(SongBuilder()
             .note(0, 0.4, 60, 100, 0, true)
             .note(0.5, 0.4, 62, 100, 0, true)
             .note(1.0, 0.4, 64, 100, 0, true)
             .note(1.5, 0.4, 65, 100, 0, true));
    n.tap(1, 0);
    n.tap(2, 0);
    n.tap(3, 0);
    ASSERT_EQ(n.tempoCurve.size(), 2u);
    EXPECT_DOUBLE_EQ(n.tempoCurve.points()[0].songTime, 0.5);
    EXPECT_DOUBLE_EQ(n.tempoCurve.points()[1].songTime, 1.0);
    EXPECT_EQ(n.viewFrame().tempoCount, 2u);
    n.goToStart();
    EXPECT_EQ(n.viewFrame().tempoCount, 0u);
    n.tap(1, 0);
    EXPECT_EQ(n.tempoCurve.size(), 2u) << "the first tap after a jump has no tempo";
    SmfWriter().note(0, 480, 60).save(dir.file("song.mid"));
    n.cfg_->currentSong = dir.file("song.mid");
    n.loadCurrentSong();
    EXPECT_EQ(n.tempoCurve.size(), 0u);
}

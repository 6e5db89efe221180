#include <gtest/gtest.h>

#include "EngineTest.h"
#include "config/Cfg.h"
#include "perform/TempoCurve.h"
#include "support/SmfWriter.h"
#include "ui/TempoView.h"

// A scripted take: taps at clock times against their groups' song times, drawn over a 10 s song in
// a 1000-pixel window, 100 % across the middle of the band and a doubling to each edge.
TEST(TempoCurve, PointsFromAScriptedTakeAtTheirTemposAlongTheOverview) {
    PerformerTempo tempo;
    TempoCurve curve;
    const auto tap = [&](double songTime, double clockTime) { curve.add(songTime, tempo.percentAt(songTime, clockTime)); };
    tap(2.0, 10.0);  // the first tap tells nothing yet
    EXPECT_FALSE(curve.shown());
    tap(2.5, 10.5);   // in time: 100 %
    tap(4.0, 11.25);  // rushed: 200 %
    tap(4.02, 11.3);  // a split chord: the next tap is measured from the one before it
    tap(6.0, 15.25);  // held back: 50 %
    tempo.reset();    // a jump: hidden until a tap after it gives a point, on a line of its own
    curve.breakLine();
    tap(7.0, 20.0);
    EXPECT_FALSE(curve.shown());
    tap(8.0, 21.0);
    EXPECT_TRUE(curve.shown() && !curve.points()[3].joined);
    ASSERT_EQ(curve.size(), 4u);
    const float percents[] = {100, 200, 50, 100};
    for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(curve.points()[i].percent, percents[i]);

    Song song;
    SongBuilder().note(0, 10, 60).build(song);
    ViewFrame frame;  // the bands at the nominal height, the overview shown
    frame.song = &song;
    frame.windowWidth = 1000;
    frame.tempoPoints = curve.points();
    frame.tempoCount = curve.size();
    const Band& band = frame.bands.overView;
    const TempoPicture picture = tempoPicture(frame);
    ASSERT_EQ(picture.lines.size(), 2u);
    const std::vector<TempoVertex>& line = picture.lines[0];
    ASSERT_EQ(line.size(), 3u);
    EXPECT_EQ(std::vector<double>({line[0].x, line[0].y, picture.reference, line[1].y, line[2].y}),
              std::vector<double>({0.25, band.bottom + band.height / 2, line[0].y, band.top, band.bottom}));
    EXPECT_NEAR(picture.lines[1].at(1).x - picture.lines[1][0].x, 0.006, 1e-12) << "a point alone: a six-pixel dash";
    curve.clear();
    EXPECT_FALSE(curve.shown() || curve.size());
}

using TempoTaps = EngineTest;

// Every tap feeds the curve its group's song time; a jump hides it; a load clears it.
TEST_F(TempoTaps, TapsFeedTheCurveJumpsBreakItLoadsClearIt) {
    load(SongBuilder().note(0, 0.4, 60, 100, 0, true).note(0.5, 0.4, 62, 100, 0, true).note(1, 0.4, 64, 100, 0, true));
    for (int i = 0; i < 3; ++i) n.tap(1, 0);
    ASSERT_EQ(n.viewFrame().tempoCount, 2u);
    EXPECT_DOUBLE_EQ(n.tempoCurve.points()[1].songTime, 1.0);
    n.goToStart();
    n.tap(1, 0);
    EXPECT_EQ(n.viewFrame().tempoCount, 0u) << "the first tap after a jump has no tempo";
    SmfWriter().note(0, 480, 60).save(dir.file("song.mid"));
    n.cfg_->currentSong = dir.file("song.mid");
    n.loadCurrentSong();
    EXPECT_EQ(n.tempoCurve.size(), 0u);
}

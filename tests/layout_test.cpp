#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/Nolari.h"
#include "config/Cfg.h"
#include "song/Meta.h"
#include "support/SongBuilder.h"
#include "ui/Layout.h"
#include "ui/Scene.h"

namespace {

void expectBand(const Band& band, double top, double bottom, double height) {
    EXPECT_NEAR(band.top, top, 5e-7);
    EXPECT_NEAR(band.bottom, bottom, 5e-7);
    EXPECT_NEAR(band.height, height, 5e-7);
}

bool sameBands(const Layout& a, const Layout& b) {
    auto same = [](const Band& x, const Band& y) {
        return x.top == y.top && x.bottom == y.bottom && x.height == y.height;
    };
    return a.showOverview == b.showOverview && same(a.localView, b.localView) && same(a.localMarks, b.localMarks) &&
           same(a.overView, b.overView) && same(a.scope, b.scope) && same(a.overViewMarks, b.overViewMarks);
}

// Restores the process-wide layout a test changes.
struct LayoutGuard {
    Layout saved = layout;
    ~LayoutGuard() { layout = saved; }
};

ViewFrame frameOf(const Song& song, const Meta& meta, int32_t position, double zoom = 10.0) {
    ViewFrame frame;
    frame.song = &song;
    frame.meta = &meta;
    frame.position = position;
    frame.zoom = drawableZoom(zoom);
    frame.windowWidth = 792;
    frame.windowHeight = 573;
    frame.pitchColors = nolari.noteColors;
    frame.palePitchColors = nolari.paleNoteColors;
    return frame;
}

}  // namespace

TEST(BandTable, OverviewShownAtTheNominalHeight) {
    Layout l;
    l.setSizes(573, true);
    expectBand(l.localView, 1.000000, 0.204348, 0.795652);
    expectBand(l.localMarks, 0.204348, 0.183405, 0.020942);
    expectBand(l.overView, 0.183405, 0.024275, 0.159130);
    expectBand(l.scope, 0.024275, 0.024275, 0.000000);
    expectBand(l.overViewMarks, 0.024275, 0.000000, 0.024275);
    EXPECT_TRUE(l.showOverview);
    EXPECT_EQ(l.height, 573);
}

TEST(BandTable, OverviewHiddenLeavesAnEmptyOverviewAtTheScopeTop) {
    Layout l;
    l.setSizes(573, false);
    expectBand(l.localView, 1.000000, 0.064513, 0.935487);
    expectBand(l.localMarks, 0.064513, 0.043570, 0.020942);
    expectBand(l.overView, 0.043570, 0.043570, 0.000000);
    expectBand(l.scope, 0.043570, 0.024861, 0.018710);
    expectBand(l.overViewMarks, 0.024861, 0.000000, 0.024861);
    EXPECT_EQ(l.overView.top, l.scope.top);
    EXPECT_FALSE(l.showOverview);
}

TEST(BandTable, BandsTouchFromTopToBottom) {
    for (bool show : {true, false}) {
        Layout l;
        l.setSizes(573, show);
        EXPECT_EQ(l.localView.bottom, l.localMarks.top);
        EXPECT_EQ(l.localMarks.bottom, l.overView.top);
        EXPECT_EQ(l.overView.bottom, l.scope.top);
        EXPECT_EQ(l.scope.bottom, l.overViewMarks.top);
        EXPECT_EQ(l.overViewMarks.bottom, 0.0);
    }
}

TEST(ViewStyleToggle, HidesTheOverviewAndRemembersItInTheConfigurationWithoutSaving) {
    LayoutGuard guard;
    layout.setSizes(573, true);
    const Layout before = layout;
    Nolari n;
    n.toggleViewStyle();
    EXPECT_FALSE(layout.showOverview);
    EXPECT_FALSE(n.cfg_->showOverview);
    EXPECT_NEAR(layout.scope.height, 0.018710, 5e-7);
    n.toggleViewStyle();
    EXPECT_TRUE(n.cfg_->showOverview);
    EXPECT_TRUE(sameBands(layout, before));
}

TEST(Reshape, ZeroSizeBecomesOnePixel) {
    Nolari n;
    n.songLoaded = true;
    n.reshape(0, 0);
    EXPECT_EQ(n.windowWidth, 1);
    EXPECT_EQ(n.windowHeight, 1);
    n.reshape(1280, -5);
    EXPECT_EQ(n.windowWidth, 1280);
    EXPECT_EQ(n.windowHeight, 1);
}

// A window resized before any song is loaded must be drawn at its real size once one is.
TEST(Reshape, KeepsTheSizeWhileNoSongIsLoaded) {
    Nolari n;
    n.reshape(1000, 700);
    EXPECT_EQ(n.windowWidth, 1000);
    EXPECT_EQ(n.windowHeight, 700);
}

TEST(DrawableZoom, KeepsSaneValuesAndBoundsTheRest) {
    EXPECT_EQ(drawableZoom(10.0), 10.0);
    EXPECT_EQ(drawableZoom(0.5), 0.5);
    EXPECT_EQ(drawableZoom(0.0), minDrawableZoom);
    EXPECT_EQ(drawableZoom(-3.0), minDrawableZoom);
    EXPECT_EQ(drawableZoom(1e9), maxDrawableZoom);
    EXPECT_EQ(drawableZoom(std::numeric_limits<double>::infinity()), maxDrawableZoom);
    EXPECT_EQ(drawableZoom(-std::numeric_limits<double>::infinity()), minDrawableZoom);
    EXPECT_EQ(drawableZoom(std::nan("")), 10.0);
}

TEST(CentreNote, IsTheFirstNoteOnAtOrAfterThePosition) {
    Song song;
    SongBuilder().channelEvent(0.0, 0xC0, 0, 5, 0).note(1.0, 1.0, 60, 100, 0, true).note(3.0, 1.0, 62).build(song);
    // Events: program change, on 60, off 60, on 62, off 62.
    EXPECT_EQ(centreNote(song, 0), &song.events[1]);
    EXPECT_EQ(centreNote(song, 1), &song.events[1]);
    EXPECT_EQ(centreNote(song, 2), &song.events[3]);
}

TEST(CentreNote, TheLastEventStandsInWhenNoNoteOnFollows) {
    Song song;
    SongBuilder().note(1.0, 1.0, 60).note(3.0, 1.0, 62).build(song);
    EXPECT_EQ(centreNote(song, 3), song.lastEvent);
    EXPECT_EQ(centreNote(song, 99), song.lastEvent);
    EXPECT_EQ(centreNote(song, -1), song.lastEvent);
    Song empty;
    EXPECT_EQ(centreNote(empty, 0), nullptr);
}

TEST(TimeMapping, LocalViewIsCentredOnTheCentreNote) {
    Song song;
    Meta meta;
    SongBuilder().note(0.0, 1.0, 60).note(20.0, 1.0, 62).build(song);
    LocalSpan span;
    ASSERT_TRUE(localSpan(frameOf(song, meta, 2), span));
    EXPECT_EQ(span.centre, &song.events[2]);
    EXPECT_DOUBLE_EQ(span.left, 15.0);
    EXPECT_DOUBLE_EQ(span.right, 25.0);
    EXPECT_DOUBLE_EQ(localX(span, 20.0), 0.5);
    EXPECT_DOUBLE_EQ(localX(span, 15.0), 0.0);
    EXPECT_DOUBLE_EQ(localX(span, 25.0), 1.0);
}

TEST(TimeMapping, OverviewIsTheFractionOfTheSongLength) {
    EXPECT_DOUBLE_EQ(overviewX(30.0, 120.0), 0.25);
    EXPECT_EQ(overviewX(5.0, 0.0), 0.0);
    EXPECT_EQ(overviewX(5.0, std::nan("")), 0.0);
}

TEST(PitchMapping, LocalRowsLeaveTheTopTwoEmpty) {
    Song song;
    Meta meta;
    SongBuilder().note(0.0, 1.0, 60).note(1.0, 1.0, 70).build(song);
    const ViewFrame frame = frameOf(song, meta, 0);
    const Band& band = frame.bands.localView;
    const double nh = band.height / 13;
    EXPECT_DOUBLE_EQ(localRowHeight(frame), nh);
    EXPECT_DOUBLE_EQ(localRowCentre(frame, 60), band.bottom + nh / 2);
    EXPECT_DOUBLE_EQ(localRowCentre(frame, 70), band.bottom + 10 * nh + nh / 2);
    EXPECT_NEAR(band.top - (localRowCentre(frame, 70) + nh / 2), 2 * nh, 1e-12);
}

TEST(PitchMapping, OverviewRowsFillTheBand) {
    Song song;
    Meta meta;
    SongBuilder().note(0.0, 1.0, 60).note(1.0, 1.0, 70).build(song);
    const ViewFrame frame = frameOf(song, meta, 0);
    const Band& band = frame.bands.overView;
    EXPECT_DOUBLE_EQ(overviewRowHeight(frame), band.height / 11);
    EXPECT_DOUBLE_EQ(overviewRowBottom(frame, 60), band.bottom);
    EXPECT_NEAR(overviewRowTop(frame, 70), band.top, 1e-12);
}

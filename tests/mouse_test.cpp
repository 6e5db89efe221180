#include <gtest/gtest.h>

#include <GL/freeglut_std.h>

#include "app/Nolari.h"
#include "song/Meta.h"
#include "support/SongBuilder.h"
#include "ui/Layout.h"
#include "ui/Scene.h"

namespace {

// Group starts at 0, 2, 4, ... 18 s, each a one-second note; event 2k is the note-on of group k.
void groupsEveryTwoSeconds(Song& song) {
    SongBuilder b;
    for (int i = 0; i < 10; ++i) b.note(2.0 * i, 1.0, 60 + i, 100, 0, true);
    b.build(song);
}

ViewFrame frameOf(const Song& song, const Meta& meta, int32_t position) {
    ViewFrame frame;
    frame.song = &song;
    frame.meta = &meta;
    frame.position = position;
    frame.zoom = 10.0;
    frame.windowWidth = 800;
    frame.windowHeight = 600;
    frame.pitchColors = nolari.noteColors;
    frame.palePitchColors = nolari.paleNoteColors;
    return frame;
}

// A main object with a loaded song in a 800 x 600 window.
struct Loaded {
    Nolari n;
    Loaded() {
        groupsEveryTwoSeconds(*n.song);
        n.songLoaded = true;
        n.windowWidth = 800;
        n.windowHeight = 600;
    }
    int pixelY(double fy) const { return static_cast<int>((1 - fy) * 600); }
};

}  // namespace

TEST(SeekGroup, MovingBackLandsOnTheEarliestStartStillLaterThanTheTime) {
    Song song;
    groupsEveryTwoSeconds(song);
    EXPECT_EQ(seekGroupTarget(song, 12, 7.5), 8);   // from 12 s towards 7.5 s: the start at 8 s
    EXPECT_EQ(seekGroupTarget(song, 12, 11.0), 12);  // passes only its own start
    EXPECT_EQ(seekGroupTarget(song, 12, -5.0), 0);
}

TEST(SeekGroup, MovingForwardLandsOnTheLatestStartEarlierThanTheTime) {
    Song song;
    groupsEveryTwoSeconds(song);
    EXPECT_EQ(seekGroupTarget(song, 4, 9.0), 8);
    EXPECT_EQ(seekGroupTarget(song, 4, 100.0), 18);
}

TEST(SeekGroup, StaysWhenNoStartLiesBetweenOrTheTimeIsThePositionsOwn) {
    Song song;
    groupsEveryTwoSeconds(song);
    EXPECT_EQ(seekGroupTarget(song, 4, 4.0), -1);
    EXPECT_EQ(seekGroupTarget(song, 5, 5.5), -1);  // from the note-off at 5 s, next start is at 6 s
    Song empty;
    EXPECT_EQ(seekGroupTarget(empty, 0, 3.0), -1);
}

TEST(SeekGroup, APositionBeyondTheEventsStartsFromTheLastEvent) {
    Song song;
    groupsEveryTwoSeconds(song);
    EXPECT_EQ(seekGroupTarget(song, 500, 13.0), 14);
}

TEST(SeekMarker, ChoosesTheNearestMarkerAndTheEarlierInTheListOnATie) {
    Song song;
    Meta meta;
    groupsEveryTwoSeconds(song);
    EXPECT_EQ(seekMarkerTarget(song, meta, 3.0), -1);
    meta.markers[0] = 4;   // 4 s
    meta.markers[1] = 8;   // 8 s
    meta.markers[2] = 16;  // 16 s
    meta.numMarkers_ = 3;
    EXPECT_EQ(seekMarkerTarget(song, meta, 7.0), 8);
    EXPECT_EQ(seekMarkerTarget(song, meta, 6.0), 4);
    EXPECT_EQ(seekMarkerTarget(song, meta, 100.0), 16);
}

TEST(ClickTarget, BandsAreTestedTopDownWithTheirEdgesIncluded) {
    Song song;
    Meta meta;
    groupsEveryTwoSeconds(song);
    ViewFrame frame = frameOf(song, meta, 4);  // centre note at 4 s: local view -1 .. 9 s
    frame.bands.localView = {1.0, 0.5, 0.5};
    frame.bands.localMarks = {0.5, 0.25, 0.25};
    frame.bands.overView = {0.25, 0.125, 0.125};
    frame.bands.scope = {0.125, 0.125, 0};
    frame.bands.overViewMarks = {0.125, 0, 0.125};
    Click c = clickTarget(frame, 200, 300);  // fy exactly 0.5
    EXPECT_EQ(c.kind, Click::group);
    EXPECT_DOUBLE_EQ(c.t, 1.5);
    c = clickTarget(frame, 200, 400);
    EXPECT_EQ(c.kind, Click::marker);
    EXPECT_DOUBLE_EQ(c.t, 1.5);
    c = clickTarget(frame, 400, 500);  // fy 1/6: the overview
    EXPECT_EQ(c.kind, Click::group);
    EXPECT_DOUBLE_EQ(c.t, 0.5 * song.endTime);
    c = clickTarget(frame, 400, 550);
    EXPECT_EQ(c.kind, Click::marker);
    EXPECT_DOUBLE_EQ(c.t, 0.5 * song.endTime);
}

TEST(ClickTarget, TheScopeStripDoesNothing) {
    Song song;
    Meta meta;
    groupsEveryTwoSeconds(song);
    ViewFrame frame = frameOf(song, meta, 4);
    frame.bands.setSizes(573, false);
    const double fy = (frame.bands.scope.top + frame.bands.scope.bottom) / 2;
    EXPECT_EQ(clickTarget(frame, 100, static_cast<int>((1 - fy) * 600)).kind, Click::none);
}

TEST(Mouse, AClickInTheOverviewMovesThePositionAndTheMetadata) {
    Loaded s;
    const double fy = (layout.overView.top + layout.overView.bottom) / 2;
    s.n.mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 600, s.pixelY(fy));  // 0.75 of 19 s: 14.25 s
    EXPECT_EQ(s.n.position, 14);
    EXPECT_EQ(s.n.meta->position, 14u);
}

TEST(Mouse, OnlyAPressActsAndAnyButtonDoes) {
    Loaded s;
    const double fy = (layout.overView.top + layout.overView.bottom) / 2;
    s.n.mouse(GLUT_LEFT_BUTTON, GLUT_UP, 600, s.pixelY(fy));
    EXPECT_EQ(s.n.position, 0);
    s.n.mouse(GLUT_MIDDLE_BUTTON, GLUT_DOWN, 600, s.pixelY(fy));
    EXPECT_EQ(s.n.position, 14);
}

TEST(Mouse, AClickWhileListeningDoesNotMoveThePosition) {
    Loaded s;
    const double fy = (layout.overView.top + layout.overView.bottom) / 2;
    s.n.listening = true;
    s.n.mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 600, s.pixelY(fy));
    EXPECT_EQ(s.n.position, 0);
}

TEST(Mouse, AClickWhileTheHelpIsShownStillMovesTheHiddenViews) {
    Loaded s;
    s.n.helpShown = true;
    s.n.position = 8;  // centre note at 8 s: the local view spans 3 .. 13 s
    const double fy = (layout.localView.top + layout.localView.bottom) / 2;
    s.n.mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 80, s.pixelY(fy));  // 3 + 10 * 0.1 = 4 s
    EXPECT_EQ(s.n.position, 6);  // the earliest start still later than 4 s
    EXPECT_TRUE(s.n.helpShown);
}

TEST(Mouse, AClickInAMarkerBandGoesToTheNearestMarker) {
    Loaded s;
    s.n.meta->markers[0] = 2;
    s.n.meta->markers[1] = 16;
    s.n.meta->numMarkers_ = 2;
    const double fy = (layout.overViewMarks.top + layout.overViewMarks.bottom) / 2;
    s.n.mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 520, s.pixelY(fy));  // 0.65 of 19 s: 12.35 s
    EXPECT_EQ(s.n.position, 16);
    EXPECT_EQ(s.n.meta->position, 16u);
}

TEST(Mouse, WithoutASongNothingMoves) {
    Nolari n;
    n.mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 10, 10);
    EXPECT_EQ(n.position, 0);
}

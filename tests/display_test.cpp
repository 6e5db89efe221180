#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>

#include "app/Nolari.h"
#include "song/Meta.h"
#include "support/SongBuilder.h"
#include "ui/Draw.h"
#include "ui/Scene.h"
#include "ui/TempoView.h"

namespace {

ViewFrame frameOf(const Song& song, const Meta& meta, int32_t position, double zoom = 10.0, int scheme = 0) {
    ViewFrame frame;
    frame.song = &song;
    frame.meta = &meta;
    frame.position = position;
    frame.zoom = drawableZoom(zoom);
    frame.colorScheme = scheme;
    frame.windowWidth = 792;
    frame.windowHeight = 573;
    frame.pitchColors = nolari.noteColors;
    frame.palePitchColors = nolari.paleNoteColors;
    return frame;
}

void expectColour(const Color& c, float r, float g, float b) {
    EXPECT_NEAR(c.r, r, 1e-6);
    EXPECT_NEAR(c.g, g, 1e-6);
    EXPECT_NEAR(c.b, b, 1e-6);
}

bool finite(const Bar& bar) {
    return std::isfinite(bar.x0) && std::isfinite(bar.x1) && std::isfinite(bar.y0) && std::isfinite(bar.y1);
}

}  // namespace

TEST(NoteColour, SoundingIsStrictOnBothSides) {
    Song song;
    SongBuilder().note(1.0, 2.0, 60).build(song);
    const Event& on = song.events[0];
    EXPECT_FALSE(isSounding(on, 1.0));
    EXPECT_TRUE(isSounding(on, 1.5));
    EXPECT_FALSE(isSounding(on, 3.0));
    // A note-off never counts: its partner lies before it.
    EXPECT_FALSE(isSounding(song.events[1], 2.0));
}

TEST(NoteColour, EachSchemePicksItsColours) {
    Song song;
    Meta meta;
    SongBuilder().note(0.0, 2.0, 61, 100, 0, false, 0).note(0.0, 2.0, 64, 100, 1, false, 1).build(song);
    const Event& first = song.events[0];   // instrument 0, C#
    const Event& second = song.events[1];  // instrument 1, E
    ASSERT_EQ(first.inst, 0u);
    ASSERT_EQ(second.inst, 1u);

    const ViewFrame scheme0 = frameOf(song, meta, 0, 10.0, 0);
    expectColour(noteColor(scheme0, first, 0.0), 0, 1, 0);
    expectColour(noteColor(scheme0, first, 1.0), 0.4f, 1, 0.4f);
    expectColour(noteColor(scheme0, second, 0.0), 0.5f, 0, 0.5f);  // hueColor(1, 2)

    const ViewFrame scheme1 = frameOf(song, meta, 0, 10.0, 1);
    expectColour(noteColor(scheme1, first, 0.0), 0.5f, 0.5f, 0.5f);
    expectColour(noteColor(scheme1, first, 1.0), 1, 1, 1);

    const ViewFrame scheme2 = frameOf(song, meta, 0, 10.0, 2);
    expectColour(noteColor(scheme2, second, 0.0), 0, 0, 1);  // hueColor(1, 3)
    expectColour(noteColor(scheme2, second, 1.0), 0.4f, 0.4f, 1);

    const ViewFrame scheme3 = frameOf(song, meta, 0, 10.0, 3);
    expectColour(noteColor(scheme3, first, 0.0), 0.75f, 0, 0.25f);
    expectColour(noteColor(scheme3, first, 1.0), 0.85f, 0.4f, 0.55f);
    expectColour(noteColor(scheme3, second, 0.0), 0, 0, 1);
    expectColour(noteColor(scheme3, second, 1.0), 0.4f, 0.4f, 1);

    const ViewFrame scheme7 = frameOf(song, meta, 0, 10.0, 7);
    expectColour(noteColor(scheme7, second, 0.0), 0.5f, 0, 0.5f);
}

TEST(LocalView, BarsAreCutAtTheEdgesAndNotesSpanningBothAreLeftOut) {
    Song song;
    Meta meta;
    // Centre note at 10 s, view 5 .. 15 s.
    SongBuilder()
        .note(0.0, 30.0, 50)   // spans the whole view: not drawn
        .note(3.0, 4.0, 52)    // began before the left edge, ends at 7 s
        .note(10.0, 1.0, 55, 100, 0, true)
        .note(12.0, 10.0, 57)  // runs past the right edge
        .build(song);
    const int32_t centre = 3;
    ASSERT_TRUE(song.events[centre].isNoteOn());
    ASSERT_EQ(song.events[centre].pitch, 55);
    const LocalScene scene = localScene(frameOf(song, meta, centre));
    ASSERT_EQ(scene.bars.size(), 3u);
    EXPECT_DOUBLE_EQ(scene.bars[0].x0, 0.0);  // the note-off at 7 s draws the note from the edge
    EXPECT_DOUBLE_EQ(scene.bars[0].x1, 0.2);
    EXPECT_DOUBLE_EQ(scene.bars[1].x0, 0.5);
    EXPECT_DOUBLE_EQ(scene.bars[1].x1, 0.6);
    EXPECT_DOUBLE_EQ(scene.bars[2].x0, 0.7);
    EXPECT_DOUBLE_EQ(scene.bars[2].x1, 1.0);
}

TEST(LocalView, BarsSitOnTheirPitchRowWidenedByTheNoteWidth) {
    Song song;
    Meta meta;
    SongBuilder().note(0.0, 1.0, 60, 100, 0, true).note(0.5, 1.0, 64).build(song);
    ViewFrame frame = frameOf(song, meta, 0);
    frame.noteWidth = 3;
    const LocalScene scene = localScene(frame);
    ASSERT_EQ(scene.bars.size(), 2u);
    const double nh = frame.bands.localView.height / 7;
    const Bar& high = scene.bars[1];
    const double yc = frame.bands.localView.bottom + 4 * nh + nh / 2;
    EXPECT_NEAR(high.y0, yc + nh / 2 + 3.0 / 573, 1e-12);
    EXPECT_NEAR(high.y1, yc - nh / 2 - 3.0 / 573, 1e-12);
}

TEST(LocalView, NotesSoundingAtThePositionTakeTheirSoundingColour) {
    Song song;
    Meta meta;
    SongBuilder().note(0.0, 4.0, 60).note(1.0, 1.0, 62).note(2.0, 1.0, 64, 100, 0, true).build(song);
    // Position on the note-on at 2 s: the first note sounds, the second ends exactly then.
    const int32_t position = 3;
    ASSERT_EQ(song.events[position].pitch, 64);
    const LocalScene scene = localScene(frameOf(song, meta, position, 10.0, 1));
    ASSERT_EQ(scene.bars.size(), 3u);
    expectColour(scene.bars[0].colour, 1, 1, 1);
    expectColour(scene.bars[1].colour, 0.5f, 0.5f, 0.5f);
    expectColour(scene.bars[2].colour, 0.5f, 0.5f, 0.5f);
}

// The song's last event belongs to the window too: the final note's tail is drawn.
TEST(LocalView, DrawsTheTailOfTheFinalNoteAtTheEndOfTheSong) {
    Song song;
    Meta meta;
    SongBuilder().note(0.0, 12.0, 60, 100, 0, true).build(song);
    const LocalScene scene = localScene(frameOf(song, meta, 1));
    ASSERT_EQ(scene.bars.size(), 1u);
    EXPECT_DOUBLE_EQ(scene.bars[0].x0, 0.0);
    EXPECT_DOUBLE_EQ(scene.bars[0].x1, 0.5);
}

TEST(GroupMarks, CloseStartsStackTheirTrianglesUntilTheStackIsLeft) {
    Song song;
    Meta meta;
    SongBuilder()
        .note(10.0, 1.0, 60, 100, 0, true)
        .note(10.05, 1.0, 61, 100, 0, true)
        .note(10.09, 1.0, 62, 100, 0, true)
        .note(10.12, 1.0, 63, 100, 0, true)
        .note(10.3, 1.0, 64, 100, 0, true)
        .build(song);
    const LocalScene scene = localScene(frameOf(song, meta, 0));
    ASSERT_EQ(scene.marks.size(), 5u);
    const double drops[] = {0.0, 0.01, 0.02, 0.0, 0.0};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(scene.marks[i].drop, drops[i], 1e-12) << i;
    EXPECT_DOUBLE_EQ(scene.marks[0].x, 0.5);
}

TEST(GroupMarks, StartAtTheCentreNoteAndLinkAGroupsLaterNotes) {
    Song song;
    Meta meta;
    SongBuilder()
        .note(8.0, 1.0, 60, 100, 0, true)   // before the position: bar only
        .note(10.0, 1.0, 60, 100, 0, true)
        .note(10.05, 1.0, 61, 100, 0, true)
        .note(10.5, 1.0, 64)                 // member of the second group
        .build(song);
    const int32_t position = 2;
    ASSERT_EQ(song.events[position].time, 10.0);
    const LocalScene scene = localScene(frameOf(song, meta, position));
    ASSERT_EQ(scene.marks.size(), 2u);
    ASSERT_EQ(scene.links.size(), 1u);
    const Link& link = scene.links[0];
    EXPECT_DOUBLE_EQ(link.x0, scene.marks[1].x);
    EXPECT_DOUBLE_EQ(link.x1, 0.55);
    EXPECT_NEAR(link.y, 1 - 0.01 - 0.01, 1e-12);
    expectColour(link.colour, 0.4f, 1, 0.4f);
}

TEST(GroupLines, AreLineWidthOnePixelLinesAroundTheGroup) {
    const std::vector<double> three = groupLineOffsets(3, 792);
    ASSERT_EQ(three.size(), 3u);
    EXPECT_NEAR(three[0] * 792, -1.5, 1e-9);
    EXPECT_NEAR(three[1] * 792, -0.5, 1e-9);
    EXPECT_NEAR(three[2] * 792, 0.5, 1e-9);
    // Widths whose half-steps do not add up exactly in floating point still give their count.
    for (int width = 1; width < 40; ++width) EXPECT_EQ(groupLineOffsets(width, 1000 + width).size(), static_cast<size_t>(width));
    EXPECT_TRUE(groupLineOffsets(0, 792).empty());
    EXPECT_TRUE(groupLineOffsets(-2, 792).empty());
}

TEST(MarkerBoxes, AreTenPixelsWideCentredOnTheirEventsWithTheirLabelsAndThePassageMarked) {
    Song song;
    Meta meta;
    SongBuilder b;
    for (int i = 0; i < 12; ++i) b.note(i * 10.0, 1.0, 60, 100, 0, true);
    b.build(song);
    for (uint32_t i = 0; i < 12; ++i) meta.markers[i] = 2 * i;
    meta.numMarkers_ = 12;
    ViewFrame frame = frameOf(song, meta, 0);
    frame.passage = {true, 2, 4};  // the loop's passage, whose two markers stand out
    const std::vector<MarkerBox> boxes = markerBoxes(frame, 0.0, song.endTime);
    ASSERT_EQ(boxes.size(), 12u);
    for (std::size_t i = 0; i < boxes.size(); ++i) EXPECT_EQ(boxes[i].endsPassage, i == 1 || i == 2) << i;
    EXPECT_EQ(boxes[0].label, '1');
    EXPECT_EQ(boxes[9].label, '0');
    EXPECT_EQ(boxes[10].label, 'e');
    EXPECT_EQ(boxes[11].label, 't');
    EXPECT_NEAR(boxes[3].x1 - boxes[3].x0, 10.0 / 792, 1e-12);
    EXPECT_NEAR((boxes[3].x0 + boxes[3].x1) / 2, 30.0 / 111.0, 1e-12);
}

TEST(MarkerBoxes, LocalBandFollowsThePositionAndNeedsAValidOne) {
    Song song;
    Meta meta;
    SongBuilder().note(20.0, 1.0, 60, 100, 0, true).build(song);
    double t0 = 0, t1 = 0;
    ASSERT_TRUE(localMarkSpan(frameOf(song, meta, 1), t0, t1));
    EXPECT_DOUBLE_EQ(t0, 16.0);
    EXPECT_DOUBLE_EQ(t1, 26.0);
    EXPECT_FALSE(localMarkSpan(frameOf(song, meta, 2), t0, t1));
    EXPECT_FALSE(localMarkSpan(frameOf(song, meta, -1), t0, t1));
}

TEST(Overview, ShortNotesAreStillTwoPixelsWide) {
    Song song;
    Meta meta;
    SongBuilder().note(0.0, 0.001, 60).note(50.0, 50.0, 62).build(song);
    const ViewFrame frame = frameOf(song, meta, 0);
    const std::vector<Bar> bars = overviewBars(frame);
    ASSERT_EQ(bars.size(), 2u);
    EXPECT_DOUBLE_EQ(bars[0].x1 - bars[0].x0, 2.0 / 792);
    EXPECT_DOUBLE_EQ(bars[1].x0, 0.5);
    EXPECT_DOUBLE_EQ(bars[1].x1, 1.0);
    EXPECT_DOUBLE_EQ(bars[1].y0, overviewRowBottom(frame, 62));
    EXPECT_DOUBLE_EQ(bars[1].y1, overviewRowTop(frame, 62));
}

// The overview is 792 pixels wide and the song 101 s long: the first note's pixels all lie within
// those of the longer note of its pitch that starts 5 ms later, in the same pixel column.
TEST(Overview, BarsPaintedOverByLaterBarsOfTheirPitchAreLeftOut) {
    Song song;
    Meta meta;
    SongBuilder().note(10.0, 0.1, 60).note(10.0, 0.1, 62).note(10.005, 2.0, 60).note(20.0, 5.0, 64).note(20.005, 0.04, 64)
        .note(100.0, 1.0, 60).build(song);
    ViewFrame frame = frameOf(song, meta, 0);
    const std::vector<Bar> all = overviewBars(frame), painted = paintedOverviewBars(frame);
    ASSERT_EQ(all.size(), 6u);
    ASSERT_EQ(painted.size(), 5u);
    for (size_t i = 0; i < painted.size(); ++i) {
        EXPECT_EQ(painted[i].x0, all[i + 1].x0);
        EXPECT_EQ(painted[i].y0, all[i + 1].y0);
    }
    frame.windowWidth = 0;
    EXPECT_EQ(paintedOverviewBars(frame).size(), all.size());
}

TEST(Overview, NotesNeverShowAsSounding) {
    Song song;
    Meta meta;
    SongBuilder().note(0.0, 10.0, 60, 100, 0, true).note(5.0, 1.0, 62).build(song);
    for (const Bar& bar : overviewBars(frameOf(song, meta, 2, 10.0, 1))) expectColour(bar.colour, 0.5f, 0.5f, 0.5f);
}

TEST(Overview, ScopeRectangleShadesTheLocalSpan) {
    Song song;
    Meta meta;
    SongBuilder().note(0.0, 1.0, 60, 100, 0, true).note(50.0, 50.0, 62, 100, 0, true).build(song);
    ViewFrame frame = frameOf(song, meta, 2);
    Bar scope = scopeRect(frame);
    EXPECT_DOUBLE_EQ(scope.x0, 0.45);
    EXPECT_DOUBLE_EQ(scope.x1, 0.55);
    EXPECT_EQ(scope.y0, frame.bands.overView.top);
    EXPECT_EQ(scope.y1, frame.bands.scope.bottom);
    expectColour(scope.colour, 0.2f, 0.2f, 0.2f);
    frame.bands.setSizes(573, false);
    scope = scopeRect(frame);
    EXPECT_EQ(scope.y0, frame.bands.scope.top);
    EXPECT_EQ(scope.y1, frame.bands.scope.bottom);
}

// A song whose events all lie at time 0 and zoom values no metadata file should hold must
// still give finite coordinates.
TEST(DegenerateSongs, NothingIsEverNanOrInfinite) {
    Song song;
    Meta meta;
    SongBuilder().note(0.0, 0.0, 60, 100, 0, true).note(0.0, 0.0, 64, 100, 0, true).build(song);
    meta.markers[0] = 1;
    meta.numMarkers_ = 1;
    ASSERT_EQ(song.endTime, 0.0);
    for (double zoom : {0.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e300}) {
        const ViewFrame frame = frameOf(song, meta, 0, zoom);
        const LocalScene scene = localScene(frame);
        for (const Bar& bar : scene.bars) EXPECT_TRUE(finite(bar));
        for (const GroupMark& mark : scene.marks) EXPECT_TRUE(std::isfinite(mark.x));
        for (const Bar& bar : overviewBars(frame)) EXPECT_TRUE(finite(bar));
        EXPECT_TRUE(finite(scopeRect(frame)));
        for (const MarkerBox& box : markerBoxes(frame, 0.0, song.endTime)) EXPECT_TRUE(std::isfinite(box.x0));
    }
}

TEST(DegenerateSongs, APositionBeyondTheEventsCentresOnTheLastEvent) {
    Song song;
    Meta meta;
    SongBuilder().note(0.0, 1.0, 60, 100, 0, true).note(2.0, 1.0, 62, 100, 0, true).build(song);
    LocalSpan span;
    ASSERT_TRUE(localSpan(frameOf(song, meta, 1000), span));
    EXPECT_EQ(span.centre, song.lastEvent);
    EXPECT_DOUBLE_EQ(span.now, 3.0);
    EXPECT_EQ(localScene(frameOf(song, meta, 1000)).bars.size(), 2u);
    Song empty;
    EXPECT_TRUE(localScene(frameOf(empty, meta, 0)).bars.empty());
}

TEST(HelpText, HasFifteenLinesOfNinetyOneCharacters) {
    for (const char* line : helpLines) {
        EXPECT_EQ(std::strlen(line), 91u) << line;
        EXPECT_EQ(line[0], ' ');
        EXPECT_EQ(line[89], '|');
        EXPECT_EQ(line[90], '\n');
    }
    EXPECT_NE(std::strstr(helpLines[1], "F1  this screen (toggle)"), nullptr);
    EXPECT_NE(std::strstr(helpLines[14], "|--------------------------------------------|"), nullptr);
    // S sits in the Edit column's first free row, its key under the M of toggle Marker.
    EXPECT_EQ(std::string(helpLines[12]).substr(46),
              "|                 S  save the take         |\n");
    EXPECT_EQ(std::string(helpLines[13]).substr(46), "|                 K  count-in (one bar)    |\n");
    EXPECT_EQ(std::strchr(helpLines[12] + 46, 'S') - helpLines[12], std::strchr(helpLines[5] + 46, 'M') - helpLines[5]);
}

TEST(RedrawThrottle, AnExpensiveOverviewWaitsOutItsLastDrawingTime) {
    Nolari n;
    n.lastDrawDuration = 0.05;
    const double before = clockSeconds();
    n.requestRedisplay();
    EXPECT_GE(n.redrawNotBefore, before + 0.05);
    EXPECT_FALSE(n.overviewDue(n.redrawNotBefore - 0.01));
    EXPECT_TRUE(n.redrawPending);
    EXPECT_TRUE(n.overviewDue(n.redrawNotBefore));
    EXPECT_FALSE(n.redrawPending);
}

TEST(RedrawThrottle, ACheapOverviewIsNeverHeldBack) {
    Nolari n;
    n.lastDrawDuration = 0.002;
    n.requestRedisplay();
    EXPECT_EQ(n.redrawNotBefore, 0.0);
    EXPECT_TRUE(n.overviewDue(clockSeconds()));
    EXPECT_FALSE(n.redrawPending);
}

// MIDI input moves the position and adds tempo points on its own thread under the engine lock;
// frames and clicks on the GUI thread must read them under the same lock (ThreadSanitizer checks
// this test).
TEST(DisplayConcurrency, FramesAndClicksTakeThePositionUnderTheEngineLock) {
    Nolari n;
    SongBuilder b;
    for (int i = 0; i < 200; ++i) b.note(0.5 * i, 0.4, 60 + i % 12, 100, 0, true);
    b.build(*n.song);
    n.songLoaded = true;
    const int32_t events = static_cast<int32_t>(n.song->numEvents);
    std::thread midi([&n, events] {
        for (int i = 0; i < 2000; ++i) {
            std::lock_guard<std::recursive_mutex> guard(n.engineLock);
            n.position = (i * 7) % events;
            n.tempoCurve.add(0.5 * (i % 200), 100 + i % 50);
        }
    });
    size_t drawn = 0;
    for (int i = 0; i < 300; ++i) {
        const ViewFrame frame = n.viewFrame();
        ASSERT_GE(frame.position, 0);
        ASSERT_LT(frame.position, events);
        drawn += localScene(frame).bars.size();
        drawn += tempoPicture(frame).lines.size();
        n.seekGroup(0.5 * (i % 200));
    }
    midi.join();
    EXPECT_GT(drawn, 0u);
}

#include <gtest/gtest.h>

#include "EngineTest.h"

namespace {

// One note group every 2 s from 0 to 20 s, each a single 1 s note: the group at 2k s is event 2k.
SongBuilder groupsEveryTwoSeconds() {
    SongBuilder song;
    for (int k = 0; k <= 10; ++k) song.note(2.0 * k, 1, static_cast<uint8_t>(60 + k), 100, 0, true);
    return song;
}

// Many short groups, enough events for markers far apart.
SongBuilder longSong() {
    SongBuilder song;
    for (int k = 0; k < 60; ++k) song.note(0.5 * k, 0.25, 60, 100, 0, true);
    return song;
}

}  // namespace

class Screens : public EngineTest {
protected:
    Screens() { load(groupsEveryTwoSeconds()); }
};

TEST_F(Screens, ForwardMovesToTheFirstGroupAtHalfAZoomLater) {
    n.position = 4;  // 4.0 s
    n.forwardScreen();
    EXPECT_EQ(n.position, 10);  // 10.0 s
    EXPECT_EQ(n.meta->position, 10u);
    EXPECT_EQ(resets(), 1);
}

TEST_F(Screens, BackMovesToTheLatestGroupAtHalfAZoomEarlier) {
    n.position = 10;
    n.backScreen();
    EXPECT_EQ(n.position, 4);
    EXPECT_EQ(n.meta->position, 4u);
}

TEST_F(Screens, ScreenStepFollowsTheZoom) {
    n.meta->zoom = 3;  // 1.5 s: the next group is far enough
    n.position = 4;
    n.forwardScreen();
    EXPECT_EQ(n.position, 6);
}

TEST_F(Screens, ForwardNearTheEndStopsAtTheLastGroupStart) {
    n.position = 16;
    n.forwardScreen();
    EXPECT_EQ(n.position, 20);
    n.forwardScreen();
    EXPECT_EQ(n.position, 20);
    EXPECT_EQ(resets(), 2);
}

TEST_F(Screens, BackNearTheStartStopsAtTheFirstGroupStart) {
    n.position = 4;
    n.backScreen();
    EXPECT_EQ(n.position, 0);
    n.meta->position = 77;
    n.backScreen();
    EXPECT_EQ(n.position, 0);
    EXPECT_EQ(n.meta->position, 77u);
}

class Steps : public EngineTest {
protected:
    Steps() { load(groupsEveryTwoSeconds()); }
};

TEST_F(Steps, NextAndPreviousNoteMoveOneGroupAndSilence) {
    n.trackNoteOn(0, 60, 100);
    n.position = 1;  // inside the first group
    n.nextNote();
    EXPECT_EQ(n.position, 2);
    EXPECT_EQ(n.soundingCount(), 0);
    n.nextNote();
    n.previousNote();
    EXPECT_EQ(n.position, 2);
    n.position = 3;
    n.previousNote();
    EXPECT_EQ(n.position, 2);
    EXPECT_EQ(n.meta->position, 2u);
}

TEST_F(Steps, NextNoteAtTheLastGroupStaysButSilences) {
    n.position = 20;
    n.trackNoteOn(0, 70, 100);
    n.nextNote();
    EXPECT_EQ(n.position, 20);
    EXPECT_EQ(n.soundingCount(), 0);
    EXPECT_EQ(resets(), 1);
}

TEST_F(Steps, PreviousNoteAtTheStartStaysButSilences) {
    n.previousNote();
    EXPECT_EQ(n.position, 0);
    EXPECT_EQ(resets(), 1);
}

TEST_F(Steps, GoToStartMovesToTheFirstEvent) {
    n.position = 13;
    n.goToStart();
    EXPECT_EQ(n.position, 0);
    EXPECT_EQ(n.meta->position, 0u);
    EXPECT_EQ(resets(), 1);
}

TEST_F(Steps, GroupStartSearchesNeverReturnTheLastEvent) {
    load(SongBuilder().note(0, 1, 60, 100, 0, true).note(2, 1, 62, 100, 0, true));
    event(3).start = 1;  // a group start on the last event itself
    EXPECT_EQ(n.nextGroupStart(&event(0)), &event(2));
    EXPECT_EQ(n.nextGroupStart(&event(2)), nullptr);
    EXPECT_EQ(n.nextGroupStart(&event(3)), nullptr);
    n.position = 3;
    EXPECT_EQ(n.previousGroupStart(), &event(2));
    n.position = 0;
    EXPECT_EQ(n.previousGroupStart(), nullptr);
}

TEST_F(Steps, NextNoteOnLooksNoFurtherThanTheEventBeforeTheLast) {
    load(SongBuilder().channelEvent(0, 0xB0, 0, 7, 1).note(1, 1, 60).channelEvent(3, 0xB0, 0, 7, 1));
    EXPECT_EQ(n.nextNoteOn(), &event(1));
    n.position = 2;
    EXPECT_EQ(n.nextNoteOn(), nullptr);
}

class MarkerMoves : public EngineTest {
protected:
    MarkerMoves() { load(longSong()); }
    void mark(std::initializer_list<uint32_t> indices) {
        for (uint32_t i : indices) n.meta->setMarker(i);
    }
};

TEST_F(MarkerMoves, NextAndPreviousWrapAround) {
    mark({0, 100});
    n.position = 50;
    n.previousMarker();
    EXPECT_EQ(n.position, 0);
    n.position = 50;
    n.nextMarker();
    EXPECT_EQ(n.position, 100);
    EXPECT_EQ(n.meta->position, 100u);
    n.nextMarker();
    EXPECT_EQ(n.position, 0);
    n.previousMarker();
    EXPECT_EQ(n.position, 100);
    EXPECT_EQ(resets(), 4) << "every marker jump silences, as the other jumps do";
}

TEST_F(MarkerMoves, WithoutMarkersNothingMoves) {
    n.position = 7;
    n.nextMarker();
    n.previousMarker();
    n.goToMarker(0);
    EXPECT_EQ(n.position, 7);
}

TEST_F(MarkerMoves, NumberedMarkerBeyondTheCountDoesNothing) {
    mark({10, 20});
    n.goToMarker(2);
    EXPECT_EQ(n.position, 0);
    n.goToMarker(1);
    EXPECT_EQ(n.position, 20);
    n.goToMarker(-1);
    EXPECT_EQ(n.position, 20);
}

TEST_F(MarkerMoves, ToggleSetsThenClearsAtThePosition) {
    n.position = 30;
    n.toggleMarker();
    EXPECT_TRUE(n.meta->isMarker(30));
    n.toggleMarker();
    EXPECT_EQ(n.meta->numMarkers(), 0u);
    EXPECT_EQ(n.position, 30);
}

TEST_F(MarkerMoves, MarkerBeyondTheSongLeadsToTheLastEvent) {
    mark({5, 5000});
    n.position = 50;
    n.nextMarker();
    EXPECT_EQ(n.position, 119);
    EXPECT_EQ(n.meta->position, 119u);
}

class Grouping : public EngineTest {
protected:
    // A group of three Note Ons at 0 s, then single notes at 1 s and 2 s.
    Grouping() {
        load(SongBuilder()
                 .note(0, 0.5, 60, 100, 0, true)
                 .note(0.01, 0.5, 64)
                 .note(0.02, 0.5, 67)
                 .note(1, 0.5, 72, 100, 0, true)
                 .note(2, 0.5, 74, 100, 0, true));
    }
};

TEST_F(Grouping, UngroupSplitsTheLastNoteOffIntoItsOwnGroup) {
    n.ungroup();
    EXPECT_TRUE(event(2).start);
    EXPECT_EQ(n.song->numGroups, 4u);
    n.ungroup();
    EXPECT_TRUE(event(1).start);
    EXPECT_EQ(n.song->numGroups, 5u);
    n.ungroup();
    EXPECT_EQ(n.song->numGroups, 5u);
    EXPECT_EQ(startFlags(), 5);
    EXPECT_EQ(n.position, 0);
}

TEST_F(Grouping, GroupSwallowsTheFollowingGroups) {
    n.group();
    EXPECT_FALSE(event(6).start);
    EXPECT_EQ(n.song->numGroups, 2u);
    n.group();
    EXPECT_EQ(n.song->numGroups, 1u);
    n.group();
    EXPECT_EQ(n.song->numGroups, 1u);
    EXPECT_EQ(startFlags(), 1);
    EXPECT_EQ(n.position, 0);
}

TEST_F(Grouping, GroupingChangesWhatOneTapPlays) {
    n.group();
    n.tap(1, 0);
    EXPECT_EQ(takeSent().size(), 7u);  // three Note Ons, their Note Offs, then 72
}

TEST_F(Grouping, GroupAtTheLastGroupDoesNothing) {
    n.position = 8;
    n.group();
    EXPECT_EQ(n.song->numGroups, 3u);
    EXPECT_EQ(startFlags(), 3);
}

TEST_F(Grouping, UngroupOfASingleNoteDoesNothing) {
    n.position = 6;
    n.ungroup();
    EXPECT_EQ(n.song->numGroups, 3u);
    EXPECT_EQ(startFlags(), 3);
}

TEST_F(Grouping, ZoomScalesWithoutLimits) {
    n.zoom(0.5);
    EXPECT_DOUBLE_EQ(n.meta->zoom, 5.0);
    n.zoom(1e-6);
    EXPECT_DOUBLE_EQ(n.meta->zoom, 5e-6);
}

#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "EngineTest.h"
#include "config/Cfg.h"

using MessageList = std::vector<MidiMessage>;

namespace {

// Two groups: 60 at 0 s and 62 at 1 s. Events 0/1 and 2/3.
SongBuilder twoGroups() { return SongBuilder().note(0, 0.5, 60, 100, 0, true).note(1, 0.5, 62, 100, 0, true); }

}  // namespace

class Keys : public EngineTest {
protected:
    Keys() {
        load(twoGroups());
        // The file keys open the chooser; without a display it fails at once instead of waiting.
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
    }
    void key(unsigned char k, int modifiers = 0) { n.keyboardWithModifiers(k, modifiers); }
    void special(int k, int modifiers = 0) { n.specialWithModifiers(k, modifiers); }
};

TEST_F(Keys, PerformanceRowTapsWithItsIndexAndReleasesOnKeyUp) {
    key('w');
    EXPECT_EQ(n.held[1], 1);
    EXPECT_EQ(takeSent(), (MessageList{noteOn(0, 60, 100)}));
    key('E');
    EXPECT_EQ(n.held[2], 1);
    n.keyboardUp('W', 0, 0);
    EXPECT_EQ(n.held[1], 0);
    n.keyboardUp('e', 0, 0);
    EXPECT_EQ(n.heldCount, 0);
    EXPECT_EQ(n.position, 3);
    for (unsigned char k : {'r', 'T', 'y', 'U', 'i', 'O', 'p'}) {
        n.position = 0;
        key(k);
    }
    for (int index = 3; index <= 9; ++index) EXPECT_EQ(n.held[index], 1) << index;
}

TEST_F(Keys, QPlaysWithoutHoldingAndItsReleaseDoesNothing) {
    key('q');
    EXPECT_EQ(n.heldCount, 0);
    takeSent();
    n.keyboardUp('q', 0, 0);
    EXPECT_TRUE(takeSent().empty());
    EXPECT_EQ(n.soundingCount(), 1);
}

TEST_F(Keys, CtrlOrAltWithATapKeyOpensTheChooserInsteadOfPlaying) {
    key('w', GLUT_ACTIVE_ALT);
    key('E', GLUT_ACTIVE_CTRL);
    EXPECT_TRUE(takeSent().empty());
    EXPECT_EQ(n.heldCount, 0);
    EXPECT_EQ(resets(), 2);  // the chooser silences first
}

TEST_F(Keys, AltPStillPlays) {
    key('p', GLUT_ACTIVE_ALT);
    EXPECT_EQ(takeSent(), (MessageList{noteOn(0, 60, 100)}));
}

TEST_F(Keys, ShiftedTapKeysPlay) {
    key('W', GLUT_ACTIVE_SHIFT);
    EXPECT_EQ(takeSent(), (MessageList{noteOn(0, 60, 100)}));
}

TEST_F(Keys, AnyKeyClosesTheHelpAndDoesNothingElse) {
    n.helpShown = true;
    key('w');
    EXPECT_FALSE(n.helpShown);
    EXPECT_TRUE(takeSent().empty());
    n.keyboardUp('w', 0, 0);
    EXPECT_TRUE(takeSent().empty());
    EXPECT_EQ(n.position, 0);
    n.helpShown = true;
    special(GLUT_KEY_RIGHT);
    EXPECT_FALSE(n.helpShown);
    EXPECT_EQ(n.position, 0);
}

TEST_F(Keys, F1ShowsTheHelpAndF1AgainClosesIt) {
    special(GLUT_KEY_F1);
    EXPECT_TRUE(n.helpShown);
    special(GLUT_KEY_F1);
    EXPECT_FALSE(n.helpShown);
}

TEST_F(Keys, SpaceWhileListeningOnlyStopsListening) {
    n.startListening();
    key(' ');
    EXPECT_FALSE(n.listening);
    EXPECT_EQ(resets(), 2);
}

TEST_F(Keys, OtherKeysWhileListeningStopItAndThenAct) {
    n.position = 2;
    n.startListening();
    key('h');
    EXPECT_FALSE(n.listening);
    EXPECT_EQ(n.position, 0);
    n.startListening();
    special(GLUT_KEY_RIGHT);
    EXPECT_FALSE(n.listening);
    EXPECT_EQ(n.position, 2);
}

TEST_F(Keys, KeyReleaseDoesNotStopListening) {
    n.startListening();
    n.keyboardUp('w', 0, 0);
    EXPECT_TRUE(n.listening);
}

TEST_F(Keys, SpaceSilencesSoundingNotesOtherwiseStartsListening) {
    key('w');
    key(' ');
    EXPECT_FALSE(n.listening);
    EXPECT_EQ(n.soundingCount(), 0);
    EXPECT_EQ(resets(), 1);
    key(' ');
    EXPECT_TRUE(n.listening);
}

TEST_F(Keys, CommaAndFullStopSilence) {
    key(',');
    key('.');
    EXPECT_EQ(resets(), 2);
    EXPECT_EQ(dir.log(), "");
}

TEST_F(Keys, MarkerKeys) {
    for (uint32_t i = 0; i < 10; ++i) n.meta->setMarker(i * 10 + 1);  // past the end: each leads to event 3
    n.meta->clearMarker(1);
    n.meta->clearMarker(11);
    n.meta->setMarker(0);
    n.meta->setMarker(2);  // markers 0, 2, 21, 31, ...
    key('2');
    EXPECT_EQ(n.position, 2);
    key('1');
    EXPECT_EQ(n.position, 0);
    special(GLUT_KEY_F2);
    EXPECT_EQ(n.position, 2);
    key(9);
    EXPECT_EQ(n.position, 3);
    key(9, GLUT_ACTIVE_SHIFT);
    EXPECT_EQ(n.position, 2);
    key(8);
    EXPECT_EQ(n.position, 0);
    key(127);
    EXPECT_EQ(n.position, 3);
    n.position = 0;
    key('0');
    EXPECT_EQ(n.position, 3);
    n.position = 1;
    key('m');
    EXPECT_TRUE(n.meta->isMarker(1));
    key('M');
    EXPECT_FALSE(n.meta->isMarker(1));
}

TEST_F(Keys, ArrowsStepByGroupAndShiftByScreen) {
    special(GLUT_KEY_RIGHT);
    EXPECT_EQ(n.position, 2);
    special(GLUT_KEY_LEFT);
    EXPECT_EQ(n.position, 0);
    n.meta->zoom = 1;
    special(GLUT_KEY_RIGHT, GLUT_ACTIVE_SHIFT);
    EXPECT_EQ(n.position, 2);
    special(GLUT_KEY_LEFT, GLUT_ACTIVE_SHIFT);
    EXPECT_EQ(n.position, 0);
    n.position = 3;
    special(GLUT_KEY_HOME);
    EXPECT_EQ(n.position, 0);
}

TEST_F(Keys, ZoomKeysAndTheirInverses) {
    key('Z');
    EXPECT_DOUBLE_EQ(n.meta->zoom, 9.0);
    key('z');
    EXPECT_NEAR(n.meta->zoom, 10.0, 1e-12);
    special(GLUT_KEY_UP, GLUT_ACTIVE_SHIFT);
    EXPECT_NEAR(n.meta->zoom, 12.5, 1e-12);
    special(GLUT_KEY_DOWN, GLUT_ACTIVE_SHIFT);
    EXPECT_NEAR(n.meta->zoom, 10.0, 1e-12);
    special(GLUT_KEY_UP);
    EXPECT_DOUBLE_EQ(n.meta->zoom, 10.0 * 1.0204081632653061);
    special(GLUT_KEY_DOWN);
    EXPECT_NEAR(n.meta->zoom, 10.0, 1e-12);
}

TEST_F(Keys, PageKeysAndEndEditTheGrouping) {
    special(GLUT_KEY_PAGE_DOWN);
    EXPECT_EQ(n.song->numGroups, 1u);
    special(GLUT_KEY_PAGE_UP);
    EXPECT_EQ(n.song->numGroups, 2u);
    special(GLUT_KEY_PAGE_DOWN);
    special(GLUT_KEY_END);
    EXPECT_EQ(n.song->numGroups, 2u);
    EXPECT_TRUE(event(2).start);
}

TEST_F(Keys, ColourSchemeCyclesThroughFour) {
    n.cfg_->colorScheme = 2;
    key('c');
    EXPECT_EQ(n.cfg_->colorScheme, 3);
    key('C');
    EXPECT_EQ(n.cfg_->colorScheme, 0);
    n.cfg_->colorScheme = 7;
    key('c');
    EXPECT_EQ(n.cfg_->colorScheme, 0);
}

TEST_F(Keys, WidthsGrowAndShrinkButNeverBelowOne) {
    key('L');
    key('N');
    key('N');
    EXPECT_EQ(n.cfg_->lineWidth, 2);
    EXPECT_EQ(n.cfg_->noteWidth, 3);
    for (int i = 0; i < 5; ++i) {
        key('l');
        key('n');
    }
    EXPECT_EQ(n.cfg_->lineWidth, 1);
    EXPECT_EQ(n.cfg_->noteWidth, 1);
}

TEST_F(Keys, EnterTogglesFullScreenAndSavesIt) {
    key(13);
    EXPECT_TRUE(n.cfg_->fullScreen);
    EXPECT_NE(dir.read("Nolari.cfg").find("FULLSCREEN 1"), std::string::npos);
    key(10);
    EXPECT_FALSE(n.cfg_->fullScreen);
    EXPECT_NE(dir.read("Nolari.cfg").find("FULLSCREEN 0"), std::string::npos);
}

TEST_F(Keys, UnusedKeysAreLogged) {
    key('A');
    key(200);
    special(GLUT_KEY_F3);
    special(GLUT_KEY_F4);
    special(GLUT_KEY_F5);
    special(GLUT_KEY_F12);
    special(GLUT_KEY_INSERT);
    special(200);
    EXPECT_EQ(dir.log(),
              "Unused key 65 ('A')\n"
              "Unused key 200 ('\xc8')\n"
              "GLUT_KEY_F3 key unused\n"
              "GLUT_KEY_F5 key unused\n"
              "GLUT_KEY_F12 key unused\n"
              "GLUT_KEY_INSERT key unused\n"
              "<<<unknown special key 200>>>\n");
    EXPECT_TRUE(takeSent().empty());
    EXPECT_EQ(n.position, 0);
}

TEST_F(Keys, ViewAndFileKeysAreNotUnused) {
    key('v');
    key('V');
    key('f');
    key(15);
    EXPECT_EQ(dir.log().find("Unused key"), std::string::npos);
    EXPECT_EQ(resets(), 2);
}

TEST_F(Keys, ModifierKeysAloneNeitherStopListeningNorCloseTheHelp) {
    n.startListening();
    for (int k = GLUT_KEY_SHIFT_L; k <= GLUT_KEY_SUPER_R; ++k) special(k);
    special(GLUT_KEY_NUM_LOCK);
    EXPECT_TRUE(n.listening);
    n.stopListening();
    n.helpShown = true;
    special(GLUT_KEY_SHIFT_L);
    EXPECT_TRUE(n.helpShown);
    EXPECT_EQ(dir.log(), "");
}

using KeysDeathTest = Keys;

TEST_F(KeysDeathTest, EscAltQAndAltF4Quit) {
    EXPECT_EXIT(key(27), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(key('q', GLUT_ACTIVE_ALT), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(key('Q', GLUT_ACTIVE_ALT), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(special(GLUT_KEY_F4, GLUT_ACTIVE_ALT), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(logCount("Exiting.\n"), 4);
}

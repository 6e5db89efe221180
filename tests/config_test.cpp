#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "config/Cfg.h"
#include "support/TestEnv.h"

namespace {

// Loads a configuration file with the given text from a fresh starting directory.
struct Loaded {
    TestDir dir;
    Cfg cfg;
    explicit Loaded(const std::string& text, Cfg initial = Cfg{}) : cfg(initial) {
        dir.write("Nolari.cfg", text);
        cfg.load();
    }
    std::string log() const { return dir.log(); }
};

std::string withoutStamps(const std::string& log) {
    std::string out;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(start, end - start);
        if (line.size() > 26 && line[24] == ':' && line[25] == ' ') line = line.substr(26);
        out += line + "\n";
        start = end + 1;
    }
    return out;
}

// Runs a save as a user who cannot write everywhere: as root, in a child process that has become
// "nobody", since root writes into any folder.
bool savesUnprivileged(Cfg& cfg) {
    if (geteuid() != 0) return cfg.save(false);
    const pid_t child = fork();
    if (child == 0) _exit(setgid(65534) == 0 && setuid(65534) == 0 && cfg.save(false) ? 0 : 1);
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

TEST(CfgLoad, MissingFileKeepsDefaultsAndSaysSo) {
    TestDir dir;
    Cfg cfg;
    cfg.colorScheme = 3;
    cfg.load();
    EXPECT_EQ(cfg.colorScheme, 0);
    EXPECT_EQ(cfg.width, 792);
    EXPECT_FALSE(cfg.hasCurrentSong);
    const std::string missing = "ERROR: Cfg::load() '" + dir.file("Nolari.cfg") + "' not found, using defaults\n";
    EXPECT_EQ(dir.log(), missing);

    // A pipe with no writer is refused at once instead of waited on for ever.
    ASSERT_EQ(mkfifo(dir.file("Nolari.cfg").c_str(), 0600), 0);
    cfg.load();
    EXPECT_EQ(dir.log(), missing + missing);
}

TEST(CfgLoad, TextInMemoryReadsAsTheFileAndWritesWhatSaveWould) {
    TestDir dir;
    Cfg cfg;
    cfg.loadFromText("MIDIOUT  Synth one \r\nLINEWIDTH 99999999999\n");
    EXPECT_EQ(cfg.midiOutDeviceName, "Synth one ");
    EXPECT_EQ(cfg.lineWidth, 1215752191);
    EXPECT_EQ(writtenText([&](FILE* out) { cfg.write(out); }),
              "FULLSCREEN 0\nSHOWOVERVIEW 1\nMIDIOUT Synth one \nLINEWIDTH 1215752191\nNOTEWIDTH 1\nCOLORSCHEME 0\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("Nolari.cfg")));
}

TEST(CfgLoad, FullScreenAloneGivesDefaultsAndTheConfigurationDump) {
    Loaded l("FULLSCREEN 1\n");
    EXPECT_TRUE(l.cfg.fullScreen);
    EXPECT_TRUE(l.cfg.showOverview);
    EXPECT_EQ(l.cfg.height, 573);
    EXPECT_EQ(l.log(),
              " Cfg::logConfig()\n"
              "         currentSong \n"
              "    midiInDeviceName \n"
              "   midiOutDeviceName \n"
              "      hasCurrentSong false\n"
              "          fullScreen true\n"
              "          glutActive false\n"
              "                xpos 0\n"
              "                ypos 0\n"
              "               width 792\n"
              "              height 573\n");
}

TEST(CfgLoad, TagsInAnyOrderAndNumbersOverSeveralLines) {
    Loaded l("COLORSCHEME 2\nSCREENINFO 5\n6\n700\n  500\nLINEWIDTH\n3 NOTEWIDTH 4 SHOWOVERVIEW 0\n"
             "MIDIOUT Some Synth Port\nMIDIIN Keyboard 1\nCURRENTSONG /songs/my song.mid\n");
    EXPECT_EQ(l.cfg.colorScheme, 2);
    EXPECT_EQ(l.cfg.xpos, 5);
    EXPECT_EQ(l.cfg.ypos, 6);
    EXPECT_EQ(l.cfg.width, 700);
    EXPECT_EQ(l.cfg.height, 500);
    EXPECT_EQ(l.cfg.lineWidth, 3);
    EXPECT_EQ(l.cfg.noteWidth, 4);
    EXPECT_FALSE(l.cfg.showOverview);
    EXPECT_EQ(l.cfg.midiOutDeviceName, "Some Synth Port");
    EXPECT_EQ(l.cfg.midiInDeviceName, "Keyboard 1");
    EXPECT_EQ(l.cfg.currentSong, "/songs/my song.mid");
    EXPECT_TRUE(l.cfg.hasCurrentSong);
}

TEST(CfgLoad, PathLosesLeadingBlanksButKeepsInnerAndTrailingOnes) {
    Loaded l("CURRENTSONG    /a b/c.mid  \n");
    EXPECT_EQ(l.cfg.currentSong, "/a b/c.mid  ");
}

TEST(CfgLoad, WindowsLineEndsReadAsUnixOnes) {
    Loaded l("CURRENTSONG /songs/x.mid\r\nMIDIIN Keys\r\nMIDIOUT Synth\r\nSCREENINFO 1 2 3 4\r\nCOLORSCHEME 2\r\n");
    EXPECT_EQ(l.cfg.currentSong, "/songs/x.mid");
    EXPECT_EQ(l.cfg.midiInDeviceName, "Keys");
    EXPECT_EQ(l.cfg.midiOutDeviceName, "Synth");
    EXPECT_EQ(l.cfg.height, 4);
    EXPECT_EQ(l.cfg.colorScheme, 2);
}

TEST(CfgLoad, PathOnTheNextLineIsReadAsAnUnknownTag) {
    Loaded l("CURRENTSONG\n/songs/x.mid\nFULLSCREEN 1\n");
    EXPECT_EQ(l.cfg.currentSong, "");
    EXPECT_TRUE(l.cfg.hasCurrentSong);
    EXPECT_FALSE(l.cfg.fullScreen) << "reading stops at the unknown tag";
    EXPECT_EQ(withoutStamps(l.log()),
              "ERROR: unexpected tag '/songs/x.mid' in " + l.dir.file("Nolari.cfg") + ", using defaults\n");
}

TEST(CfgLoad, FlagsTakeAnyNonZeroAsTrue) {
    Loaded l("FULLSCREEN 2\n");
    EXPECT_TRUE(l.cfg.fullScreen);
}

TEST(CfgLoad, BadValueStopsReadingKeepsEarlierValuesAndResetsTheScheme) {
    Loaded l("COLORSCHEME 3\nLINEWIDTH 4\nFULLSCREEN yes\nNOTEWIDTH 9\n");
    EXPECT_EQ(l.cfg.lineWidth, 4);
    EXPECT_EQ(l.cfg.noteWidth, 1) << "fields after the error keep their values";
    EXPECT_EQ(l.cfg.colorScheme, 0);
    EXPECT_EQ(withoutStamps(l.log()), "ERROR: FULLSCREEN not followed by 0 or 1, using defaults\n");
    EXPECT_EQ(l.log().substr(24, 2), ": ") << "configuration errors carry a timestamp";
}

TEST(CfgLoad, ScreenInfoWithThreeNumbersKeepsThemAndStops) {
    Loaded l("SCREENINFO 1 2 3 SHOWOVERVIEW 0\n");
    EXPECT_EQ(l.cfg.xpos, 1);
    EXPECT_EQ(l.cfg.ypos, 2);
    EXPECT_EQ(l.cfg.width, 3);
    EXPECT_EQ(l.cfg.height, 573);
    EXPECT_TRUE(l.cfg.showOverview);
    EXPECT_EQ(withoutStamps(l.log()), "ERROR: SCREENINFO not followed by x/y/width/height, using defaults\n");
}

TEST(CfgLoad, WidthErrorsStopWithoutResettingTheScheme) {
    Loaded l("COLORSCHEME 2\nNOTEWIDTH\n");
    EXPECT_EQ(l.cfg.colorScheme, 2);
    EXPECT_EQ(withoutStamps(l.log()), "ERROR: NOTEWIDTH not followed by integer\n");
}

TEST(CfgLoad, MissingValuesAtTheEndOfTheFile) {
    EXPECT_EQ(withoutStamps(Loaded("COLORSCHEME 1 CURRENTSONG").log()),
              "ERROR: CURRENTSONG not followed by path, using defaults\n");
    EXPECT_EQ(withoutStamps(Loaded("MIDIIN").log()), "ERROR: MIDIIN not followed by device name, using defaults\n");
    EXPECT_EQ(withoutStamps(Loaded("MIDIOUT").log()), "ERROR: MIDIOUT not followed by device name, using defaults\n");
    EXPECT_EQ(withoutStamps(Loaded("SHOWOVERVIEW").log()),
              "ERROR: SHOWOVERVIEW not followed by 0 or 1, using defaults\n");
    EXPECT_EQ(withoutStamps(Loaded("LINEWIDTH x").log()), "ERROR: LINEWIDTH not followed by integer\n");
    EXPECT_EQ(withoutStamps(Loaded("COLORSCHEME").log()), "ERROR: COLORSCHEME not followed by integer\n");
}

TEST(CfgLoad, LongWordIsCutAfterTwentyCharacters) {
    Loaded l("FULLSCREENFULLSCREENFULLS 1\n");
    EXPECT_EQ(withoutStamps(l.log()),
              "ERROR: unexpected tag 'FULLSCREENFULLSCREEN' in " + l.dir.file("Nolari.cfg") + ", using defaults\n");
}

TEST(CfgLoad, NumbersHaveNoRange) {
    Loaded l("LINEWIDTH 0\nNOTEWIDTH -3\nCOLORSCHEME 7\n");
    EXPECT_EQ(l.cfg.lineWidth, 0);
    EXPECT_EQ(l.cfg.noteWidth, -3);
    EXPECT_EQ(l.cfg.colorScheme, 7);
}

TEST(CfgLoad, SchemeIsZeroUnlessTheFileSetsIt) {
    Cfg before;
    before.colorScheme = 2;
    Loaded l("FULLSCREEN 0\n", before);
    EXPECT_EQ(l.cfg.colorScheme, 0);
}

TEST(CfgSave, WritesTheFixedOrderAndSkipsEmptyNames) {
    TestDir dir;
    Cfg cfg;
    cfg.currentSong = "/s/a b.mid";
    cfg.lineWidth = 2;
    cfg.colorScheme = 3;
    ASSERT_TRUE(cfg.save(false));
    EXPECT_EQ(dir.read("Nolari.cfg"),
              "CURRENTSONG /s/a b.mid\nFULLSCREEN 0\nSHOWOVERVIEW 1\nLINEWIDTH 2\nNOTEWIDTH 1\nCOLORSCHEME 3\n");
    cfg.midiInDeviceName = "In";
    cfg.midiOutDeviceName = "Out";
    cfg.fullScreen = true;
    ASSERT_TRUE(cfg.save(true)) << "while full screen the stored geometry is written without asking GLUT";
    EXPECT_EQ(dir.read("Nolari.cfg"),
              "CURRENTSONG /s/a b.mid\nFULLSCREEN 1\nSCREENINFO 0 0 792 573\nSHOWOVERVIEW 1\nMIDIIN In\nMIDIOUT Out\n"
              "LINEWIDTH 2\nNOTEWIDTH 1\nCOLORSCHEME 3\n");
    EXPECT_TRUE(cfg.glutActive);
}

TEST(CfgSave, SavedPositionIsTheFramesSoTheWindowReopensWhereItWas) {
    EXPECT_EQ(frameCorner({108, 137}, 8, 37), (WindowCorner{100, 100}));
    EXPECT_EQ(frameCorner({-42, 17}, 8, 37), (WindowCorner{-50, -20})) << "off the screen stays off the screen";
    EXPECT_EQ(frameCorner({10, 20}, 0, 0), (WindowCorner{10, 20}));
    EXPECT_EQ(frameCorner({10, 20}, -1, -1), (WindowCorner{10, 20})) << "decorations not reported count as none";
}

TEST(CfgSave, SavedFileLoadsBackToTheSameSettings) {
    TestDir dir;
    Cfg saved;
    saved.currentSong = "/x/y z.mid";
    saved.midiOutDeviceName = "FluidSynth GM";
    saved.showOverview = false;
    saved.noteWidth = 5;
    saved.colorScheme = 1;
    saved.fullScreen = true;
    saved.save(true);
    Cfg loaded;
    loaded.load();
    EXPECT_EQ(loaded.currentSong, saved.currentSong);
    EXPECT_TRUE(loaded.hasCurrentSong);
    EXPECT_EQ(loaded.midiOutDeviceName, saved.midiOutDeviceName);
    EXPECT_EQ(loaded.midiInDeviceName, "");
    EXPECT_FALSE(loaded.showOverview);
    EXPECT_EQ(loaded.noteWidth, 5);
    EXPECT_EQ(loaded.colorScheme, 1);
    EXPECT_TRUE(loaded.fullScreen);
}

TEST(CfgSave, SettersThatSaveAndTheirLogLines) {
    TestDir dir;
    Cfg cfg;
    cfg.setMidiOutDevice("Synth");
    EXPECT_NE(dir.read("Nolari.cfg").find("MIDIOUT Synth\n"), std::string::npos);
    cfg.setCurrentSong("/a.mid");
    EXPECT_TRUE(cfg.hasCurrentSong);
    EXPECT_EQ(dir.read("Nolari.cfg").rfind("CURRENTSONG /a.mid\n", 0), 0u);
    cfg.setMidiInDevice("Keys");
    EXPECT_NE(dir.read("Nolari.cfg").find("MIDIIN Keys\n"), std::string::npos);
    cfg.setFullScreen(true);
    EXPECT_NE(dir.read("Nolari.cfg").find("FULLSCREEN 1\n"), std::string::npos);
    EXPECT_FALSE(cfg.glutActive) << "setters neither raise nor lower glutActive";
    EXPECT_EQ(dir.log(), "Cfg::setMidiOutDevice(Synth)\nCfg::setCurrentSong(/a.mid)\n");
}

TEST(CfgSave, FailedSaveReportsItselfAndKeepsTheOldFile) {
    TestDir dir;
    dir.write("Nolari.cfg", "FULLSCREEN 1\n");
    // A folder where the new file would be written makes the write fail, even for root.
    mkdir(dir.file("Nolari.cfg.tmp").c_str(), 0755);
    Cfg cfg;
    EXPECT_FALSE(cfg.save(false));
    EXPECT_EQ(dir.read("Nolari.cfg"), "FULLSCREEN 1\n");
    EXPECT_EQ(withoutStamps(dir.log()), "ERROR: unable to open " + dir.file("Nolari.cfg") + " for writing\n");
}

TEST(CfgSave, ReplacesTheFileWholeLeavingNoTemporaryBehind) {
    TestDir dir;
    dir.write("Nolari.cfg", std::string(5000, '#'));
    Cfg cfg;
    ASSERT_TRUE(cfg.save(false));
    EXPECT_EQ(dir.read("Nolari.cfg"), "FULLSCREEN 0\nSHOWOVERVIEW 1\nLINEWIDTH 1\nNOTEWIDTH 1\nCOLORSCHEME 0\n");
    EXPECT_EQ(dir.read("Nolari.cfg.tmp"), "");
}

TEST(CfgSave, WritesThroughALinkKeepsPermissionsAndSavesInAFolderThatTakesNoNewFile) {
    TestDir dir;
    const std::string folder = dir.file("real"), real = dir.file("real/Nolari.cfg");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    writeFile(real, "FULLSCREEN 1\n");
    ASSERT_EQ(chmod(real.c_str(), 0606), 0);
    ASSERT_EQ(symlink("real/Nolari.cfg", dir.file("Nolari.cfg").c_str()), 0);
    Cfg cfg;
    ASSERT_TRUE(cfg.save(false));
    struct stat link, file;
    ASSERT_EQ(lstat(dir.file("Nolari.cfg").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    ASSERT_EQ(stat(real.c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 07777, 0606u);
    EXPECT_EQ(readFile(real).rfind("FULLSCREEN 0\n", 0), 0u);

    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    cfg.lineWidth = 3;
    EXPECT_TRUE(savesUnprivileged(cfg));
    EXPECT_NE(readFile(real).find("LINEWIDTH 3\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(real + ".tmp"));
    chmod(folder.c_str(), 0755);
}

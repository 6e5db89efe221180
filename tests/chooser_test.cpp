#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <regex>

#include "midi/FileChooser.h"
#include "support/TestEnv.h"

namespace {

bool accepts(GtkFileFilter* filter, const char* name) {
    GtkFileFilterInfo info{};
    info.contains = static_cast<GtkFileFilterFlags>(GTK_FILE_FILTER_FILENAME | GTK_FILE_FILTER_DISPLAY_NAME);
    const std::string full = std::string("/songs/") + name;
    info.filename = full.c_str();
    info.display_name = name;
    return gtk_file_filter_filter(filter, &info);
}

}  // namespace

TEST(MidiFileFilter, MatchesTheMidExtensionInAnyLetterCase) {
    GtkFileFilter* filter = midiFileFilter();
    g_object_ref_sink(filter);
    EXPECT_STREQ(gtk_file_filter_get_name(filter), "MIDI Files (*.mid)");
    EXPECT_TRUE(accepts(filter, "song.mid"));
    EXPECT_TRUE(accepts(filter, "SONG.MID"));
    EXPECT_TRUE(accepts(filter, "Bach Prelude.Mid"));
    EXPECT_FALSE(accepts(filter, "song.midi"));
    EXPECT_FALSE(accepts(filter, "song.mid.mta"));
    EXPECT_FALSE(accepts(filter, "song.kar"));
    EXPECT_FALSE(accepts(filter, "mid"));
    g_object_unref(filter);
}

TEST(ChooseMidiFile, WithoutDisplayLogsTheStepsAndFailsInsteadOfEndingTheProgram) {
    TestDir dir;
    const char* display = std::getenv("DISPLAY");
    const std::string savedDisplay = display ? display : "";
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    std::string path = "/keep/this.mid";
    EXPECT_FALSE(chooseMidiFile(path));
    if (display) setenv("DISPLAY", savedDisplay.c_str(), 1);
    EXPECT_EQ(path, "/keep/this.mid");

    const std::string stamp = "[A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4}: ";
    const std::regex expected(stamp + "vi\\.dwBuildNumber: \\d+\n" +
                              stamp + "vi\\.dwMajorVersion: [1-9]\\d*\n" +
                              stamp + "vi\\.dwMinorVersion: \\d+\n" +
                              stamp + "vi\\.dwPlatformId: 0\n" +
                              stamp + "vi\\.szCSDVersion: Linux [^\n]+\n" +
                              stamp + "sizeof\\(OPENFILENAME\\):88 OPENFILENAME_SIZE_VERSION_400A:76 "
                                      "OPENFILENAME_SIZE_VERSION_400W:76\n" +
                              stamp + "before new CFileDialog\n"
                                      "ERROR: unable to make new CFileDialog\n");
    EXPECT_TRUE(std::regex_match(dir.log(), expected)) << dir.log();
}

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <sstream>
#include <vector>

#include "support/TestEnv.h"
#include "ui/FileChooser.h"

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

    // Seven stamped lines ("Www Mmm dd hh:mm:ss yyyy: " is 26 characters), then the failure.
    std::istringstream log(dir.log());
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 8u) << dir.log();
    for (int i = 0; i < 7; ++i) ASSERT_EQ(lines[i].substr(24, 2), ": ") << lines[i];
    auto text = [&](int i) { return lines[i].substr(26); };
    EXPECT_TRUE(text(0).starts_with("vi.dwBuildNumber: "));
    EXPECT_TRUE(text(1).starts_with("vi.dwMajorVersion: "));
    EXPECT_NE(text(1), "vi.dwMajorVersion: 0");
    EXPECT_TRUE(text(2).starts_with("vi.dwMinorVersion: "));
    EXPECT_EQ(text(3), "vi.dwPlatformId: 0");
    EXPECT_TRUE(text(4).starts_with("vi.szCSDVersion: Linux ")) << text(4);
    EXPECT_EQ(text(5), "sizeof(OPENFILENAME):88 OPENFILENAME_SIZE_VERSION_400A:76 OPENFILENAME_SIZE_VERSION_400W:76");
    EXPECT_EQ(text(6), "before new CFileDialog");
    EXPECT_EQ(lines[7], "ERROR: unable to make new CFileDialog");
}

#pragma once
// A test's own starting and working directory with one song file in it, loaded from bytes that
// SmfWriter builds. The working directory is where the default grouping writes "histogram.xls".

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "song/Song.h"
#include "support/SmfWriter.h"
#include "support/TestEnv.h"

class SongFixture : public testing::Test {
protected:
    SongFixture() {
        if (!getcwd(previousDirectory_, sizeof previousDirectory_)) previousDirectory_[0] = 0;
        EXPECT_EQ(chdir(dir.path().c_str()), 0);
    }
    ~SongFixture() override {
        if (previousDirectory_[0] && chdir(previousDirectory_) != 0) ADD_FAILURE() << "cannot return to the old directory";
    }

    bool load(SmfWriter& writer) {
        writer.save(songPath);
        return song.load(songPath);
    }
    bool loadBytes(const std::string& bytes) {
        writeFile(songPath, bytes);
        return song.load(songPath);
    }

    TestDir dir;
    std::string songPath = dir.file("song.mid");
    Song song;

private:
    char previousDirectory_[4096];
};

// True when the log is exactly one line that logStamped wrote with the given text: a time stamp
// of 24 characters, ": ", the text.
inline bool isStampedLine(const std::string& log, const std::string& text) {
    if (log.size() != 26 + text.size() || log.compare(24, 2, ": ") != 0) return false;
    for (std::size_t at : {3, 7, 10, 19})
        if (log[at] != ' ') return false;
    return log[13] == ':' && log[16] == ':' && log.compare(26, std::string::npos, text) == 0;
}

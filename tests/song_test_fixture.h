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

// The pattern of the time stamp that logStamped puts before its text.
inline const char* stampPattern() { return "[A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4}: "; }

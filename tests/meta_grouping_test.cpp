// The default grouping of a new song's notes, found from the histogram of note-on distances.

#include <sstream>
#include <vector>

#include "song/Meta.h"
#include "song_test_fixture.h"

namespace {

class DefaultGrouping : public SongFixture {
protected:
    std::vector<double> histogram() const {
        std::istringstream in(dir.read("histogram.xls"));
        std::vector<double> bins;
        for (double v; in >> v;) bins.push_back(v);
        return bins;
    }
    std::vector<uint32_t> groupStarts() const {
        std::vector<uint32_t> starts;
        for (uint32_t i = 0; i < song.numEvents; ++i)
            if (song.event(i)->start) starts.push_back(i);
        return starts;
    }
    Meta meta;
};

}  // namespace

TEST_F(DefaultGrouping, BlockChordsFindNoGapAndEachChordIsOneGroup) {
    SmfWriter w;
    for (uint32_t c = 0; c < 20; ++c) w.note(c * 480, 240, 60).note(c * 480, 240, 64).note(c * 480, 240, 67);
    ASSERT_TRUE(load(w));
    EXPECT_EQ(meta.histogramCutoff(song), 20);
    meta.findDefaultGroups(song);
    EXPECT_EQ(song.numGroups, 20u);
    // Each chord's first note-on starts it: three note-ons then three note-offs per chord.
    const std::vector<uint32_t> starts = groupStarts();
    ASSERT_EQ(starts.size(), 20u);
    for (uint32_t c = 0; c < 20; ++c) EXPECT_EQ(starts[c], c * 6);
}

TEST_F(DefaultGrouping, RolledChordsAreSplitAtHalfTheFilteredGap) {
    SmfWriter w;
    for (uint32_t c = 0; c < 100; ++c) {
        const uint32_t t = c * 24;
        w.note(t, 20, 60).note(t + 1, 19, 64).note(t + 3, 17, 67);
    }
    ASSERT_TRUE(load(w));
    EXPECT_EQ(meta.histogramCutoff(song), 3);
    const std::vector<double> bins = histogram();
    ASSERT_EQ(bins.size(), 1000u);
    for (int i = 0; i <= 9; ++i) EXPECT_GT(bins[i], 0) << i;
    for (int i = 10; i <= 16; ++i) EXPECT_EQ(bins[i], 0) << i;
    EXPECT_GT(bins[17], 0);
    for (double v : bins) EXPECT_TRUE(v >= 0 && v <= 10);

    meta.findDefaultGroups(song);
    EXPECT_EQ(song.numGroups, 100u);
    for (uint32_t i : groupStarts()) EXPECT_EQ(song.event(i)->ticks % 24, 0u);
}

TEST_F(DefaultGrouping, FarNoteOnsAddNothingButResetTheDistance) {
    SmfWriter far;
    far.note(0, 10, 60).note(2000, 10, 60).note(2001, 10, 62);
    ASSERT_TRUE(load(far));
    meta.histogramCutoff(song);
    const std::vector<double> farBins = histogram();

    SmfWriter near;
    near.note(0, 10, 60).note(1, 10, 62);
    ASSERT_TRUE(load(near));
    meta.histogramCutoff(song);
    EXPECT_EQ(histogram(), farBins);
}

TEST_F(DefaultGrouping, FastRunStaysOneGroupHoweverLong) {
    SmfWriter w;
    for (uint32_t i = 0; i < 300; ++i) w.note(i * 6, 4, static_cast<uint8_t>(50 + i % 30));
    for (uint32_t i = 0; i < 300; ++i) w.note(3000 + i * 6, 4, static_cast<uint8_t>(50 + i % 30));
    ASSERT_TRUE(load(w));
    meta.findDefaultGroups(song);
    EXPECT_EQ(song.numGroups, 2u);
    EXPECT_EQ(groupStarts(), (std::vector<uint32_t>{0, 600}));
}

TEST_F(DefaultGrouping, SongWithoutNoteOnsHasNoGroups) {
    SmfWriter w;
    w.controller(0, 7, 100).program(10, 3).off(20, 60);
    ASSERT_TRUE(load(w));
    song.startGroupAt(0);
    EXPECT_EQ(meta.histogramCutoff(song), 20);
    for (double v : histogram()) ASSERT_EQ(v, 0);
    meta.findDefaultGroups(song);
    EXPECT_EQ(song.numGroups, 0u);
}

TEST_F(DefaultGrouping, TraceLogsTheCutoffOnlyWhenSwitchedOn) {
    SmfWriter w;
    w.note(0, 10, 60).note(480, 10, 62);
    ASSERT_TRUE(load(w));
    meta.findDefaultGroups(song);
    EXPECT_EQ(dir.log(), "");
    meta.trace = true;
    meta.path = "song.mid.mta";
    meta.findDefaultGroups(song);
    EXPECT_EQ(dir.log(), "Meta::findDefaultGroups(song.mid.mta), cutoff = 20\n");
}

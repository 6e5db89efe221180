// The performer's markers: up to twelve event indices, kept ascending without duplicates.

#include <vector>

#include "perform/Loop.h"
#include "song/Meta.h"
#include "song_test_fixture.h"

namespace {

std::vector<uint32_t> markersOf(const Meta& meta) {
    std::vector<uint32_t> all;
    for (uint32_t i = 0; i < meta.numMarkers(); ++i) all.push_back(meta.marker(i));
    return all;
}

class Markers : public SongFixture {
protected:
    Meta meta;
};

}  // namespace

TEST_F(Markers, KeptInAscendingOrder) {
    meta.setMarker(30);
    meta.setMarker(10);
    meta.setMarker(20);
    EXPECT_EQ(markersOf(meta), (std::vector<uint32_t>{10, 20, 30}));
    EXPECT_EQ(meta.marker(0), 10u);
    meta.setMarker(0x80000000u);
    meta.setMarker(5);
    EXPECT_EQ(markersOf(meta), (std::vector<uint32_t>{5, 10, 20, 30, 0x80000000u}));
    EXPECT_EQ(dir.log(), "");
}

TEST_F(Markers, ClearingOneKeepsTheRestInOrder) {
    for (uint32_t v : {10u, 20u, 30u}) meta.setMarker(v);
    meta.clearMarker(20);
    EXPECT_EQ(markersOf(meta), (std::vector<uint32_t>{10, 30}));
    EXPECT_EQ(meta.numMarkers(), 2u);
    EXPECT_FALSE(meta.isMarker(20));
    EXPECT_TRUE(meta.isMarker(30));
}

TEST_F(Markers, ThirteenthIsDroppedSilently) {
    for (uint32_t v = 1; v <= 12; ++v) meta.setMarker(v * 10);
    meta.setMarker(5);
    EXPECT_EQ(meta.numMarkers(), 12u);
    EXPECT_FALSE(meta.isMarker(5));
    EXPECT_EQ(dir.log(), "");
}

TEST_F(Markers, SettingTwiceOrClearingAMissingOneIsLogged) {
    meta.setMarker(10);
    meta.setMarker(10);
    meta.clearMarker(7);
    EXPECT_EQ(dir.log(), "ERROR: Meta::setMarker( 10 ) already set\nERROR: Meta::clearMarker( 7 ) not set\n");
    EXPECT_EQ(markersOf(meta), (std::vector<uint32_t>{10}));
}

TEST_F(Markers, FileMarkersAreSortedWithoutRepeatsAndSavedAscending) {
    SmfWriter w;
    for (uint32_t i = 0; i < 20; ++i) w.note(i * 100, 50, 60);
    ASSERT_TRUE(load(w));
    std::string text = "MARKER 30\nMARKER 10\nMARKER 30\n";
    for (uint32_t v = 1; v <= 12; ++v) text += "MARKER " + std::to_string(v) + "\n";
    writeFile(songPath + ".mta", text);
    meta.load(songPath, song);
    EXPECT_EQ(dir.log(), "ERROR: Meta::setMarker( 30 ) already set\nERROR: Meta::setMarker( 10 ) already set\n");
    EXPECT_EQ(markersOf(meta), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 30}));
    meta.save(song);
    const std::string saved = readFile(songPath + ".mta");
    EXPECT_NE(saved.find("MARKER 1\nMARKER 2\nMARKER 3\n"), std::string::npos);
    EXPECT_NE(saved.find("MARKER 11\nMARKER 30\n"), std::string::npos);
}

TEST_F(Markers, TraceListsTheMarkersOnlyWhenSwitchedOn) {
    meta.trace = true;
    meta.setMarker(5);
    meta.setMarker(2);
    meta.clearMarker(5);
    EXPECT_EQ(dir.log(),
              "Meta::setMarker(5)\nMARKERS: [0]=5  \n"
              "Meta::setMarker(2)\nMARKERS: [0]=2  [1]=5  \n"
              "Meta::clearMarker(5)\nMARKERS: [0]=2  \n");
}

// The loop's passage runs from the last marker at or before the position to the next marker.
TEST_F(Markers, LoopPassageLiesBetweenTheMarkersAroundThePosition) {
    for (uint32_t m : {10u, 20u, 30u}) meta.setMarker(m);
    Loop loop;
    const auto passageAt = [&](uint32_t position) {
        loop.choose(meta, position);
        const Passage& p = loop.passage();
        return p.exists ? std::vector<uint32_t>{p.start, p.end} : std::vector<uint32_t>{};
    };
    EXPECT_EQ(passageAt(15), (std::vector<uint32_t>{})) << "the loop is off";
    meta.loop = true;
    EXPECT_EQ(passageAt(9), (std::vector<uint32_t>{})) << "before the first marker";
    EXPECT_EQ(passageAt(10), (std::vector<uint32_t>{10, 20}));
    EXPECT_EQ(passageAt(19), (std::vector<uint32_t>{10, 20}));
    EXPECT_EQ(passageAt(20), (std::vector<uint32_t>{20, 30}));
    EXPECT_EQ(passageAt(30), (std::vector<uint32_t>{})) << "at the last marker";
    EXPECT_EQ(passageAt(31), (std::vector<uint32_t>{})) << "after the last marker";
    loop.choose(meta, 15);
    EXPECT_TRUE(loop.wraps(20)) << "a group beginning at the end marker or later";
    EXPECT_FALSE(loop.wraps(19));
}

TEST(MarkersDeathTest, MarkerNumberBeyondTheMarkersEndsTheProgram) {
    TestDir dir;
    Meta meta;
    meta.setMarker(3);
    EXPECT_EXIT(meta.marker(1), testing::ExitedWithCode(1), "");
}

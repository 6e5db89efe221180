// The per-song metadata file: created with defaults for a new song, read back tag by tag, every
// bad argument logged, written atomically.

#include <sys/stat.h>

#include <cmath>
#include <filesystem>

#include "app/Nolari.h"
#include "config/Cfg.h"
#include "song/Meta.h"
#include "song_test_fixture.h"

namespace {

class MetaFile : public SongFixture {
protected:
    // Two chords and a single note, 480 ticks apart: three default groups.
    MetaFile() {
        SmfWriter w;
        w.note(0, 240, 60).note(0, 240, 64).note(480, 240, 62).note(960, 240, 65);
        EXPECT_TRUE(load(w));
        metaPath = songPath + ".mta";
    }
    // Loads the given metadata text for the song and returns the log it wrote.
    std::string loadMeta(const std::string& text) {
        writeFile(metaPath, text);
        dir.clearLog();
        meta.load(songPath, song);
        return dir.log();
    }
    std::string unexpected(const std::string& token) const {
        return "ERROR: unexpected tag '" + token + "' in " + metaPath + "\n";
    }

    Meta meta;
    std::string metaPath;
};

const std::string defaultHead =
    "ZOOM 10\nPOSITION 0\nCHAN16MUTE 0\nSENDPEDALEVENTS 0\nSENDSYSTEMEXCLUSIVE 1\nFORCE_CHANNEL_ONE 0\n"
    "HARMONICCOLORING 0\n";

}  // namespace

TEST_F(MetaFile, NewSongGetsDefaultsAndItsDefaultGroupingWrittenInFixedOrder) {
    meta.load(songPath, song);
    EXPECT_EQ(readFile(metaPath), defaultHead + "NOTE_GROUPS 3\n0\n480\n960\n");
    EXPECT_EQ(meta.path, metaPath);
    EXPECT_EQ(meta.song, &song);
    EXPECT_EQ(song.numGroups, 3u);
    EXPECT_TRUE(std::filesystem::exists(dir.file("histogram.xls")));
    EXPECT_FALSE(std::filesystem::exists(metaPath + ".tmp"));
    EXPECT_EQ(dir.log(), "");
}

TEST_F(MetaFile, SavedSettingsMarkersAndGroupsReadBackTheSame) {
    meta.load(songPath, song);
    meta.zoom = 1.0 / 3;
    meta.position = 4;
    meta.chan16Mute = true;
    meta.sendPedalEvents = true;
    meta.sendSystemExclusive = false;
    meta.forceChannelOne = true;
    meta.harmonicColoring = true;
    meta.setMarker(6);
    meta.setMarker(2);
    song.clearGroups();
    song.startGroupAt(0);
    song.startGroupAt(0);
    song.startGroupAt(960);
    meta.save(song);
    EXPECT_EQ(readFile(metaPath),
              "ZOOM 0.333333\nPOSITION 4\nCHAN16MUTE 1\nSENDPEDALEVENTS 1\nSENDSYSTEMEXCLUSIVE 0\n"
              "FORCE_CHANNEL_ONE 1\nHARMONICCOLORING 1\nMARKER 2\nMARKER 6\nNOTE_GROUPS 3\n0\n0\n960\n");

    Song again;
    ASSERT_TRUE(again.load(songPath));
    Meta reread;
    reread.load(songPath, again);
    EXPECT_DOUBLE_EQ(reread.zoom, 0.333333);
    EXPECT_EQ(reread.position, 4u);
    EXPECT_TRUE(reread.chan16Mute && reread.sendPedalEvents && reread.forceChannelOne && reread.harmonicColoring);
    EXPECT_FALSE(reread.sendSystemExclusive);
    ASSERT_EQ(reread.numMarkers(), 2u);
    EXPECT_EQ(reread.marker(0), 2u);
    EXPECT_EQ(reread.marker(1), 6u);
    EXPECT_EQ(again.numGroups, 3u);
    for (uint32_t i = 0; i < song.numEvents; ++i) EXPECT_EQ(again.event(i)->start, song.event(i)->start) << i;
    EXPECT_EQ(dir.log(), "");
}

TEST_F(MetaFile, ListenSpeedIsWrittenAfterTheMarkersOnlyWhenNotTheSongsOwnTempo) {
    meta.load(songPath, song);
    meta.setMarker(2);
    meta.listenSpeed = 75;
    meta.save(song);
    EXPECT_EQ(readFile(metaPath), defaultHead + "MARKER 2\nLISTENSPEED 75\nNOTE_GROUPS 3\n0\n480\n960\n");
    EXPECT_EQ(loadMeta(readFile(metaPath)), "");
    EXPECT_EQ(meta.listenSpeed, 75);
    meta.listenSpeed = 100;
    meta.save(song);
    EXPECT_EQ(readFile(metaPath), defaultHead + "MARKER 2\nNOTE_GROUPS 3\n0\n480\n960\n");
    EXPECT_EQ(loadMeta("LISTENSPEED 0\nLISTENSPEED 125\nLISTENSPEED\n"),
              "ERROR: LISTENSPEED meta tag not followed by 50, 75, 100 or 125\n"
              "ERROR: LISTENSPEED meta tag not followed by 50, 75, 100 or 125\n");
    EXPECT_EQ(meta.listenSpeed, 125) << "a bad value keeps the one read before";
}

TEST_F(MetaFile, TagsComeInAnyOrderAndLaterOnesWin) {
    EXPECT_EQ(loadMeta("POSITION 2 ZOOM 4 FIRST_NOTE_POSITION 7\nZOOM 2.5\nCHAN16MUTE 2 POSITION 3"), "");
    EXPECT_EQ(meta.zoom, 2.5);
    EXPECT_EQ(meta.position, 3u);
    EXPECT_TRUE(meta.chan16Mute);
}

TEST_F(MetaFile, WindowsLineEndsReadAsUnixOnes) {
    EXPECT_EQ(loadMeta("ZOOM 2.5\r\nPOSITION 3\r\nFORCE_CHANNEL_ONE 1\r\nMARKER 2\r\nNOTE_GROUPS 2\r\n0\r\n960\r\n"), "");
    EXPECT_EQ(meta.zoom, 2.5);
    EXPECT_EQ(meta.position, 3u);
    EXPECT_TRUE(meta.forceChannelOne);
    EXPECT_EQ(meta.numMarkers(), 1u);
    EXPECT_EQ(song.numGroups, 2u);
}

TEST_F(MetaFile, FileWithoutNoteGroupsLeavesTheSongUngroupedAndUnwritten) {
    EXPECT_EQ(loadMeta("ZOOM 5\n"), "");
    EXPECT_EQ(song.numGroups, 0u);
    EXPECT_EQ(readFile(metaPath), "ZOOM 5\n");
    meta.save(song);
    EXPECT_EQ(readFile(metaPath), "ZOOM 5\nPOSITION 0\nCHAN16MUTE 0\nSENDPEDALEVENTS 0\nSENDSYSTEMEXCLUSIVE 1\n"
                                  "FORCE_CHANNEL_ONE 0\nHARMONICCOLORING 0\n");
}

TEST_F(MetaFile, BadArgumentsLogTheirLineAndKeepTheValue) {
    EXPECT_EQ(loadMeta("ZOOM POSITION 3"), "ERROR: ZOOM meta tag not followed zoom scope\n");
    EXPECT_EQ(meta.zoom, 10);
    EXPECT_EQ(meta.position, 3u);

    // Spans that cannot be drawn are still kept as read; the views bound what they draw.
    EXPECT_EQ(loadMeta("ZOOM 0"), "");
    EXPECT_EQ(meta.zoom, 0);
    EXPECT_EQ(loadMeta("ZOOM -2"), "");
    EXPECT_EQ(meta.zoom, -2);
    EXPECT_EQ(loadMeta("ZOOM 1e999"), "");
    EXPECT_TRUE(std::isinf(meta.zoom));
    EXPECT_EQ(loadMeta("ZOOM nan"), "");
    EXPECT_TRUE(std::isnan(meta.zoom));

    EXPECT_EQ(loadMeta("POSITION 2 POSITION x"),
              "ERROR: POSITION meta tag not followed by position value\n" + unexpected("x"));
    EXPECT_EQ(meta.position, 2u);

    EXPECT_EQ(loadMeta("MARKER"), "ERROR: MARKER meta tag not followed by position\n");
    EXPECT_EQ(meta.numMarkers(), 0u);

    const char* const flags[] = {"CHAN16MUTE", "SENDPEDALEVENTS", "SENDSYSTEMEXCLUSIVE", "HARMONICCOLORING"};
    for (const char* flag : flags)
        EXPECT_EQ(loadMeta(std::string(flag) + "\n"),
                  "ERROR: " + std::string(flag) + " meta tag not followed by flag\n");
    EXPECT_TRUE(meta.sendSystemExclusive);
}

TEST_F(MetaFile, ForceChannelOneIsTrueForOneOnly) {
    EXPECT_EQ(loadMeta("FORCE_CHANNEL_ONE 1"), "");
    EXPECT_TRUE(meta.forceChannelOne);
    EXPECT_EQ(loadMeta("FORCE_CHANNEL_ONE 1 FORCE_CHANNEL_ONE 2"),
              "ERROR: FORCE_CHANNEL_ONE meta tag not followed by 0 or 1\n");
    EXPECT_FALSE(meta.forceChannelOne);
    EXPECT_EQ(loadMeta("FORCE_CHANNEL_ONE 1 FORCE_CHANNEL_ONE"),
              "ERROR: FORCE_CHANNEL_ONE meta tag not followed by 0 or 1\n");
    EXPECT_FALSE(meta.forceChannelOne);
}

TEST_F(MetaFile, NegativeMarkerIsLoggedAndSkipped) {
    EXPECT_EQ(loadMeta("MARKER -3\nMARKER 2\n"), "ERROR: invalid MARKER (-3)\n");
    ASSERT_EQ(meta.numMarkers(), 1u);
    EXPECT_EQ(meta.marker(0), 2u);
}

TEST_F(MetaFile, PositionAndMarkersBeyondTheSongBecomeItsLastEvent) {
    const uint32_t last = song.numEvents - 1;
    EXPECT_EQ(loadMeta("POSITION 99 MARKER 50 MARKER 2000000000 MARKER 1"), "ERROR: Meta::setMarker( 7 ) already set\n");
    EXPECT_EQ(meta.position, last);
    ASSERT_EQ(meta.numMarkers(), 2u);
    EXPECT_EQ(meta.marker(0), 1u);
    EXPECT_EQ(meta.marker(1), last);
    EXPECT_EQ(loadMeta("POSITION -1"), "");
    EXPECT_EQ(meta.position, last);
}

TEST_F(MetaFile, NoteGroupsReplaceTheGrouping) {
    song.startGroupAt(960);
    EXPECT_EQ(loadMeta("NOTE_GROUPS 2\n0\n480\n"), "");
    EXPECT_EQ(song.numGroups, 2u);
    EXPECT_TRUE(song.event(0)->start);
    EXPECT_FALSE(song.lastEvent[-1].start);

    EXPECT_EQ(loadMeta("NOTE_GROUPS\nZOOM 3"), "ERROR: NOTE_GROUPS meta tag not followed by count of groups\n");
    EXPECT_EQ(song.numGroups, 0u);
    EXPECT_EQ(meta.zoom, 3);
}

TEST_F(MetaFile, TooFewGroupTicksKeepWhatWasSetAndEndTheReading) {
    EXPECT_EQ(loadMeta("NOTE_GROUPS 3\n0\n480\nZOOM 3\n"), "ERROR: NOTE_GROUPS has too few groups\n");
    EXPECT_EQ(song.numGroups, 2u);
    EXPECT_EQ(meta.zoom, 10);
}

TEST_F(MetaFile, GroupTicksAfterOneThatMatchesNoNoteOnAreReadButNotApplied) {
    EXPECT_EQ(loadMeta("NOTE_GROUPS 2\n5\n480\nZOOM 3\n"), "");
    EXPECT_EQ(song.numGroups, 0u);
    EXPECT_EQ(meta.zoom, 3);
}

TEST_F(MetaFile, UnknownWordsAreEachReported) {
    EXPECT_EQ(loadMeta("TEMPO 5\nzoom 2\n"), unexpected("TEMPO") + unexpected("5") + unexpected("zoom") + unexpected("2"));
    EXPECT_EQ(loadMeta("ABCDEFGHIJKLMNOPQRSTUVWXY"), unexpected("ABCDEFGHIJKLMNOPQRST") + unexpected("UVWXY"));
    EXPECT_EQ(loadMeta("ZOOMZOOMZOOMZOOMZOOMZOOM 4"), unexpected("ZOOMZOOMZOOMZOOMZOOM"));
    EXPECT_EQ(meta.zoom, 4);
}

TEST_F(MetaFile, SongWithoutGroupsIsSavedWithoutNoteGroups) {
    meta.load(songPath, song);
    song.clearGroups();
    meta.save(song);
    EXPECT_EQ(readFile(metaPath), defaultHead);
    Song again;
    ASSERT_TRUE(again.load(songPath));
    Meta reread;
    reread.load(songPath, again);
    EXPECT_EQ(again.numGroups, 0u);
}

TEST_F(MetaFile, SaveReportsAGroupCountThatDisagreesWithTheFlags) {
    meta.load(songPath, song);
    song.addGroupCount();
    dir.clearLog();
    meta.save(song);
    EXPECT_EQ(dir.log(), "ERROR: Meta::save numGroupsFound(3) != song->numGroups(4)\n");
    EXPECT_EQ(readFile(metaPath), defaultHead + "NOTE_GROUPS 4\n0\n480\n960\n");
}

TEST_F(MetaFile, SaveWritesThroughALinkAndKeepsThePermissions) {
    meta.load(songPath, song);
    const std::string real = dir.file("real.mta");
    ASSERT_EQ(std::rename(metaPath.c_str(), real.c_str()), 0);
    ASSERT_EQ(chmod(real.c_str(), 0604), 0);
    std::filesystem::create_symlink(real, metaPath);
    meta.position = 5;
    meta.save(song);
    EXPECT_TRUE(std::filesystem::is_symlink(metaPath));
    EXPECT_NE(readFile(real).find("POSITION 5\n"), std::string::npos);
    EXPECT_EQ(std::filesystem::status(real).permissions(), std::filesystem::perms(0604));
}

TEST_F(MetaFile, UnwritableFolderIsSkippedSilently) {
    meta.load(songPath, song);
    meta.path = dir.file("missing-folder/song.mid.mta");
    dir.clearLog();
    meta.save(song);
    EXPECT_FALSE(std::filesystem::exists(meta.path));
    EXPECT_EQ(dir.log(), "");
}

TEST_F(MetaFile, EmptySongPathWritesNoFile) {
    meta.load(songPath, song);
    const std::string saved = readFile(metaPath);
    meta.load("", song);
    EXPECT_EQ(meta.path, "");
    EXPECT_EQ(readFile(metaPath), saved);
    EXPECT_EQ(song.numGroups, 3u);
}

TEST_F(MetaFile, ChangingSongsKeepsTheEditsOfTheSongLeft) {
    SmfWriter other;
    other.note(0, 100, 70);
    const std::string otherPath = dir.file("other.mid");
    other.save(otherPath);
    Nolari app;
    app.cfg_->currentSong = songPath;
    app.loadCurrentSong();
    ASSERT_TRUE(app.songLoaded);
    app.meta->zoom = 3;
    app.toggleLoop();
    app.selectTranspose(-12);

    app.cfg_->currentSong = otherPath;
    app.loadCurrentSong();
    EXPECT_EQ(readFile(metaPath).substr(0, 7), "ZOOM 3\n");
    EXPECT_TRUE(app.songLoaded);
    EXPECT_EQ(app.meta->zoom, 10);
    EXPECT_FALSE(app.meta->loop);
    EXPECT_EQ(app.output.transpose(), 0);

    app.meta->position = 1;
    app.cfg_->currentSong = dir.file("missing.mid");
    app.loadCurrentSong();
    EXPECT_FALSE(app.songLoaded);
    EXPECT_EQ(readFile(otherPath + ".mta").substr(0, 19), "ZOOM 10\nPOSITION 1\n");

    app.cfg_->currentSong = songPath;
    app.loadCurrentSong();
    EXPECT_TRUE(app.meta->loop);
    EXPECT_EQ(app.meta->transpose, -12);
    EXPECT_EQ(app.output.transpose(), -12);
}

TEST_F(MetaFile, PracticeTagsAreReadAndWrittenAfterTheMarkersOnlyWhenSet) {
    EXPECT_EQ(loadMeta("METRONOME 1\nLOOP 1\nTRANSPOSE -5\nMARKER 2\nNOTE_GROUPS 1\n0\n"), "");
    EXPECT_TRUE(meta.loop);
    EXPECT_EQ(meta.transpose, -5);
    EXPECT_EQ(meta.metronome, MetronomeMode::CountIn);
    meta.save(song);
    EXPECT_EQ(readFile(metaPath), defaultHead + "MARKER 2\nLOOP 1\nTRANSPOSE -5\nMETRONOME 1\nNOTE_GROUPS 1\n0\n");
    meta.loop = false;
    meta.transpose = 0;
    meta.metronome = MetronomeMode::Off;
    meta.save(song);
    EXPECT_EQ(readFile(metaPath), defaultHead + "MARKER 2\nNOTE_GROUPS 1\n0\n");

    EXPECT_EQ(loadMeta("TRANSPOSE 25\nTRANSPOSE 24\nLOOP 0\nTRANSPOSE\nMETRONOME 2\nMETRONOME 3\n"),
              "ERROR: TRANSPOSE meta tag not followed by -24 ... 24\n"
              "ERROR: TRANSPOSE meta tag not followed by -24 ... 24\n"
              "ERROR: METRONOME meta tag not followed by 0, 1 or 2\n");
    EXPECT_EQ(meta.metronome, MetronomeMode::On);
    EXPECT_EQ(meta.transpose, 24);
    EXPECT_FALSE(meta.loop);
}

// Text in memory is read as the file would be, and nothing is written beside the song.
TEST_F(MetaFile, TextInMemoryReadsAsTheFileAndWritesNothing) {
    dir.clearLog();
    meta.loadFromText(songPath, song, "ZOOM 2.5\nMARKER 1\nNOTE_GROUPS 1\n480\nTEMPO\n");
    EXPECT_EQ(meta.zoom, 2.5);
    EXPECT_EQ(meta.numMarkers(), 1u);
    EXPECT_EQ(song.numGroups, 1u);
    EXPECT_EQ(dir.log(), unexpected("TEMPO"));
    EXPECT_FALSE(std::filesystem::exists(metaPath));
    EXPECT_EQ(writtenText([&](FILE* out) { meta.write(out, song); }),
              "ZOOM 2.5\nPOSITION 0\nCHAN16MUTE 0\nSENDPEDALEVENTS 0\nSENDSYSTEMEXCLUSIVE 1\nFORCE_CHANNEL_ONE 0\n"
              "HARMONICCOLORING 0\nMARKER 1\nNOTE_GROUPS 1\n480\n");
}

TEST_F(MetaFile, SplitsComeAfterThePartsWithTheirHalvesRolesAndAreReadInAnyOrder) {
    // The groups start on the notes of the roles the whole file gives, though it names them after.
    const std::string text = "PART 0 0 LOW MUTE\nPART 0 0 FOLLOW\nPART 0 0 HIGH PLAY\nNOTE_GROUPS 2\n0\n960\n"
                             "SPLIT 0 0 62\nSPLIT 3 0 60\nSPLIT 0 16 60\nSPLIT 0 0 128\nSPLIT 0 0 x\nPART 0 0 LOW\n";
    EXPECT_EQ(loadMeta(text), "ERROR: SPLIT 3 0 names no part of the song\nERROR: SPLIT 0 16 names no part of the song\n"
                              "ERROR: SPLIT meta tag not followed by track, channel and a pitch 0-127\n"
                              "ERROR: SPLIT meta tag not followed by track, channel and a pitch 0-127\n" +
                                  unexpected("x") +
                                  "ERROR: PART meta tag not followed by track, channel and FOLLOW or MUTE\n");
    const std::string kept = defaultHead + "SPLIT 0 0 62\nPART 0 0 LOW MUTE\nNOTE_GROUPS 2\n0\n960\n";
    for (int reading = 0; reading < 2; ++reading) {
        if (reading == 1) {
            EXPECT_EQ(loadMeta(kept), "");
        }
        EXPECT_TRUE(meta.parts.isSplit(0) && meta.parts.splitPitch(0) == 62);
        for (uint32_t i = 0; i < song.numEvents; ++i)
            EXPECT_EQ(meta.parts.roleOf(song.events[i]), song.events[i].pitch < 62 ? Role::Mute : Role::Play);
        EXPECT_TRUE(song.events[1].start && !song.events[0].start) << "the chord's group starts on its played note";
        meta.save(song);
        EXPECT_EQ(readFile(metaPath), kept) << "no plain role for a split part; a half at Play writes no line";
    }
}

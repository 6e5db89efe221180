// Writes the seed inputs of the fuzz targets: MIDI files made by SmfWriter into <dir>/song and
// metadata files as Meta::save writes them (and a few hand-written tag lines) into <dir>/meta.
//   fuzz_seeds fuzz/corpus

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/Log.h"
#include "song/Meta.h"
#include "song/Song.h"
#include "support/SmfWriter.h"
#include "support/TestEnv.h"

namespace {

void writeSongs(const std::string& folder) {
    SmfWriter simple;
    simple.note(0, 240, 60).note(0, 240, 64).note(480, 240, 62);
    writeFile(folder + "/simple.mid", simple.bytes());

    SmfWriter tracks;
    tracks.tempo(0, 500000).text(0, 0x03, "lead").program(0, 5).note(0, 100, 72).note(120, 100, 74);
    tracks.track().controller(0, 64, 127, 1).note(0, 480, 48, 80, 1).controller(480, 64, 0, 1);
    tracks.track().sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).note(60, 30, 36, 100, 9);
    writeFile(folder + "/tracks.mid", tracks.bytes());

    SmfWriter running;
    running.on(0, 60).event(10, {62, 90}).event(20, {60, 0}).text(25, 0x59, std::string("\x02\x01", 2));
    running.event(30, {0x51, 0x03, 0x07, 0xA1, 0x20}).event(40, {0x90, 62, 0});
    writeFile(folder + "/running.mid", running.bytes());

    SmfWriter smpte(0xE728, 0);
    smpte.note(0, 40, 60).tempo(40, 250000).event(50, {0xE0, 0x00, 0x40}).event(60, {0xD0, 0x30}).note(80, 40, 62);
    writeFile(folder + "/smpte.mid", smpte.bytes());

    SmfWriter rolled(96, 2);
    for (uint32_t c = 0; c < 16; ++c) rolled.note(c * 24, 20, 60).note(c * 24 + 1, 19, 64).note(c * 24 + 3, 17, 67);
    rolled.off(500, 70).on(510, 71);
    writeFile(folder + "/rolled.mid", rolled.bytes());
}

// On the metadata target's own song of two parts: a new file, one with settings, markers and a
// group edit, one that adds roles and a split with its halves' roles, and hand-written tag lines.
void writeMeta(const std::string& folder) {
    SmfWriter w;
    for (uint32_t c = 0; c < 8; ++c) w.note(c * 480, 240, 60).note(c * 480, 240, 64).note(c * 480 + 3, 200, 67);
    w.track().note(100, 50, 40, 90, 1).tempo(960, 400000);
    const std::string bytes = w.bytes();
    Song song;
    if (!song.loadFromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), "song.mid")) return;
    Meta meta;
    meta.histogramFile.clear();
    meta.loadFromText("song.mid", song, "");
    meta.findDefaultGroups(song);
    auto saved = [&] { return writtenText([&](FILE* out) { meta.write(out, song); }); };
    writeFile(folder + "/default.mta", saved());

    meta.zoom = 2.5;
    meta.position = 7;
    meta.chan16Mute = meta.forceChannelOne = meta.sendPedalEvents = true;
    meta.setMarker(3);
    meta.setMarker(12);
    song.startGroupAt(960);
    writeFile(folder + "/edited.mta", saved());

    meta.parts.setRole(meta.parts.find(1, 1), Role::Follow);
    meta.parts.split(meta.parts.find(0, 0), 62);
    meta.parts.setHalfRole(meta.parts.find(0, 0), Half::Low, Role::Mute);
    meta.parts.apply();
    meta.findDefaultGroups(song);
    writeFile(folder + "/parts.mta", saved());

    writeFile(folder + "/tags.mta",
              "ZOOM\nPOSITION x\nFIRST_NOTE_POSITION 3\nFORCE_CHANNEL_ONE 2\nMARKER -1\nMARKER\nCHAN16MUTE\n"
              "SENDPEDALEVENTS 1\nSENDSYSTEMEXCLUSIVE 0\nHARMONICCOLORING 1\nTEMPO 5\nABCDEFGHIJKLMNOPQRSTUVWXY\n"
              "NOTE_GROUPS 3\n0\n480\n");
    // Parts, halves and splits the song has or has not, and a role named after the groups.
    writeFile(folder + "/splits.mta",
              "PART 0 0 HIGH FOLLOW\nSPLIT 0 0 64\nSPLIT 1 1 0\nPART 1 1 LOW MUTE\nPART 1 1 MUTE\nSPLIT 2 0 60\n"
              "SPLIT 0 0 128\nSPLIT 0 0 -1\nSPLIT 0 16 60\nSPLIT\nPART 0 0 LOW\nPART 0 0 MIDDLE FOLLOW\n"
              "PART 4294967296 0 MUTE\nNOTE_GROUPS 2\n0\n960\nPART 0 0 LOW MUTE\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds <corpus folder>\n");
        return 2;
    }
    const std::string corpus = std::filesystem::absolute(argv[1]).string();
    std::filesystem::create_directories(corpus + "/song");
    std::filesystem::create_directories(corpus + "/meta");
    // What the loads would log is of no interest here.
    LogBatch quiet;
    writeSongs(corpus + "/song");
    writeMeta(corpus + "/meta");
    quiet.take();
    return 0;
}

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "EngineTest.h"
#include "config/Cfg.h"
#include "perform/AudioExport.h"
#include "perform/TakeFile.h"
#include "support/RecordingAudio.h"
#include "support/SmfWriter.h"
#include "synth/WindowsSynthGeneralMIDI.h"

namespace {

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

}  // namespace

// A note from 0.5 s to 1 s (480 ticks a quarter at 120 a minute) into the recording sound file.
TEST(Render, SilenceBeforeTheFirstNoteSoundWhileItPlaysThenTheTailUntilSilent) {
    TestDir dir;
    recording::resetSoundFiles();
    SmfWriter().program(0, 0).note(480, 480, 60, 100).save(dir.file("take.mid"));
    RenderProgress progress;
    progress.stop = true;
    EXPECT_EQ(renderMidiFile(dir.file("take.mid"), dir.file("take.wav"), progress).problem, "it was stopped");
    EXPECT_FALSE(exists(dir.file("take.wav")));
    progress.stop = false;
    const RenderResult result = renderMidiFile(dir.file("take.mid"), dir.file("take.wav"), progress);
    ASSERT_TRUE(result.written) << result.problem;
    const recording::SoundFileRecord& file = recording::soundFiles().files.back();
    EXPECT_TRUE(file.type == platform::SoundFileType::wav && file.finished && exists(dir.file("take.wav")));
    EXPECT_EQ(file.sampleRate, WindowsSynthGeneralMIDI::sampleRate);
    EXPECT_DOUBLE_EQ(progress.done, 1.0);
    const double seconds = static_cast<double>(file.frames) / file.sampleRate;
    EXPECT_DOUBLE_EQ(result.seconds, seconds);
    EXPECT_TRUE(seconds > 1.0 && seconds < 1.0 + longestTail) << seconds << " s: the tail ends when it falls silent";
    const auto level = [&](double from, double to) {
        double sum = 0;
        for (size_t i = static_cast<size_t>(from * 48000) * 2; i < static_cast<size_t>(to * 48000) * 2; ++i)
            sum += file.samples[i] * file.samples[i];
        return std::sqrt(sum / ((to - from) * 96000));
    };
    const double silent = 0.5 / 32768;  // zero in 16 bits
    EXPECT_LT(level(0, 0.5), silent);
    EXPECT_GT(level(0.55, 0.95), 1e-3);
    EXPECT_LT(level(seconds - 0.01, seconds), silent);

    // A take with nothing in it renders nothing, and says so. FLAC by the name, where it is written.
    TakeFileSummary summary;
    ASSERT_TRUE(writeTakeFile(dir.file("empty.mid"), Take{}, "empty", summary));
    EXPECT_EQ(renderMidiFile(dir.file("empty.mid"), dir.file("empty.wav"), progress).problem, "it has no notes");
    EXPECT_FALSE(exists(dir.file("empty.wav")));
    EXPECT_TRUE(renderMidiFile(dir.file("take.mid"), dir.file("take.FLAC"), progress).written);
    EXPECT_EQ(recording::soundFiles().files.back().type, platform::SoundFileType::flac);
    recording::soundFiles().flac = false;
    EXPECT_EQ(renderMidiFile(dir.file("take.mid"), dir.file("t.flac"), progress).problem,
              "the installed libsndfile cannot write FLAC");
    EXPECT_EQ(exportProgressText(0.426, 0.9), "") << "a render under a second shows no progress";
    EXPECT_EQ(exportProgressText(0.426, 1.2), "   Exporting audio 42 %");
}

using TakeExport = EngineTest;

// Through the menu: with no take saved, the take so far is saved first, then rendered beside it on
// a thread of its own, which the timer collects; after a reload the take saved before is found.
TEST_F(TakeExport, SavesTheTakeSoFarThenRendersItBesideItselfOnAThreadOfItsOwn) {
    recording::resetSoundFiles();
    SmfWriter().note(0, 240, 60).note(480, 240, 62).save(dir.file("song.mid"));
    const auto exportAndWait = [&](int item) {
        n.selectMain(item);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (; n.audioExport.busy() && std::chrono::steady_clock::now() < deadline; n.exportTick())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    n.cfg_->currentSong = dir.file("song.mid");
    n.loadCurrentSong();
    dir.clearLog();
    exportAndWait(6);
    n.tap(1, 0);
    exportAndWait(6);
    const std::string log = dir.log(), take = dir.file("song-take-1.mid");
    EXPECT_EQ(log.rfind("Nothing to export\nSaved take " + take + " (1 notes, ", 0), 0u) << log;
    EXPECT_NE(log.find("\nExported take " + dir.file("song-take-1.wav") + " ("), std::string::npos) << log;
    EXPECT_GT(recording::soundFiles().files.at(0).frames, 0u);
    exportAndWait(7);
    EXPECT_TRUE(exists(dir.file("song-take-1.flac")));
    n.loadCurrentSong();
    EXPECT_EQ(n.takeToExport(), take);
}

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "EngineTest.h"
#include "config/Cfg.h"
#include "perform/AudioExport.h"
#include "perform/TakeFile.h"
#include "support/RecordingSoundFile.h"
#include "support/SmfWriter.h"
#include "synth/WindowsSynthGeneralMIDI.h"

namespace {

constexpr int rate = WindowsSynthGeneralMIDI::sampleRate;

// Root mean square of both channels from one time to another, in seconds.
double rms(const std::vector<float>& samples, double from, double to) {
    const size_t begin = static_cast<size_t>(from * rate) * 2, end = std::min(samples.size(), static_cast<size_t>(to * rate) * 2);
    double sum = 0;
    for (size_t i = begin; i < end; ++i) sum += samples[i] * samples[i];
    return end > begin ? std::sqrt(sum / static_cast<double>(end - begin)) : 0;
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

}  // namespace

// 480 ticks a quarter at 120 beats a minute: a note from 0.5 s to 1 s.
TEST(Render, SilenceBeforeTheFirstNoteSoundWhileItPlaysThenTheTailUntilSilent) {
    TestDir dir;
    recording::resetSoundFiles();
    SmfWriter().program(0, 0).note(480, 480, 60, 100).save(dir.file("take.mid"));
    RenderProgress progress;
    const RenderResult result = renderMidiFile(dir.file("take.mid"), dir.file("take.wav"), progress);
    ASSERT_TRUE(result.written) << result.problem;
    ASSERT_EQ(recording::soundFiles().files.size(), 1u);
    const recording::SoundFileRecord& file = recording::soundFiles().files[0];
    EXPECT_EQ(file.type, platform::SoundFileType::wav);
    EXPECT_EQ(file.sampleRate, rate);
    EXPECT_TRUE(file.finished);
    EXPECT_TRUE(exists(dir.file("take.wav")));
    EXPECT_DOUBLE_EQ(progress.done, 1.0);
    const double seconds = static_cast<double>(file.frames) / rate;
    EXPECT_DOUBLE_EQ(result.seconds, seconds);
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(seconds, 1.0 + longestTail) << "the tail ends when it falls silent";
    const double silent = 0.5 / 32768;  // zero in 16 bits
    EXPECT_LT(rms(file.samples, 0, 0.5), silent);
    EXPECT_GT(rms(file.samples, 0.55, 0.95), 1e-3);
    EXPECT_LT(rms(file.samples, seconds - 0.01, seconds), silent);

    // A take with nothing in it renders nothing, and says why.
    Take nothing;
    TakeFileSummary summary;
    ASSERT_TRUE(writeTakeFile(dir.file("empty.mid"), nothing, "empty", summary));
    const RenderResult empty = renderMidiFile(dir.file("empty.mid"), dir.file("empty.wav"), progress);
    EXPECT_FALSE(empty.written);
    EXPECT_EQ(empty.problem, "it has no notes");
    EXPECT_FALSE(exists(dir.file("empty.wav")));

    // FLAC by the name, where the library writes it.
    EXPECT_TRUE(renderMidiFile(dir.file("take.mid"), dir.file("take.FLAC"), progress).written);
    EXPECT_EQ(recording::soundFiles().files.back().type, platform::SoundFileType::flac);
    recording::soundFiles().flac = false;
    EXPECT_EQ(renderMidiFile(dir.file("take.mid"), dir.file("t.flac"), progress).problem,
              "the installed libsndfile cannot write FLAC");
    EXPECT_EQ(recording::soundFiles().files.size(), 2u);
}

TEST(Render, AStoppedRenderLeavesNoFile) {
    TestDir dir;
    recording::resetSoundFiles();
    SmfWriter().note(0, 480, 60).note(96000, 480, 62).save(dir.file("long.mid"));
    RenderProgress progress;
    progress.stop = true;
    const RenderResult result = renderMidiFile(dir.file("long.mid"), dir.file("long.wav"), progress);
    EXPECT_FALSE(result.written);
    EXPECT_EQ(result.problem, "it was stopped");
    EXPECT_FALSE(exists(dir.file("long.wav")));
}

TEST(ExportProgress, IsShownInTheTitleOnlyAfterASecond) {
    EXPECT_EQ(exportProgressText(0.426, 0.9), "");
    EXPECT_EQ(exportProgressText(0.426, 1.2), "   Exporting audio 42 %");
}

using TakeExport = EngineTest;

// Through the menu: with no take saved, the take so far is saved first, then rendered beside it on
// a thread of its own, which the timer collects.
TEST_F(TakeExport, SavesTheTakeSoFarThenRendersItBesideItselfOnAThreadOfItsOwn) {
    recording::resetSoundFiles();
    const std::string song = dir.file("song.mid");
    SmfWriter().note(0, 240, 60).note(480, 240, 62).save(song);
    const auto exportAndWait = [&](int item) {
        n.selectMain(item);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (; n.audioExport.busy() && std::chrono::steady_clock::now() < deadline; n.exportTick())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    n.cfg_->currentSong = song;
    n.loadCurrentSong();
    dir.clearLog();
    exportAndWait(6);
    EXPECT_EQ(dir.log(), "Nothing to export\n");

    n.tap(1, 0);
    n.release(1);
    dir.clearLog();
    exportAndWait(6);
    const std::string log = dir.log();
    const std::string take = dir.file("song-take-1.mid");
    EXPECT_EQ(log.rfind("Saved take " + take + " (1 notes, ", 0), 0u) << log;
    EXPECT_NE(log.find("\nExported take " + dir.file("song-take-1.wav") + " ("), std::string::npos) << log;
    ASSERT_EQ(recording::soundFiles().files.size(), 1u);
    EXPECT_GT(recording::soundFiles().files[0].frames, 0u);

    // The saved take is rendered again, as FLAC; after a reload, the take saved before is found.
    exportAndWait(7);
    EXPECT_TRUE(exists(dir.file("song-take-1.flac")));
    n.loadCurrentSong();
    EXPECT_EQ(n.takeToExport(), take);
}

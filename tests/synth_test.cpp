#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <vector>

#include "support/RecordingAudio.h"
#include "support/TestEnv.h"
#include "synth/WindowsSynthGeneralMIDI.h"

// FluidSynth loads SoundFont samples on libgomp's thread pool. libgomp is not built for
// ThreadSanitizer, which then mistakes the pool's own hand-over of memory for races; nothing of
// ours runs there.
extern "C" const char* __tsan_default_suppressions() { return "called_from_lib:libgomp.so.1\nrace:libgomp.so.1\n"; }

namespace {

constexpr int rate = 44100;

// Root mean square of the next seconds of sound, both channels.
double renderRms(WindowsSynthGeneralMIDI& s, double seconds) {
    const int frames = static_cast<int>(seconds * rate);
    std::vector<float> left(frames), right(frames);
    EXPECT_TRUE(s.render(left.data(), right.data(), frames));
    double sum = 0;
    for (int i = 0; i < frames; ++i) sum += left[i] * left[i] + right[i] * right[i];
    return std::sqrt(sum / (2.0 * frames));
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

constexpr double silence = 1e-4;  // -80 dB
constexpr double audible = 1e-3;  // -60 dB

}  // namespace

TEST(SynthOpen, OpensWithTheSoundFontsNameAndClosesRepeatedly) {
    TestDir dir;
    WindowsSynthGeneralMIDI s;
    ASSERT_TRUE(s.openOffline());
    EXPECT_TRUE(s.openOffline());  // already open
    EXPECT_EQ(s.name(), "FluidSynth General MIDI (default-GM.sf2)");
    EXPECT_EQ(dir.log(), "");
    s.close();
    s.close();
    float l[16], r[16];
    EXPECT_FALSE(s.render(l, r, 16));
    // Close forgets the earlier attempt, so the synthesizer can be opened again.
    ASSERT_TRUE(s.openOffline());
    EXPECT_EQ(s.name(), "FluidSynth General MIDI (default-GM.sf2)");
}

TEST(SynthOpen, EveryChannelStartsOnProgramZeroAndDrumsOnTheirKit) {
    TestDir dir;
    WindowsSynthGeneralMIDI s;
    ASSERT_TRUE(s.openOffline());
    int bank = -1, program = -1;
    std::string preset;
    ASSERT_TRUE(s.channelPreset(0, bank, program, preset));
    EXPECT_EQ(bank, 0);
    EXPECT_EQ(program, 0);
    // The drum channel's Program Change picks a kit, as FluidSynth does for any General MIDI song.
    ASSERT_TRUE(s.channelPreset(9, bank, program, preset));
    EXPECT_EQ(bank, 128);
    EXPECT_EQ(program, 0);
}

TEST(SynthSound, NoteSoundsWhileHeldAndFallsSilentAfterRelease) {
    TestDir dir;
    WindowsSynthGeneralMIDI s;
    ASSERT_TRUE(s.openOffline());
    EXPECT_LT(renderRms(s, 0.1), silence);

    // An organ holds its tone as long as the key is down, so only the Note Off can end it.
    s.send(0, 0xC0, 16, 0);
    s.send(0, 0x90, 60, 100);
    EXPECT_GT(renderRms(s, 0.2), audible);
    EXPECT_GT(renderRms(s, 2.0), audible);
    s.send(0, 0x80, 60, 0);
    renderRms(s, 3.0);  // release and reverberation
    EXPECT_LT(renderRms(s, 0.1), silence);
}

TEST(SynthSound, NoteOnWithVelocityZeroEndsTheNote) {
    TestDir dir;
    WindowsSynthGeneralMIDI s;
    ASSERT_TRUE(s.openOffline());
    s.send(3, 0xC0, 16, 0);
    s.send(3, 0x90, 64, 90);
    EXPECT_GT(renderRms(s, 0.2), audible);
    s.send(3, 0x90, 64, 0);
    renderRms(s, 3.0);
    EXPECT_LT(renderRms(s, 0.1), silence);
    EXPECT_EQ(dir.log(), "");
}

TEST(SynthProgramChange, Program24OnChannel2SelectsTheNylonStringGuitar) {
    TestDir dir;
    WindowsSynthGeneralMIDI s;
    ASSERT_TRUE(s.openOffline());
    s.send(2, 0xC0, 24, 0);
    int bank = -1, program = -1;
    std::string preset;
    ASSERT_TRUE(s.channelPreset(2, bank, program, preset));
    EXPECT_EQ(bank, 0);
    EXPECT_EQ(program, 24);
    EXPECT_NE(lower(preset).find("nylon"), std::string::npos) << preset;
    // Other channels keep their program.
    ASSERT_TRUE(s.channelPreset(1, bank, program, preset));
    EXPECT_EQ(program, 0);
}

TEST(SynthProgramChange, SecondProgramChangeReplacesTheFirst) {
    TestDir dir;
    WindowsSynthGeneralMIDI s;
    ASSERT_TRUE(s.openOffline());
    EXPECT_TRUE(s.setGMInstrument(2, 24));
    EXPECT_TRUE(s.setGMInstrument(2, 40));
    int bank = -1, program = -1;
    std::string preset;
    ASSERT_TRUE(s.channelPreset(2, bank, program, preset));
    EXPECT_EQ(program, 40);
    s.send(2, 0x90, 67, 100);
    EXPECT_GT(renderRms(s, 0.3), audible);
}

TEST(SynthProgramChange, OutOfRangeArgumentsAreRefusedAndChangeNothing) {
    TestDir dir;
    WindowsSynthGeneralMIDI s;
    ASSERT_TRUE(s.openOffline());
    s.send(5, 0xC0, 24, 0);
    EXPECT_FALSE(s.setGMInstrument(5, 200));
    EXPECT_FALSE(s.setGMInstrument(16, 3));
    EXPECT_EQ(dir.log(),
              "ERROR: WindowsSynthGeneralMIDI::setGMInstrument gmNumber 200 (0xc8) out of range\n"
              "ERROR: WindowsSynthGeneralMIDI::setGMInstrument channel 16 (0x10) out of range\n");
    int bank = -1, program = -1;
    std::string preset;
    ASSERT_TRUE(s.channelPreset(5, bank, program, preset));
    EXPECT_EQ(program, 24);
}

TEST(SynthBeforeOpen, RefusalsAreLoggedOncePerRunForEachEntryPoint) {
    // The once-per-run flags are process-wide, so the check runs in a freshly started process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            TestDir dir;
            WindowsSynthGeneralMIDI s;
            s.play(0, 0x90, 60, 100);
            s.play(0, 0x80, 60, 0);
            const bool first = s.setGMInstrument(0, 1);
            s.send(0, 0xC0, 2, 0);
            s.send(0, 0x90, 60, 100);
            const std::string expected =
                "ERROR: WindowsSynthGeneralMIDI::play called before open complete\n"
                "ERROR: WindowsSynthGeneralMIDI::setGMInstrument called before open complete\n";
            std::exit(!first && dir.log() == expected ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(SynthThreads, MessagesFromTwoThreadsWhileRenderingStayConsistent) {
    TestDir dir;
    WindowsSynthGeneralMIDI s;
    ASSERT_TRUE(s.openOffline());
    std::atomic<int> playing{2};
    auto player = [&](uint8_t channel) {
        for (int i = 0; i < 200; ++i) {
            s.send(channel, 0xC0, static_cast<uint8_t>(i % 128), 0);
            s.send(channel, 0x90, static_cast<uint8_t>(40 + i % 40), 100);
            s.send(channel, 0x80, static_cast<uint8_t>(40 + i % 40), 0);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        --playing;
    };
    std::thread gui(player, 0), input(player, 1);
    while (playing > 0) renderRms(s, 0.005);
    gui.join();
    input.join();
    int bank = -1, program = -1;
    std::string preset;
    ASSERT_TRUE(s.channelPreset(1, bank, program, preset));
    EXPECT_EQ(program, 199 % 128);
    EXPECT_EQ(dir.log(), "");
}

// The latency file holds milliseconds; a first start asks the output for 5.
TEST(SynthLatencyFile, MissingFileIsWrittenWithTheCurrentLatency) {
    TestDir dir;
    WindowsSynthGeneralMIDI s;
    ASSERT_TRUE(s.openOffline());
    EXPECT_EQ(s.getWriteLatency(), 5);
    EXPECT_EQ(dir.read("WindowsSynthGeneralMIDI.cfg"), "5");
}

TEST(SynthLatencyFile, NumberIsAppliedAndTheFileKept) {
    TestDir dir;
    dir.write("WindowsSynthGeneralMIDI.cfg", "  50 ms, set by hand\n");
    WindowsSynthGeneralMIDI s;
    ASSERT_TRUE(s.openOffline());
    EXPECT_EQ(s.getWriteLatency(), 50);
    EXPECT_EQ(dir.read("WindowsSynthGeneralMIDI.cfg"), "  50 ms, set by hand\n");

    // A value written by an earlier run comes back unchanged.
    TestDir second;
    second.write("WindowsSynthGeneralMIDI.cfg", "23");
    WindowsSynthGeneralMIDI t;
    ASSERT_TRUE(t.openOffline());
    EXPECT_EQ(t.getWriteLatency(), 23);
}

TEST(SynthLatencyFile, NegativeNumberIsIgnoredAndTheFileUntouched) {
    TestDir dir;
    dir.write("WindowsSynthGeneralMIDI.cfg", "-40");
    WindowsSynthGeneralMIDI s;
    ASSERT_TRUE(s.openOffline());
    EXPECT_EQ(s.getWriteLatency(), 5);
    EXPECT_EQ(dir.read("WindowsSynthGeneralMIDI.cfg"), "-40");
}

TEST(SynthLatencyFile, FileWithoutNumberAtItsStartIsRewritten) {
    TestDir dir;
    dir.write("WindowsSynthGeneralMIDI.cfg", "latency 50\n");
    WindowsSynthGeneralMIDI s;
    ASSERT_TRUE(s.openOffline());
    EXPECT_EQ(s.getWriteLatency(), 5);
    EXPECT_EQ(dir.read("WindowsSynthGeneralMIDI.cfg"), "5");
}

// The outputs the machine offers are set at the recording seam; latencies are at 48 kHz, so 5 ms is
// 240 frames.
class SynthAudioOutput : public ::testing::Test {
protected:
    void SetUp() override { recording::resetAudio(); }
    void TearDown() override { recording::resetAudio(); }
    recording::Audio& audio = recording::audio();
    TestDir dir;
};

TEST_F(SynthAudioOutput, PipeWireStreamComesFirstAsksForTheLatencyAndRendersTheSynthesizer) {
    audio.pipeWireRuns = true;
    WindowsSynthGeneralMIDI s;
    ASSERT_TRUE(s.open());
    EXPECT_EQ(audio.asked, (std::vector<recording::AudioRequest>{{"pipewire", 240, 0, 0}}));
    EXPECT_EQ(audio.sampleRate, 48000);
    EXPECT_EQ(dir.read("WindowsSynthGeneralMIDI.cfg"), "5");
    EXPECT_EQ(dir.log(), "Software synth audio output: pipewire\n");
    // Before the first cycle the request stands; then the graph's quantum is what was granted.
    EXPECT_EQ(s.getWriteLatency(), 5);
    audio.quantum = 1024;
    EXPECT_EQ(s.getWriteLatency(), 21);

    s.setWriteLatency(10);
    EXPECT_EQ(audio.latencyChanges, std::vector<int>{480});

    s.send(0, 0x90, 60, 100);
    std::vector<float> interleaved(2 * 4800);
    audio.render(audio.renderContext, interleaved.data(), 4800);
    double sum = 0;
    for (float sample : interleaved) sum += sample * sample;
    EXPECT_GT(std::sqrt(sum / interleaved.size()), audible);
    s.close();
    EXPECT_FALSE(audio.streamOpen);
}

TEST_F(SynthAudioOutput, WithoutPipeWireOnlyTheDriversFluidSynthHasAreAskedInOrder) {
    audio.drivers = {"jack", "alsa"};
    audio.opening = {"alsa"};
    dir.write("WindowsSynthGeneralMIDI.cfg", "8");
    WindowsSynthGeneralMIDI s;
    ASSERT_TRUE(s.open());
    // ALSA gets two periods that together hold the latency.
    EXPECT_EQ(audio.asked, (std::vector<recording::AudioRequest>{
                               {"pipewire", 384, 0, 0}, {"jack", 0, 16, 64}, {"alsa", 0, 2, 192}}));
    EXPECT_EQ(s.getWriteLatency(), 8);
    EXPECT_EQ(dir.log(), "Software synth audio output: alsa\n");

    // The driver starts again with the new buffer.
    s.setWriteLatency(20);
    EXPECT_EQ(audio.asked.back(), (recording::AudioRequest{"alsa", 0, 2, 480}));
    EXPECT_EQ(audio.driversOpen, 1);
    EXPECT_EQ(s.getWriteLatency(), 20);
    s.close();
    EXPECT_EQ(audio.driversOpen, 0);
}

TEST_F(SynthAudioOutput, PulseAudioIsAskedForOnePeriodOfTheLatencyAndJackGrantsItsPeriod) {
    audio.opening = {"pulseaudio", "jack"};
    WindowsSynthGeneralMIDI pulse;
    ASSERT_TRUE(pulse.open());
    EXPECT_EQ(audio.asked.back(), (recording::AudioRequest{"pulseaudio", 0, 2, 240}));
    EXPECT_EQ(pulse.getWriteLatency(), 5);
    pulse.close();

    audio.opening = {"jack"};
    audio.jackFrames = 1024;
    audio.asked.clear();
    WindowsSynthGeneralMIDI jack;
    ASSERT_TRUE(jack.open());
    EXPECT_EQ(audio.asked.back().output, "jack");
    EXPECT_EQ(jack.getWriteLatency(), 21);
    jack.setWriteLatency(2);
    EXPECT_EQ(audio.asked.size(), 3u) << "JACK's period is the server's; nothing is asked again";
}

TEST_F(SynthAudioOutput, NoOutputOpeningLeavesTheSynthesizerClosedAndNamesWhatWasTried) {
    audio.drivers = {"pulseaudio", "alsa"};
    WindowsSynthGeneralMIDI s;
    EXPECT_FALSE(s.open());
    EXPECT_EQ(dir.log(), "ERROR: Unable to open an audio output for the software synth (tried pipewire, pulseaudio, alsa)\n");
}

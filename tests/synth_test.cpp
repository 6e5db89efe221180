#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <vector>

#include "midi/WindowsSynthGeneralMIDI.h"
#include "support/TestEnv.h"

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

// The latency file holds milliseconds; the default output buffer is 16 periods of 64 frames at
// 44.1 kHz, 23 ms.
TEST(SynthLatencyFile, MissingFileIsWrittenWithTheCurrentLatency) {
    TestDir dir;
    WindowsSynthGeneralMIDI s;
    ASSERT_TRUE(s.openOffline());
    EXPECT_EQ(s.getWriteLatency(), 23);
    EXPECT_EQ(dir.read("WindowsSynthGeneralMIDI.cfg"), "23");
}

TEST(SynthLatencyFile, NumberIsAppliedAndTheFileKept) {
    TestDir dir;
    dir.write("WindowsSynthGeneralMIDI.cfg", "  50 ms, set by hand\n");
    WindowsSynthGeneralMIDI s;
    ASSERT_TRUE(s.openOffline());
    EXPECT_NEAR(s.getWriteLatency(), 50, 1);
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
    EXPECT_EQ(s.getWriteLatency(), 23);
    EXPECT_EQ(dir.read("WindowsSynthGeneralMIDI.cfg"), "-40");
}

TEST(SynthLatencyFile, FileWithoutNumberAtItsStartIsRewritten) {
    TestDir dir;
    dir.write("WindowsSynthGeneralMIDI.cfg", "latency 50\n");
    WindowsSynthGeneralMIDI s;
    ASSERT_TRUE(s.openOffline());
    EXPECT_EQ(s.getWriteLatency(), 23);
    EXPECT_EQ(dir.read("WindowsSynthGeneralMIDI.cfg"), "23");
}

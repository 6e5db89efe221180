#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "midi/grwin.h"
#include "support/RecordingPlatform.h"
#include "support/TestEnv.h"
#include "synth/WindowsSynthGeneralMIDI.h"

namespace {

// The process-wide synthesizer, opened without audio output, listed after two platform outputs.
class SynthAsOutput : public ::testing::Test {
protected:
    void SetUp() override {
        recording::reset();
        recording::state().outputs = {"Hardware A", "Hardware B"};
        ASSERT_TRUE(synth.openOffline());
        synthOpen = true;
        synthIndex = NumMidiOuts() - 1;
    }
    void TearDown() override {
        synth.close();
        synthOpen = false;
        synthIndex = 0;
        activeMidiOut = 0;
        recording::reset();
    }

    static double renderRms(double seconds) {
        const int frames = static_cast<int>(seconds * 44100);
        std::vector<float> left(frames), right(frames);
        EXPECT_TRUE(synth.render(left.data(), right.data(), frames));
        double sum = 0;
        for (int i = 0; i < frames; ++i) sum += left[i] * left[i] + right[i] * right[i];
        return std::sqrt(sum / (2.0 * frames));
    }

    TestDir dir;
};

}  // namespace

TEST_F(SynthAsOutput, IsListedLastUnderItsOwnName) {
    EXPECT_EQ(NumMidiOuts(), 3);
    EXPECT_EQ(synthIndex, 2);
    std::string name;
    ASSERT_TRUE(MidiOutName(2, name));
    EXPECT_EQ(name, synth.name());
    ASSERT_TRUE(MidiOutName(1, name));
    EXPECT_EQ(name, "Hardware B");
}

TEST_F(SynthAsOutput, SelectedItPlaysWhatThePortLayerSendsAndThePlatformGetsNothing) {
    ASSERT_EQ(SetMidiOut(synthIndex, true), synthIndex);
    EXPECT_EQ(recording::state().openOutput, -1) << "choosing the synthesizer opens no platform port";

    MidiOut(-1, 0xC2, 24, 0);
    int bank = -1, program = -1;
    std::string preset;
    ASSERT_TRUE(synth.channelPreset(2, bank, program, preset));
    EXPECT_EQ(program, 24);

    MidiOut(-1, 0x92, 64, 110);
    EXPECT_GT(renderRms(0.3), 1e-3);
    MidiOut(-1, 0x82, 64, 0);
    renderRms(3.0);
    EXPECT_LT(renderRms(0.1), 1e-4);
    EXPECT_TRUE(recording::state().sent.empty());
}

TEST_F(SynthAsOutput, ResetSilencesItEvenWithTheSustainPedalHeld) {
    ASSERT_EQ(SetMidiOut(synthIndex, true), synthIndex);
    MidiOut(-1, 0xB0, 64, 127);
    MidiOut(-1, 0x90, 60, 110);
    EXPECT_GT(renderRms(0.3), 1e-3);
    EXPECT_EQ(MidiOutReset(), 0);
    renderRms(3.0);
    EXPECT_LT(renderRms(0.1), 1e-4) << "the held pedal must not keep the note ringing";
    EXPECT_EQ(recording::state().resets, 0);
}

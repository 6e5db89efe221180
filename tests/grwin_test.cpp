#include <gtest/gtest.h>

#include <cstdio>

#include "midi/grwin.h"
#include "support/RecordingPlatform.h"
#include "support/TestEnv.h"
#include "synth/WindowsSynthGeneralMIDI.h"

namespace {

class PortLayer : public ::testing::Test {
protected:
    void SetUp() override { resetPorts(); }
    void TearDown() override { resetPorts(); }

    static void resetPorts() {
        recording::reset();
        synthOpen = false;
        synthIndex = 0;
        activeMidiOut = 0;
    }

    static void withSynth(int platformOutputs) {
        for (int i = 0; i < platformOutputs; ++i) recording::state().outputs.push_back("Out " + std::to_string(i));
        synthOpen = true;
        synthIndex = NumMidiOuts() - 1;
    }

    TestDir dir;
};

std::string handleText(const void* handle) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", handle);
    return text;
}

}  // namespace

TEST_F(PortLayer, WithoutTheSynthesizerOnlyPlatformOutputsAreNumbered) {
    recording::state().outputs = {"A", "B"};
    std::string name;
    EXPECT_EQ(NumMidiOuts(), 2);
    ASSERT_TRUE(MidiOutName(1, name));
    EXPECT_EQ(name, "B");
    EXPECT_FALSE(MidiOutName(2, name));
    EXPECT_EQ(dir.log(), "ERROR: MidiOutName(2) out of range\n");

    EXPECT_EQ(SetMidiOut(2, true), -1);
    EXPECT_EQ(activeMidiOut, -1);
    EXPECT_EQ(SetMidiOut(0, true), 0);
    EXPECT_EQ(activeMidiOut, 0);
    EXPECT_EQ(recording::state().openOutput, 0);
}

TEST_F(PortLayer, TheSynthesizerIsTheLastOutput) {
    withSynth(2);
    std::string name;
    EXPECT_EQ(NumMidiOuts(), 3);
    EXPECT_EQ(synthIndex, 2);
    ASSERT_TRUE(MidiOutName(2, name));
    EXPECT_EQ(name, synth.name());
    ASSERT_TRUE(MidiOutName(0, name));
    EXPECT_EQ(name, "Out 0");

    EXPECT_EQ(SetMidiOut(2, true), 2);
    EXPECT_EQ(activeMidiOut, 2);
    EXPECT_EQ(recording::state().openOutput, -1) << "the synthesizer needs no platform output";
    EXPECT_EQ(SetMidiOut(2, false), -1) << "no platform output was opened for the synthesizer";
    EXPECT_EQ(dir.log(), "");
}

TEST_F(PortLayer, WithNoPlatformOutputsTheSynthesizerIsOutputZero) {
    withSynth(0);
    std::string name = "stale";
    EXPECT_EQ(NumMidiOuts(), 1);
    EXPECT_EQ(synthIndex, 0);
    ASSERT_TRUE(MidiOutName(0, name));
    EXPECT_EQ(name, synth.name());
}

TEST_F(PortLayer, NoDeviceIsRefusedSilently) {
    recording::state().inputs = {"In"};
    recording::state().outputs = {"Out"};
    std::string name;
    EXPECT_FALSE(MidiInName(-1, name));
    EXPECT_FALSE(MidiOutName(-1, name));
    EXPECT_EQ(SetMidiIn(-1, true), -1);
    EXPECT_EQ(SetMidiIn(-1, false), -1);
    EXPECT_EQ(SetMidiOut(-1, true), -1);
    EXPECT_EQ(activeMidiOut, -1);
    EXPECT_EQ(recording::state().openInput, -1);
    EXPECT_EQ(recording::state().openOutput, -1);
    EXPECT_EQ(dir.log(), "");
}

TEST_F(PortLayer, NameLookupsOutOfRangeOrFailingAreLoggedAndGiveEmptyNames) {
    recording::state().inputs = {"In 0", "In 1"};
    recording::state().outputs = {"Out 0", "Out 1"};
    recording::state().failName = 1;
    std::string name = "stale";
    EXPECT_FALSE(MidiInName(-2, name));
    EXPECT_EQ(name, "");
    name = "stale";
    EXPECT_FALSE(MidiInName(2, name));
    EXPECT_EQ(name, "");
    EXPECT_FALSE(MidiInName(1, name));
    EXPECT_FALSE(MidiOutName(-5, name));
    EXPECT_FALSE(MidiOutName(1, name));
    EXPECT_TRUE(MidiInName(0, name));
    EXPECT_EQ(name, "In 0");
    EXPECT_EQ(dir.log(),
              "ERROR: MidiInName(-2) out of range\n"
              "ERROR: MidiInName(2) out of range\n"
              "ERROR: MidiInName(1) midiInGetDevCaps() error\n"
              "ERROR: MidiOutName(-5) out of range\n"
              "ERROR: MidiOutName(1) midiOutGetDevCaps() error\n");
}

TEST_F(PortLayer, InputOpensAndClosesWithTheIndexAsResult) {
    recording::state().inputs = {"In 0", "In 1"};
    EXPECT_EQ(SetMidiIn(1, true), 1);
    EXPECT_EQ(recording::state().openInput, 1);
    EXPECT_EQ(SetMidiIn(1, false), 1);
    EXPECT_EQ(recording::state().openInput, -1);
    EXPECT_EQ(SetMidiIn(1, false), -1) << "nothing was open";
    EXPECT_EQ(SetMidiIn(2, true), -1);
    recording::state().failOpen = true;
    EXPECT_EQ(SetMidiIn(0, true), -1);
}

TEST_F(PortLayer, DataBytesAreRefusedAsStatus) {
    recording::state().outputs = {"Out"};
    SetMidiOut(0, true);
    EXPECT_EQ(sendMIDIEvent(nullptr, 0x45, 1, 2), 0);
    EXPECT_EQ(MidiOut(-1, 0x7F, 1, 2), 0);
    EXPECT_TRUE(recording::state().sent.empty());
    EXPECT_EQ(dir.log(),
              "ERROR:sendMIDIEvent bStatus(0x45) is not a status byte\n"
              "ERROR:sendMIDIEvent bStatus(0x7f) is not a status byte\n");
}

TEST_F(PortLayer, MessagesReachTheOpenOutputUnchanged) {
    recording::state().outputs = {"Out"};
    SetMidiOut(0, true);
    EXPECT_EQ(MidiOut(-1, 0x93, 60, 0), 0);
    EXPECT_EQ(MidiOut(-1, 0xF8, 0, 0), 0);
    EXPECT_EQ(recording::state().sent, (std::vector<MidiMessage>{{0x93, 60, 0}, {0xF8, 0, 0}}))
        << "a Note On with velocity 0 goes out as it is";
    EXPECT_EQ(dir.log(), "") << "the trace is off";
}

TEST_F(PortLayer, WithNoOutputOpenASendIsLost) {
    recording::state().outputs = {"Out"};
    SetMidiOut(-1, true);
    EXPECT_NE(MidiOut(-1, 0x90, 60, 100), 0);
}

TEST_F(PortLayer, TheSynthesizerAsCurrentOutputTakesTheMessagesInsteadOfThePlatform) {
    withSynth(1);
    SetMidiOut(0, true);
    SetMidiOut(1, true);
    EXPECT_EQ(MidiOut(-1, 0xC3, 24, 0), 0);
    EXPECT_EQ(MidiOut(-1, 0x90, 60, 100), 0);
    EXPECT_TRUE(recording::state().sent.empty());

    SetMidiOut(0, true);
    MidiOut(-1, 0x90, 60, 100);
    EXPECT_EQ(recording::state().sent, (std::vector<MidiMessage>{{0x90, 60, 100}}));
}

TEST_F(PortLayer, OurOwnInputIsNeverOpenedAsTheOutput) {
    recording::state().outputs = {"Nolari In:in", "B"};
    EXPECT_EQ(SetMidiOut(0, true), -1);
    EXPECT_EQ(recording::state().openOutput, -1);
    EXPECT_EQ(dir.log(), "ERROR: SetMidiOut(0) Nolari In:in is one of Nolari's own ports\n");
}

TEST_F(PortLayer, ResetActsOnThePlatformOutputWhenAPortIsCurrent) {
    withSynth(1);
    SetMidiOut(0, true);
    EXPECT_EQ(MidiOutReset(), 0);
    EXPECT_EQ(recording::state().resets, 1);
}

TEST_F(PortLayer, InputCallbackLogsEveryCodeButData) {
    recording::state().inputs = {"In"};
    SetMidiIn(0, true);
    recording::receiveCode(MIM_OPEN, 0, 0);
    recording::receiveCode(MIM_CLOSE, 0, 0);
    recording::receiveCode(MIM_ERROR, 7, 12);
    recording::receiveCode(971, 0, 0);
    recording::receiveCode(MIM_MOREDATA, 1, 2);
    recording::receiveCode(MIM_LONGDATA, 0, 0);
    const std::string prefix = "grwin, MidiInProc(hMidiIn:" + handleText(&recording::state()) + " dwInstance:0 ";
    EXPECT_EQ(dir.log(), prefix + "dwParam1:7 dwParam2:12) message: MIM_ERROR\n" +
                             prefix + "dwParam1:0 dwParam2:0) message: unknown(971)\n" +
                             prefix + "dwParam1:1 dwParam2:2) message: MIM_MOREDATA\n" +
                             prefix + "dwParam1:0 dwParam2:0) message: MIM_LONGDATA\n");
}

TEST(MidiMessageType, NoteOnWithVelocityZeroIsNoteOff) {
    EXPECT_EQ(MidiMessageType(0x93, 0), 0x80);
    EXPECT_EQ(MidiMessageType(0x93, 1), 0x90);
    EXPECT_EQ(MidiMessageType(0xB5, 0), 0xB0);
    EXPECT_EQ(MidiMessageType(0xF8, 0), 0xF0);
}

TEST(MidiMessageLength, EachStatusHasExactlyTheBytesItNeeds) {
    for (int status : {0x80, 0x9F, 0xA3, 0xB0, 0xEF, 0xF2}) EXPECT_EQ(MidiMessageLength(status), 3) << status;
    for (int status : {0xC0, 0xCF, 0xD7, 0xF1, 0xF3}) EXPECT_EQ(MidiMessageLength(status), 2) << status;
    for (int status : {0xF6, 0xF8, 0xFA, 0xFE, 0xFF}) EXPECT_EQ(MidiMessageLength(status), 1) << status;
    for (int status : {0x00, 0x45, 0x7F, 0xF0, 0xF7}) EXPECT_EQ(MidiMessageLength(status), 0) << status;
}

TEST(PortNames, AlsaAddressIsDroppedAndNothingElse) {
    EXPECT_EQ(WithoutAlsaAddress("Midi Through:Midi Through Port-0 14:0"), "Midi Through:Midi Through Port-0");
    EXPECT_EQ(WithoutAlsaAddress("Nolari In:in 128:0"), "Nolari In:in");
    EXPECT_EQ(WithoutAlsaAddress("nolaricap:in"), "nolaricap:in");
    EXPECT_EQ(WithoutAlsaAddress("Synth:Port 1"), "Synth:Port 1");
    EXPECT_EQ(WithoutAlsaAddress("Synth:Port 1:"), "Synth:Port 1:");
    EXPECT_EQ(WithoutAlsaAddress("Synth:Port a1:0"), "Synth:Port a1:0");
}

TEST(PortNames, OwnPortsAreRecognisedByTheirClient) {
    EXPECT_TRUE(IsOwnPort("Nolari In:in"));
    EXPECT_TRUE(IsOwnPort("Nolari Out:out"));
    EXPECT_TRUE(IsOwnPort("Nolari Out-01:out")) << "JACK renames a second Nolari's client";
    EXPECT_TRUE(IsOwnPort("Nolari:in") && IsOwnPort("Nolari-02:out")) << "the JACK client";
    EXPECT_FALSE(IsOwnPort("Nolarity:out"));
    EXPECT_FALSE(IsOwnPort("nolaricap:in"));
    EXPECT_FALSE(IsOwnPort("Nolari Outboard:midi"));
    EXPECT_FALSE(IsOwnPort("Nolari In-x:in"));
    EXPECT_FALSE(IsOwnPort("Keyboard:Nolari In"));
}

#include <gtest/gtest.h>

#include <memory>

#include "app/Nolari.h"
#include "config/Cfg.h"
#include "midi/grwin.h"
#include "song/Meta.h"
#include "support/RecordingPlatform.h"
#include "support/SongBuilder.h"
#include "support/TestEnv.h"
#include "synth/WindowsSynthGeneralMIDI.h"
#include "ui/Menus.h"

namespace {

class Devices : public ::testing::Test {
protected:
    void SetUp() override { resetPorts(); }
    void TearDown() override { resetPorts(); }

    static void resetPorts() {
        recording::reset();
        synthOpen = false;
        synthIndex = 0;
        activeMidiOut = 0;
    }

    static std::vector<MidiMessage> localControl(bool on, int channels = 16) {
        std::vector<MidiMessage> messages;
        for (int channel = 0; channel < channels; ++channel)
            messages.push_back({static_cast<uint8_t>(0xB0 + channel), 122, static_cast<uint8_t>(on ? 127 : 0)});
        return messages;
    }

    static std::vector<MidiMessage> programZero() {
        std::vector<MidiMessage> messages;
        for (int channel = 0; channel < 16; ++channel) messages.push_back({static_cast<uint8_t>(0xC0 + channel), 0, 0});
        return messages;
    }

    static std::vector<MidiMessage> concat(std::vector<MidiMessage> a, const std::vector<MidiMessage>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }

    static std::vector<std::string> labels(const std::vector<MenuEntry>& entries) {
        std::vector<std::string> result;
        for (const MenuEntry& entry : entries) result.push_back(entry.label);
        return result;
    }

    TestDir dir;
    std::unique_ptr<Nolari> app = std::make_unique<Nolari>();
    Cfg& cfg = *app->cfg_;
    recording::State& ports = recording::state();
};

}  // namespace

TEST_F(Devices, FirstStartSkipsLoopbacksAndOwnPorts) {
    ports.inputs = {"Midi Through:Midi Through Port-0", "MIDI Yoke NT:  1", "Nolari Out:out",
                    "Keyboard:Keyboard MIDI 1"};
    ports.outputs = {"Midi Through:Midi Through Port-0", "Nolari In:in", "Nolari In-01:in", "Synth:Synth input port"};
    app->findDefaultMidiDevices();
    EXPECT_EQ(app->midiInDevice, 3);
    EXPECT_EQ(app->midiOutDevice, 3);
    EXPECT_EQ(cfg.midiInDeviceName, "Keyboard:Keyboard MIDI 1");
    EXPECT_EQ(cfg.midiOutDeviceName, "Synth:Synth input port");
    EXPECT_EQ(dir.log(), "Cfg::setMidiOutDevice(Synth:Synth input port)\n");
    const std::string saved = dir.read("Nolari.cfg");
    EXPECT_NE(saved.find("MIDIIN Keyboard:Keyboard MIDI 1\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("MIDIOUT Synth:Synth input port\n"), std::string::npos) << saved;
}

TEST_F(Devices, FirstStartWithOnlyLoopbacksChoosesNothingAndStoresNothing) {
    ports.inputs = {"MIDI Yoke NT:  1", "Midi Through:Midi Through Port-0"};
    ports.outputs = {"Midi Through:Midi Through Port-0"};
    app->findDefaultMidiDevices();
    EXPECT_EQ(app->midiInDevice, -1);
    EXPECT_EQ(app->midiOutDevice, -1);
    EXPECT_EQ(cfg.midiInDeviceName, "");
    EXPECT_EQ(cfg.midiOutDeviceName, "");
    EXPECT_EQ(dir.log(), "");
}

TEST_F(Devices, FirstStartWithoutPlatformOutputsChoosesTheSynthesizer) {
    synthOpen = true;
    synthIndex = 0;
    app->findDefaultMidiDevices();
    EXPECT_EQ(app->midiInDevice, -1);
    EXPECT_EQ(app->midiOutDevice, 0);
}

TEST_F(Devices, ConfiguredNamesAreKeptEvenWhenAbsent) {
    ports.inputs = {"Keyboard"};
    ports.outputs = {"Synth"};
    cfg.midiInDeviceName = "Gone In";
    cfg.midiOutDeviceName = "Gone Out";
    app->findDefaultMidiDevices();
    EXPECT_EQ(cfg.midiInDeviceName, "Gone In");
    EXPECT_EQ(cfg.midiOutDeviceName, "Gone Out");
    EXPECT_EQ(app->midiInDevice, -1);
    EXPECT_EQ(app->midiOutDevice, -1);
}

TEST_F(Devices, NamesMatchExactlyAndTheFirstOfTwoEqualNamesWins) {
    ports.inputs = {"keyboard", "Keyboard", "Keyboard"};
    ports.outputs = {"Synth", "Synth ", "Synth"};
    ports.failName = 0;
    EXPECT_EQ(app->findMidiInByName("Keyboard"), 1);
    EXPECT_EQ(app->findMidiInByName("Key"), -1);
    EXPECT_EQ(app->findMidiOutByName("Synth "), 1);
    EXPECT_EQ(app->findMidiOutByName("Synth"), 2) << "a failed lookup skips its index";
    EXPECT_EQ(app->findMidiInByName(""), -1);
}

TEST_F(Devices, SynthesizerIsListedLastUnderItsOwnName) {
    ports.outputs = {"Piano"};
    synthOpen = true;
    synthIndex = 1;
    cfg.midiOutDeviceName = "Piano";
    const std::vector<std::string> expected = {">>>Piano", markCurrent(synth.name(), false)};
    EXPECT_EQ(labels(menuContents(*app).midiOut), expected);
    EXPECT_EQ(menuContents(*app).midiOut[1].value, 1);
}

TEST_F(Devices, StartOpensTheConfiguredDevicesAndSwitchesLocalControlOff) {
    ports.inputs = {"Other", "Keyboard"};
    ports.outputs = {"Other", "Piano"};
    cfg.midiInDeviceName = "Keyboard";
    cfg.midiOutDeviceName = "Piano";
    app->startMidi();
    EXPECT_EQ(app->midiInDevice, 1);
    EXPECT_EQ(app->midiOutDevice, 1);
    EXPECT_EQ(ports.openInput, 1);
    EXPECT_EQ(ports.openOutput, 1);
    EXPECT_EQ(ports.sent, concat(localControl(false), programZero()));
}

TEST_F(Devices, StartWithAbsentOrUnopenableDevicesLeavesNone) {
    ports.inputs = {"Keyboard"};
    ports.outputs = {"Piano"};
    cfg.midiInDeviceName = "Keyboard";
    cfg.midiOutDeviceName = "Gone";
    ports.failOpen = true;
    app->startMidi();
    EXPECT_EQ(app->midiInDevice, -1);
    EXPECT_EQ(app->midiOutDevice, -1);
    EXPECT_EQ(ports.openInput, -1);
    EXPECT_EQ(ports.openOutput, -1);
}

TEST_F(Devices, StopSwitchesLocalControlOnAndClosesBoth) {
    ports.inputs = {"Keyboard"};
    ports.outputs = {"Piano"};
    cfg.midiInDeviceName = "Keyboard";
    cfg.midiOutDeviceName = "Piano";
    app->startMidi();
    ports.sent.clear();
    app->stopMidi();
    EXPECT_EQ(ports.sent, localControl(true));
    EXPECT_EQ(ports.openInput, -1);
    EXPECT_EQ(ports.openOutput, -1);
}

TEST_F(Devices, SwitchingTheOutputWrapsItInLocalControlAndSilencesFirst) {
    ports.outputs = {"Piano", "Organ"};
    cfg.midiOutDeviceName = "Piano";
    app->startMidi();
    app->trackNoteOn(2, 60, 100);
    ports.sent.clear();
    const int resets = ports.resets;

    app->selectMidiOut(1);
    EXPECT_EQ(ports.resets, resets + 1);
    EXPECT_EQ(ports.sent, concat(concat(concat({{0x82, 60, 0}}, localControl(true)), localControl(false)), programZero()));
    EXPECT_EQ(app->soundingCount(), 0);
    EXPECT_EQ(app->midiOutDevice, 1);
    EXPECT_EQ(ports.openOutput, 1);
    EXPECT_EQ(cfg.midiOutDeviceName, "Organ");
    EXPECT_NE(dir.read("Nolari.cfg").find("MIDIOUT Organ\n"), std::string::npos);
    EXPECT_NE(dir.log().find("Cfg::setMidiOutDevice(Organ)\n"), std::string::npos);
    EXPECT_TRUE(app->menusDirty);
}

TEST_F(Devices, ChoosingTheOutputInUseReopensIt) {
    ports.outputs = {"Piano"};
    cfg.midiOutDeviceName = "Piano";
    app->startMidi();
    ports.sent.clear();
    app->selectMidiOut(0);
    EXPECT_EQ(ports.openOutput, 0);
    EXPECT_EQ(ports.sent, concat(concat(localControl(true), localControl(false)), programZero()));
}

TEST_F(Devices, ANewOutputGetsTheProgramsInEffectAtThePosition) {
    ports.outputs = {"Piano", "Organ"};
    SongBuilder().channelEvent(0, 0xC0, 2, 33, 0).channelEvent(0, 0xC0, 0, 5, 0).note(0, 1, 60, 100, 0, true).build(*app->song);
    app->songLoaded = true;
    app->position = 2;
    app->selectMidiOut(1);
    std::vector<MidiMessage> programs = programZero();
    programs[0].data1 = 5;
    programs[2].data1 = 33;
    EXPECT_EQ(ports.sent, concat(concat(localControl(true), localControl(false)), programs));
}

TEST_F(Devices, ChosenDeviceThatFailsToOpenKeepsItsIndex) {
    ports.inputs = {"Keyboard"};
    ports.outputs = {"Piano"};
    ports.failOpen = true;
    app->selectMidiIn(0);
    app->selectMidiOut(0);
    EXPECT_EQ(app->midiInDevice, 0);
    EXPECT_EQ(app->midiOutDevice, 0);
    EXPECT_EQ(cfg.midiInDeviceName, "Keyboard");
    EXPECT_EQ(activeMidiOut, -1);
}

TEST_F(Devices, SwitchingTheInputClosesTheOldOneAndStoresTheNewName) {
    ports.inputs = {"Keyboard", "Pads", "Broken"};
    ports.failName = 2;
    cfg.midiInDeviceName = "Keyboard";
    app->startMidi();
    app->selectMidiIn(1);
    EXPECT_EQ(ports.openInput, 1);
    EXPECT_EQ(app->midiInDevice, 1);
    EXPECT_NE(dir.read("Nolari.cfg").find("MIDIIN Pads\n"), std::string::npos);
    EXPECT_TRUE(app->menusDirty);

    app->selectMidiIn(2);
    EXPECT_EQ(cfg.midiInDeviceName, "") << "a failed lookup stores an empty name";
    EXPECT_EQ(dir.read("Nolari.cfg").find("MIDIIN"), std::string::npos);
}

TEST_F(Devices, MenuOptionsShowTheStateAndEachChoiceFlipsIt) {
    const std::string dashes(33, '-');
    const std::vector<std::string> before = {"midiIn", "midiOut", dashes, "Open ...", dashes,
                                             "Channel 16: Play", "Pedal Events: User", "Channel: ALL",
                                             "Loop between markers: Off", "Listen speed", "Transpose (0)", "Parts",
                                             "Export take as audio", "Export take as audio (FLAC)"};
    EXPECT_EQ(labels(menuContents(*app).main), before);
    std::vector<int> values;
    for (const MenuEntry& entry : menuContents(*app).main)
        if (!entry.submenu) values.push_back(entry.value);
    EXPECT_EQ(values, (std::vector<int>{-1, 1, -1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(menuContents(*app).main[10].value, 3) << "the Transpose submenu";

    app->selectMain(4);
    EXPECT_TRUE(app->meta->forceChannelOne);
    EXPECT_TRUE(app->menusDirty);
    EXPECT_EQ(menuContents(*app).main[7].label, "Channel: Force Channel One");
    app->selectMain(2);
    EXPECT_EQ(menuContents(*app).main[5].label, "Channel 16: Mute");
    app->selectMain(3);
    EXPECT_EQ(menuContents(*app).main[6].label, "Pedal Events: Auto");
    app->selectMain(5);
    EXPECT_EQ(menuContents(*app).main[8].label, "Loop between markers: On");
    for (int choice : {12, 12, 12, -1}) app->selectTranspose(choice);
    EXPECT_EQ(menuContents(*app).main[10].label, "Transpose (+23)") << "held within two octaves";
    app->selectTranspose(-12);
    app->selectTranspose(-12);
    app->selectTranspose(-12);
    EXPECT_EQ(menuContents(*app).main[10].label, "Transpose (-13)");
    EXPECT_EQ(labels(menuContents(*app).transpose),
              (std::vector<std::string>{"Up a semitone", "Down a semitone", "Up an octave", "Down an octave", "None"}));

    app->selectMain(4);
    app->selectMain(2);
    app->selectMain(3);
    app->selectMain(5);
    app->selectTranspose(0);
    EXPECT_EQ(labels(menuContents(*app).main), before);
    EXPECT_FALSE(app->meta->forceChannelOne || app->meta->chan16Mute || app->meta->sendPedalEvents);
    EXPECT_FALSE(app->meta->loop);
    EXPECT_EQ(app->meta->transpose, 0);
}

TEST_F(Devices, ListenSpeedSubmenuMarksTheSongsSpeedAndAChoiceIsKeptWithTheSong) {
    const MenuEntry entry = menuContents(*app).main[9];
    EXPECT_EQ(entry.label, "Listen speed");
    EXPECT_TRUE(entry.submenu);
    EXPECT_EQ(entry.value, 2);
    EXPECT_EQ(labels(menuContents(*app).listenSpeed),
              (std::vector<std::string>{"        50 %", "        75 %", ">>>100 %", "        125 %"}));
    app->selectListenSpeed(menuContents(*app).listenSpeed[0].value);
    EXPECT_EQ(app->meta->listenSpeed, 50);
    EXPECT_TRUE(app->menusDirty);
    EXPECT_EQ(menuContents(*app).listenSpeed[0].label, ">>>50 %");
    app->menusDirty = false;
    app->selectListenSpeed(60);
    EXPECT_EQ(app->meta->listenSpeed, 50);
    EXPECT_FALSE(app->menusDirty);
    EXPECT_EQ(dir.log(), "ERROR: Nolari::selectListenSpeed( 60 ) invalid menu item\n");
}

TEST_F(Devices, SeparatorChoiceIsLoggedAndChangesNothing) {
    app->selectMain(-1);
    app->selectMain(8);
    EXPECT_FALSE(app->menusDirty);
    EXPECT_FALSE(app->meta->forceChannelOne || app->meta->chan16Mute || app->meta->sendPedalEvents);
    EXPECT_EQ(dir.log(),
              "ERROR: Nolari::selectMain( -1 ) invalid menu item\n"
              "ERROR: Nolari::selectMain( 8 ) invalid menu item\n");
}

TEST_F(Devices, DeviceMenusMarkTheConfiguredNameAndEndAtTheFirstFailedLookup) {
    ports.inputs = {"Keyboard", "Pads", "Broken", "Never shown"};
    ports.outputs = {"Piano", "Organ", "Piano"};
    ports.failName = 2;
    cfg.midiInDeviceName = "Pads";
    cfg.midiOutDeviceName = "Piano";
    const MenuContents menus = menuContents(*app);
    EXPECT_EQ(labels(menus.midiIn), (std::vector<std::string>{"        Keyboard", ">>>Pads"}));
    EXPECT_EQ(labels(menus.midiOut), (std::vector<std::string>{">>>Piano", "        Organ"}));
    EXPECT_EQ(menus.midiIn[1].value, 1);

    ports.failName = -1;
    EXPECT_EQ(labels(menuContents(*app).midiOut), (std::vector<std::string>{">>>Piano", "        Organ", ">>>Piano"}))
        << "two devices with the configured name are both marked";
}

TEST_F(Devices, DeviceMenusFollowTheConfiguredNameNotTheOpenDevice) {
    ports.outputs = {"Piano", "Organ"};
    cfg.midiOutDeviceName = "Gone";
    EXPECT_EQ(labels(menuContents(*app).midiOut), (std::vector<std::string>{"        Piano", "        Organ"}));
}

TEST_F(Devices, OwnPortsAreNeverOffered) {
    ports.inputs = {"Nolari Out:out", "Keyboard"};
    ports.outputs = {"Nolari In:in", "Piano", "Nolari In-01:in"};
    const MenuContents menus = menuContents(*app);
    EXPECT_EQ(labels(menus.midiIn), (std::vector<std::string>{"        Keyboard"}));
    EXPECT_EQ(labels(menus.midiOut), (std::vector<std::string>{"        Piano"}));
    EXPECT_EQ(menus.midiIn[0].value, 1);
    EXPECT_EQ(menus.midiOut[0].value, 1);
}

TEST_F(Devices, WithoutDevicesEachSubmenuSaysSoAndItsEntryDoesNothing) {
    cfg.midiInDeviceName = "Keyboard";
    cfg.midiOutDeviceName = "Piano";
    const MenuContents menus = menuContents(*app);
    ASSERT_EQ(labels(menus.midiIn), (std::vector<std::string>{"(no MIDI input found)"}));
    ASSERT_EQ(labels(menus.midiOut), (std::vector<std::string>{"(no MIDI output found)"}));
    app->selectMidiIn(menus.midiIn[0].value);
    app->selectMidiOut(menus.midiOut[0].value);
    EXPECT_EQ(cfg.midiInDeviceName, "Keyboard");
    EXPECT_EQ(cfg.midiOutDeviceName, "Piano");
    EXPECT_FALSE(app->menusDirty);
    EXPECT_TRUE(ports.sent.empty());
    EXPECT_EQ(dir.log(), "");
}

TEST_F(Devices, MenusFollowThePortListAtMostOnceASecondAskingForEachListOnce) {
    ports.inputs = {"Keyboard"};
    ports.outputs = {"Piano", "Organ", "Strings"};
    app->deviceMenus.shown(menuContents(*app).devices);
    ports.listings = 0;
    EXPECT_FALSE(app->deviceMenus.portsChanged(10.0));
    EXPECT_EQ(ports.listings, 2) << "the inputs and the outputs, each asked for once";
    ports.inputs.push_back("Pads");
    EXPECT_FALSE(app->deviceMenus.portsChanged(10.5));
    EXPECT_TRUE(app->deviceMenus.portsChanged(11.0));
    app->deviceMenus.shown(menuContents(*app).devices);
    EXPECT_FALSE(app->deviceMenus.portsChanged(12.0));
}

// The synthesizer, listed last, while the platform's list moves under a menu already shown.
class DevicesWithSynth : public Devices {
protected:
    void SetUp() override {
        Devices::SetUp();
        ASSERT_TRUE(synth.openOffline());
        synthOpen = true;
    }
    void TearDown() override {
        synth.close();
        Devices::TearDown();
    }
    // Chooses the entry showing this name in the midiOut menu as it was last built.
    void choose(const std::string& name) {
        for (const MenuEntry& entry : shown.midiOut)
            if (entry.label.find(name) != std::string::npos) return app->selectMidiOut(entry.value);
        FAIL() << name << " is not offered";
    }
    void show() {
        shown = menuContents(*app);
        app->deviceMenus.shown(shown.devices);
    }
    bool synthPlays() {
        ports.sent.clear();
        MidiOut(-1, 0x90, 60, 100);
        return ports.sent.empty() && ports.openOutput == -1;
    }

    MenuContents shown;
};

TEST_F(DevicesWithSynth, ChoosingTheSynthesizerAfterAnInputOpenedPlaysOnIt) {
    ports.outputs = {"Piano"};
    synthIndex = NumMidiOuts() - 1;
    cfg.midiOutDeviceName = "Piano";
    app->startMidi();
    ports.outputs = {"Piano", "Nolari In:in"};  // the own input's port, once it is open
    show();
    choose(synth.name());
    EXPECT_TRUE(synthPlays());
    EXPECT_EQ(cfg.midiOutDeviceName, synth.name());
}

TEST_F(DevicesWithSynth, AChoiceOpensTheDeviceItsEntryShowedAfterThePortsMoved) {
    ports.outputs = {"Piano"};
    show();
    ports.outputs = {"Organ", "Piano"};  // plugged in since the menu was built
    choose(synth.name());
    EXPECT_TRUE(synthPlays());
    EXPECT_EQ(cfg.midiOutDeviceName, synth.name());
    choose("Piano");
    EXPECT_EQ(ports.openOutput, 1);
    EXPECT_EQ(cfg.midiOutDeviceName, "Piano");
    EXPECT_FALSE(synthPlays());
}

#pragma once
// The software General MIDI synthesizer, listed as the last MIDI output. It is FluidSynth playing a
// General MIDI SoundFont from the system's standard place through the desktop's audio output.
//
// Messages may arrive from the GUI thread and from the MIDI-input thread. They are serialised by
// the object's own mutex (not the engine's lock, which not every caller holds, and never a lock the
// drawing takes), so two messages never overlap inside the synthesizer. The play path allocates
// nothing.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "synth/AudioOutput.h"

struct _fluid_hashtable_t;
struct _fluid_synth_t;
struct _fluid_sfont_t;

class WindowsSynthGeneralMIDI {
public:
    // The rate desktop sound servers run at, so that the sound reaches them without resampling.
    static constexpr int sampleRate = 48000;

    WindowsSynthGeneralMIDI();
    ~WindowsSynthGeneralMIDI();
    WindowsSynthGeneralMIDI(const WindowsSynthGeneralMIDI&) = delete;
    WindowsSynthGeneralMIDI& operator=(const WindowsSynthGeneralMIDI&) = delete;

    // Sets up the synthesizer and starts its audio output; true when it is ready to play.
    bool open();
    // The same set-up without any audio output: the sound is only what render() pulls out.
    bool openOffline();
    // The offline set-up for rendering a file: neither reads nor writes the latency file, which
    // belongs to the live output and must not appear where a render runs.
    bool openToRender();
    void close();
    const std::string& name() const { return name_; }
    void send(uint8_t channel, uint8_t type, uint8_t data1, uint8_t data2);
    bool setGMInstrument(uint8_t channel, uint8_t gmNumber);
    void play(uint8_t channel, uint8_t type, uint8_t data1, uint8_t data2);

    // The output latency in milliseconds that the open audio output granted, or the one it will be
    // asked for when none is open; -1 before open.
    int getWriteLatency() const;
    // Asks the audio output, open or next opened, for this latency in milliseconds.
    void setWriteLatency(int milliseconds);
    // Renders the next frames of stereo sound into left and right; false when not open.
    bool render(float* left, float* right, int frames);
    // The SoundFont preset now selected on a channel; false when the channel has none.
    bool channelPreset(uint8_t channel, int& bank, int& program, std::string& presetName);

private:
    struct Patch {
        int bank;
        int program;
    };

    enum class Use { live, offline, rendering };
    bool openFor(Use use);
    bool findSoundFont();
    bool startAudioOutput();
    void applyLatencySetting();
    void buildGMIndex();
    bool setGMInstrumentLocked(uint8_t channel, uint8_t gmNumber);
    void playLocked(uint8_t channel, uint8_t type, uint8_t data1, uint8_t data2);

    bool isOpen = false;
    bool openAttempted = false;
    std::string name_;
    std::string soundFontPath;
    _fluid_hashtable_t* settings = nullptr;
    _fluid_synth_t* fluid = nullptr;
    AudioOutput audio;
    int soundFontId = -1;
    _fluid_sfont_t* soundFont = nullptr;
    // The SoundFont's presets in its own enumeration order; gmIndex points into this list.
    std::vector<Patch> presets;
    // Per channel, the index into presets of the instrument selected by setGMInstrument, or -1.
    int downloaded[16];
    // General MIDI program number -> index into presets, -1 when the SoundFont lacks the program.
    std::unique_ptr<int[]> gmIndex;
    std::mutex lock_;
};

extern WindowsSynthGeneralMIDI synth;

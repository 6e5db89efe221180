#include "synth/WindowsSynthGeneralMIDI.h"

#include <fluidsynth.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/Log.h"
#include "app/Nolari.h"

namespace {

// General MIDI SoundFonts in the order preferred: the system's chosen default first, then the two
// that Debian packages.
const char* const soundFontPaths[] = {
    "/usr/share/sounds/sf2/default-GM.sf2",
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "/usr/share/sounds/sf2/TimGM6mb.sf2",
};

const char* const latencyFileName = "WindowsSynthGeneralMIDI.cfg";

// Refusals before a successful open are reported once per run, for each entry point.
bool reportEarlySetGMInstrument = true;
bool reportEarlyPlay = true;

std::string baseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

WindowsSynthGeneralMIDI::WindowsSynthGeneralMIDI() { std::fill(std::begin(downloaded), std::end(downloaded), -1); }

WindowsSynthGeneralMIDI::~WindowsSynthGeneralMIDI() {
    close();
    name_.clear();
}

bool WindowsSynthGeneralMIDI::open() { return openFor(Use::live); }

bool WindowsSynthGeneralMIDI::openOffline() { return openFor(Use::offline); }

bool WindowsSynthGeneralMIDI::openToRender() { return openFor(Use::rendering); }

// Each failure leaves what was already made in place for close() to release; there is no retry.
bool WindowsSynthGeneralMIDI::openFor(Use use) {
    if (isOpen) return true;
    if (openAttempted) return false;
    openAttempted = true;

    settings = new_fluid_settings();
    if (!settings) {
        logMessage("ERROR: new_fluid_settings() returned NULL\n");
        return false;
    }
    fluid_settings_setnum(settings, "synth.sample-rate", sampleRate);
    // A JACK server that is present is used and connected to the speakers; none is started.
    fluid_settings_setint(settings, "audio.jack.autoconnect", 1);
    fluid_settings_setstr(settings, "audio.jack.id", "NolariSynth");

    fluid = new_fluid_synth(settings);
    if (!fluid) {
        logMessage("ERROR: new_fluid_synth() returned NULL\n");
        return false;
    }
    if (!findSoundFont()) {
        logMessage("ERROR: Unable to find software synth: no General MIDI SoundFont "
                   "(default-GM.sf2, FluidR3_GM.sf2, TimGM6mb.sf2) in /usr/share/sounds/sf2\n");
        return false;
    }
    soundFontId = fluid_synth_sfload(fluid, soundFontPath.c_str(), 1);
    if (soundFontId == FLUID_FAILED) {
        logMessage("ERROR: fluid_synth_sfload(%s) returned %d\n", soundFontPath.c_str(), soundFontId);
        return false;
    }
    soundFont = fluid_synth_get_sfont_by_id(fluid, soundFontId);

    // The output is asked for the latency when it starts, so the setting is read before.
    if (use != Use::rendering) applyLatencySetting();
    if (use == Use::live && !startAudioOutput()) {
        logMessage("ERROR: Unable to open an audio output for the software synth (tried %s)\n", audio.tried().c_str());
        return false;
    }
    buildGMIndex();
    {
        std::lock_guard<std::mutex> guard(lock_);
        isOpen = true;
    }
    for (uint8_t channel = 0; channel < 16; ++channel) setGMInstrument(channel, 0);
    return true;
}

// The first readable SoundFont of the standard list; its file name names the output, so the
// name stays the same from run to run.
bool WindowsSynthGeneralMIDI::findSoundFont() {
    for (const char* path : soundFontPaths) {
        if (access(path, R_OK) != 0) continue;
        soundFontPath = path;
        name_ = ("FluidSynth General MIDI (" + baseName(soundFontPath) + ")").substr(0, 99);
        return true;
    }
    return false;
}

bool WindowsSynthGeneralMIDI::startAudioOutput() {
    // Without this a missing JACK server would be started by the JACK client library.
    setenv("JACK_NO_START_SERVER", "1", 0);
    return audio.open(settings, fluid);
}

void WindowsSynthGeneralMIDI::close() {
    std::lock_guard<std::mutex> guard(lock_);
    isOpen = false;
    openAttempted = false;
    // The audio thread renders from the synthesizer, so it stops before anything else goes.
    audio.close();
    audio.setLatency(AudioOutput::defaultLatency);
    gmIndex.reset();
    for (int channel = 0; channel < 16; ++channel) {
        if (downloaded[channel] >= 0 && fluid) fluid_synth_unset_program(fluid, channel);
        downloaded[channel] = -1;
    }
    presets.clear();
    soundFont = nullptr;
    soundFontId = -1;
    // Deleting the synthesizer unloads its SoundFont.
    if (fluid) delete_fluid_synth(fluid);
    fluid = nullptr;
    if (settings) delete_fluid_settings(settings);
    settings = nullptr;
}

int WindowsSynthGeneralMIDI::getWriteLatency() const { return settings ? audio.latency() : -1; }

void WindowsSynthGeneralMIDI::setWriteLatency(int milliseconds) {
    std::lock_guard<std::mutex> guard(lock_);
    audio.setLatency(milliseconds);
}

void WindowsSynthGeneralMIDI::applyLatencySetting() {
    const std::string path = startDirectory + "/" + latencyFileName;
    if (FILE* in = std::fopen(path.c_str(), "r")) {
        int latency = 0;
        const bool read = std::fscanf(in, "%d", &latency) == 1;
        std::fclose(in);
        if (read) {
            if (latency >= 0) setWriteLatency(latency);
            return;
        }
    }
    FILE* out = std::fopen(path.c_str(), "w");
    if (!out) return;
    std::fprintf(out, "%d", getWriteLatency());
    std::fclose(out);
}

// Program p is the SoundFont's bank 0 preset with program number p; the index is the preset's
// place in the SoundFont's own list.
void WindowsSynthGeneralMIDI::buildGMIndex() {
    gmIndex = std::make_unique<int[]>(128);
    std::fill(gmIndex.get(), gmIndex.get() + 128, -1);
    presets.clear();
    fluid_sfont_iteration_start(soundFont);
    while (fluid_preset_t* preset = fluid_sfont_iteration_next(soundFont)) {
        const Patch patch{fluid_preset_get_banknum(preset), fluid_preset_get_num(preset)};
        if (patch.bank == 0 && patch.program >= 0 && patch.program < 128 && gmIndex[patch.program] < 0) {
            gmIndex[patch.program] = static_cast<int>(presets.size());
        }
        presets.push_back(patch);
    }
}

void WindowsSynthGeneralMIDI::send(uint8_t channel, uint8_t type, uint8_t data1, uint8_t data2) {
    std::lock_guard<std::mutex> guard(lock_);
    if (type == 0xC0) {
        setGMInstrumentLocked(channel, data1);
        return;
    }
    playLocked(channel, type, data1, data2);
}

bool WindowsSynthGeneralMIDI::setGMInstrument(uint8_t channel, uint8_t gmNumber) {
    std::lock_guard<std::mutex> guard(lock_);
    return setGMInstrumentLocked(channel, gmNumber);
}

void WindowsSynthGeneralMIDI::play(uint8_t channel, uint8_t type, uint8_t data1, uint8_t data2) {
    std::lock_guard<std::mutex> guard(lock_);
    playLocked(channel, type, data1, data2);
}

bool WindowsSynthGeneralMIDI::setGMInstrumentLocked(uint8_t channel, uint8_t gmNumber) {
    if (!isOpen) {
        if (reportEarlySetGMInstrument) {
            reportEarlySetGMInstrument = false;
            logMessage("ERROR: WindowsSynthGeneralMIDI::setGMInstrument called before open complete\n");
        }
        return false;
    }
    if (gmNumber >= 128) {
        logMessage("ERROR: WindowsSynthGeneralMIDI::setGMInstrument gmNumber %d (0x%x) out of range\n",
                   gmNumber, gmNumber);
        return false;
    }
    if (channel >= 16) {
        logMessage("ERROR: WindowsSynthGeneralMIDI::setGMInstrument channel %d (0x%x) out of range\n",
                   channel, channel);
        return false;
    }
    if (downloaded[channel] >= 0) {
        fluid_synth_unset_program(fluid, channel);
        downloaded[channel] = -1;
    }
    const int index = gmIndex[gmNumber];
    if (index < 0) {
        logMessage("ERROR: WindowsSynthGeneralMIDI::setGMInstrument program %d is not in %s\n", gmNumber,
                   soundFontPath.c_str());
        return false;
    }
    const Patch& patch = presets[index];
    const int result = fluid_synth_program_select(fluid, channel, soundFontId, patch.bank, patch.program);
    if (result != FLUID_OK) {
        logMessage("ERROR: fluid_synth_program_select(%d, %d:%d) returned %d\n", channel, patch.bank,
                   patch.program, result);
        return false;
    }
    downloaded[channel] = index;
    // The synthesizer's own Program Change follows, so that the channel's MIDI state (the drum
    // channel's kit, a bank chosen by the song) takes effect as with any General MIDI device.
    playLocked(channel, 0xC0, static_cast<uint8_t>(patch.program & 0xFF), 0);
    return true;
}

void WindowsSynthGeneralMIDI::playLocked(uint8_t channel, uint8_t type, uint8_t data1, uint8_t data2) {
    if (!isOpen) {
        if (reportEarlyPlay) {
            reportEarlyPlay = false;
            logMessage("ERROR: WindowsSynthGeneralMIDI::play called before open complete\n");
        }
        return;
    }
    int result = FLUID_OK;
    switch (type) {
        case 0x80:
            // Fails only when the note is not sounding, which is no fault.
            fluid_synth_noteoff(fluid, channel, data1);
            return;
        case 0x90:
            if (data2 == 0) {
                fluid_synth_noteoff(fluid, channel, data1);
                return;
            }
            result = fluid_synth_noteon(fluid, channel, data1, data2);
            break;
        case 0xA0: result = fluid_synth_key_pressure(fluid, channel, data1, data2); break;
        case 0xB0: result = fluid_synth_cc(fluid, channel, data1, data2); break;
        case 0xC0: result = fluid_synth_program_change(fluid, channel, data1); break;
        case 0xD0: result = fluid_synth_channel_pressure(fluid, channel, data1); break;
        case 0xE0: result = fluid_synth_pitch_bend(fluid, channel, data1 | (data2 << 7)); break;
        default:
            // System and real-time messages have nothing to act on in a General MIDI synthesizer.
            return;
    }
    if (result != FLUID_OK) {
        logMessage("ERROR: WindowsSynthGeneralMIDI::play(%02x %02x %02x) returned %d\n", type | channel, data1,
                   data2, result);
    }
}

bool WindowsSynthGeneralMIDI::render(float* left, float* right, int frames) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!isOpen) return false;
    return fluid_synth_write_float(fluid, frames, left, 0, 1, right, 0, 1) == FLUID_OK;
}

bool WindowsSynthGeneralMIDI::channelPreset(uint8_t channel, int& bank, int& program, std::string& presetName) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!isOpen) return false;
    fluid_preset_t* preset = fluid_synth_get_channel_preset(fluid, channel);
    if (!preset) return false;
    bank = fluid_preset_get_banknum(preset);
    program = fluid_preset_get_num(preset);
    presetName = fluid_preset_get_name(preset);
    return true;
}

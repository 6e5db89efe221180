#include "synth/AudioOutput.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>

#include "app/Log.h"
#include "synth/platform_audio.h"

namespace {

// The synthesizer renders straight into the stream's buffer. No lock of ours is taken here:
// FluidSynth lets one thread render while others play notes (its own drivers do the same), and
// the stream is destroyed before the synthesizer is, so this thread never waits on another.
void renderSynth(void* synth, float* interleaved, int frames) {
    fluid_synth_write_float(static_cast<fluid_synth_t*>(synth), frames, interleaved, 0, 2, interleaved, 1, 2);
}

int settingInt(fluid_settings_t* settings, const char* name) {
    int value = 0;
    fluid_settings_getint(settings, name, &value);
    return value;
}

// Sets an integer setting to the value nearest to the one wanted within the setting's range.
void setWithinRange(fluid_settings_t* settings, const char* name, long wanted) {
    int fewest = 0;
    int most = 0;
    fluid_settings_getint_range(settings, name, &fewest, &most);
    fluid_settings_setint(settings, name, static_cast<int>(std::clamp<long>(wanted, fewest, most)));
}

int milliseconds(double frames, double rate) { return static_cast<int>(std::lround(frames * 1000.0 / rate)); }

}  // namespace

bool AudioOutput::open(fluid_settings_t* fluidSettings, fluid_synth_t* fluidSynth) {
    close();
    settings = fluidSettings;
    synth = fluidSynth;
    tried_.clear();
    if (openStream()) return true;
    for (Kind candidate : {Kind::pulseaudio, Kind::jack, Kind::alsa}) {
        if (openDriver(candidate)) return true;
    }
    return false;
}

bool AudioOutput::openStream() {
    note("pipewire");
    if (!platform::openAudioStream(sampleRate(), requestedFrames(), renderSynth, synth)) return false;
    kind = Kind::pipewire;
    logMessage("Software synth audio output: pipewire\n");
    return true;
}

bool AudioOutput::openDriver(Kind candidate) {
    const char* name = candidate == Kind::pulseaudio ? "pulseaudio" : candidate == Kind::jack ? "jack" : "alsa";
    // Asking FluidSynth for a driver it lacks prints an error on standard error.
    if (!platform::hasAudioDriver(settings, name)) return false;
    note(name);
    askDriverLatency(candidate);
    fluid_settings_setstr(settings, "audio.driver", name);
    driver = platform::openAudioDriver(settings, synth);
    if (!driver) return false;
    kind = candidate;
    logMessage("Software synth audio output: %s\n", name);
    return true;
}

// PulseAudio's buffer is one period of FluidSynth's driver; ALSA's is two periods, the fewest that
// play without a gap. JACK takes its server's period whatever is asked.
void AudioOutput::askDriverLatency(Kind candidate) {
    const int frames = requestedFrames();
    if (candidate == Kind::pulseaudio) {
        setWithinRange(settings, "audio.periods", 2);
        setWithinRange(settings, "audio.period-size", frames);
    } else if (candidate == Kind::alsa) {
        setWithinRange(settings, "audio.periods", 2);
        setWithinRange(settings, "audio.period-size", frames / 2);
    }
}

void AudioOutput::close() {
    if (kind == Kind::pipewire) platform::closeAudioStream();
    if (driver) platform::closeAudioDriver(driver);
    driver = nullptr;
    kind = Kind::none;
    settings = nullptr;
    synth = nullptr;
}

void AudioOutput::setLatency(int value) {
    requested = value;
    switch (kind) {
        case Kind::pipewire: platform::setAudioStreamLatency(requestedFrames()); return;
        case Kind::pulseaudio:
        case Kind::alsa: {
            // FluidSynth's drivers take their buffer when they start, so the driver starts again.
            const Kind running = kind;
            platform::closeAudioDriver(driver);
            driver = nullptr;
            kind = Kind::none;
            if (!openDriver(running)) {
                logMessage("ERROR: Unable to open an audio output for the software synth (tried %s)\n",
                           tried_.c_str());
            }
            return;
        }
        case Kind::jack:
        case Kind::none: return;
    }
}

int AudioOutput::latency() const {
    switch (kind) {
        case Kind::pipewire: {
            const int quantum = platform::audioStreamQuantum();
            return quantum > 0 ? milliseconds(quantum, sampleRate()) : requested;
        }
        case Kind::pulseaudio: return milliseconds(settingInt(settings, "audio.period-size"), sampleRate());
        case Kind::alsa:
            return milliseconds(settingInt(settings, "audio.periods") * settingInt(settings, "audio.period-size"),
                                sampleRate());
        case Kind::jack: {
            int frames = 0;
            int rate = 0;
            return platform::jackPeriod(frames, rate) && rate > 0 ? milliseconds(frames, rate) : requested;
        }
        case Kind::none: return requested;
    }
    return requested;
}

int AudioOutput::requestedFrames() const {
    return std::max(1, static_cast<int>(std::lround(requested * sampleRate() / 1000.0)));
}

int AudioOutput::sampleRate() const {
    double rate = 0;
    fluid_settings_getnum(settings, "synth.sample-rate", &rate);
    return static_cast<int>(rate);
}

void AudioOutput::note(const char* name) {
    if (!tried_.empty()) tried_ += ", ";
    tried_ += name;
}

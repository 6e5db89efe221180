#include "support/RecordingAudio.h"

#include <fluidsynth.h>

#include <algorithm>

namespace recording {

Audio& audio() {
    static Audio state;
    return state;
}

void resetAudio() { audio() = Audio{}; }

SoundFiles& soundFiles() {
    static SoundFiles state;
    return state;
}

void resetSoundFiles() { soundFiles() = SoundFiles{}; }

}  // namespace recording

namespace platform {

using recording::audio;

namespace {

bool listed(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

int settingInt(fluid_settings_t* settings, const char* name) {
    int value = 0;
    fluid_settings_getint(settings, name, &value);
    return value;
}

}  // namespace

bool openAudioStream(int sampleRate, int latencyFrames, RenderAudio render, void* context) {
    audio().asked.push_back({"pipewire", latencyFrames, 0, 0});
    if (!audio().pipeWireRuns) return false;
    audio().sampleRate = sampleRate;
    audio().render = render;
    audio().renderContext = context;
    audio().streamOpen = true;
    return true;
}

void setAudioStreamLatency(int latencyFrames) { audio().latencyChanges.push_back(latencyFrames); }

int audioStreamQuantum() { return audio().quantum; }

void closeAudioStream() {
    audio().streamOpen = false;
    audio().render = nullptr;
}

bool hasAudioDriver(fluid_settings_t*, const char* name) { return listed(audio().drivers, name); }

fluid_audio_driver_t* openAudioDriver(fluid_settings_t* settings, fluid_synth_t*) {
    char* name = nullptr;
    fluid_settings_dupstr(settings, "audio.driver", &name);
    const std::string driver = name ? name : "";
    fluid_free(name);
    audio().asked.push_back({driver, 0, settingInt(settings, "audio.periods"), settingInt(settings, "audio.period-size")});
    if (!listed(audio().opening, driver)) return nullptr;
    ++audio().driversOpen;
    // Never dereferenced: the synthesizer only hands it back to closeAudioDriver.
    static char handle;
    return reinterpret_cast<fluid_audio_driver_t*>(&handle);
}

void closeAudioDriver(fluid_audio_driver_t*) { --audio().driversOpen; }

bool jackPeriod(int& frames, int& sampleRate) {
    frames = audio().jackFrames;
    sampleRate = audio().jackRate;
    return frames > 0;
}

struct SoundFile {
    size_t index;
};

bool canWriteSoundFile(SoundFileType type) { return type == SoundFileType::wav || recording::soundFiles().flac; }

SoundFile* createSoundFile(int, SoundFileType type, int sampleRate) {
    if (!canWriteSoundFile(type)) return nullptr;
    recording::soundFiles().files.push_back({type, sampleRate, {}, 0, false});
    return new SoundFile{recording::soundFiles().files.size() - 1};
}

bool writeSoundFrames(SoundFile* file, const float* interleaved, int frames) {
    recording::SoundFileRecord& record = recording::soundFiles().files[file->index];
    record.frames += static_cast<size_t>(frames);
    if (recording::soundFiles().keepSamples) record.samples.insert(record.samples.end(), interleaved, interleaved + 2 * frames);
    return true;
}

bool finishSoundFile(SoundFile* file) {
    recording::soundFiles().files[file->index].finished = true;
    delete file;
    return true;
}

}  // namespace platform

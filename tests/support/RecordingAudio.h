#pragma once
// The recording audio back end linked into tests and benchmarks: which outputs the machine offers
// is set by the test, and every output asked to open is kept with the latency it was asked for;
// every sound file written is kept in memory, and the test says whether FLAC can be written.

#include <cstddef>
#include <string>
#include <vector>

#include "synth/platform_audio.h"
#include "synth/platform_soundfile.h"

namespace recording {

struct AudioRequest {
    std::string output;  // "pipewire" or FluidSynth's driver name
    int latencyFrames;   // the stream's node latency; 0 for FluidSynth's drivers
    int periods;         // FluidSynth's audio.periods and audio.period-size when the driver was asked
    int periodSize;
    bool operator==(const AudioRequest&) const = default;
};

struct Audio {
    bool pipeWireRuns = false;
    std::vector<std::string> drivers = {"pulseaudio", "jack", "alsa"};  // those FluidSynth was built with
    std::vector<std::string> opening;                                    // those that open
    int quantum = 0;                 // what the graph asks of the stream per cycle
    int jackFrames = 0;              // the JACK server's period; 0 when no server answers
    int jackRate = 48000;
    std::vector<AudioRequest> asked;
    std::vector<int> latencyChanges;  // latencies asked of the open stream after it opened
    int sampleRate = 0;               // the stream's
    platform::RenderAudio render = nullptr;
    void* renderContext = nullptr;
    bool streamOpen = false;
    int driversOpen = 0;
};

struct SoundFileRecord {
    platform::SoundFileType type;
    int sampleRate;
    std::vector<float> samples;  // interleaved stereo; none when not kept
    size_t frames = 0;
    bool finished = false;
};

struct SoundFiles {
    bool flac = true;
    bool keepSamples = true;  // off for benchmarks, whose sound would fill the memory
    std::vector<SoundFileRecord> files;
};

Audio& audio();
SoundFiles& soundFiles();
// Back to a machine with no sound server, nothing asked.
void resetAudio();
void resetSoundFiles();

}  // namespace recording

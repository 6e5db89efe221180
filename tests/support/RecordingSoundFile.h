#pragma once
// The recording sound-file back end linked into tests and benchmarks: which types the library
// writes is set by the test, and every file's frames are kept in memory.

#include <cstddef>
#include <vector>

#include "synth/platform_soundfile.h"

namespace recording {

struct SoundFileRecord {
    platform::SoundFileType type;
    int sampleRate;
    std::vector<float> samples;  // interleaved stereo
    size_t frames = 0;
    bool finished = false;
};

struct SoundFiles {
    bool flac = true;
    // Keeps no samples, for benchmarks whose sound would fill the memory.
    bool keepSamples = true;
    std::vector<SoundFileRecord> files;
};

SoundFiles& soundFiles();
void resetSoundFiles();

}  // namespace recording

#pragma once
// Renders timed MIDI messages into a sound file, offline and as fast as the machine allows,
// through a synthesizer of its own set up as the live one is (the same SoundFont, rate and
// settings) but with no audio output: 48 kHz, 16-bit stereo, every message at its own frame from
// time 0, and after the last one every note released and the reverb's tail kept until it falls
// silent, for at most 5 s. The file is written whole or not at all.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "synth/platform_soundfile.h"

struct RenderMessage {
    double time = 0;  // seconds from the start
    uint8_t status = 0, data1 = 0, data2 = 0;
};

// Shared with whoever waits for a render on another thread.
struct RenderProgress {
    std::atomic<double> done{0};  // the part of the sound rendered so far, 0 .. 1
    std::atomic<bool> stop{false};
};

struct RenderResult {
    bool written = false;
    std::string problem;  // why not, to end a sentence: "it has no notes"
    double seconds = 0;   // the sound's length
};

constexpr double longestTail = 5.0;

RenderResult renderToFile(const std::vector<RenderMessage>& messages, const std::string& path,
                          platform::SoundFileType type, RenderProgress& progress);

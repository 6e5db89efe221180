#include "synth/OfflineRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/AtomicSave.h"
#include "synth/WindowsSynthGeneralMIDI.h"

namespace {

constexpr int rate = WindowsSynthGeneralMIDI::sampleRate;
constexpr int blockFrames = 512;
// Half a step of 16-bit samples: anything quieter is written as zeros.
constexpr float silent = 0.5f / 32768;

int64_t frameOf(double seconds) { return std::llround(std::max(0.0, seconds) * rate); }

bool hasNotes(const std::vector<RenderMessage>& messages) {
    return std::any_of(messages.begin(), messages.end(),
                       [](const RenderMessage& m) { return (m.status & 0xF0) == 0x90 && m.data2 > 0; });
}

// Pulls the synthesizer's sound block by block into the file.
class Writer {
public:
    Writer(WindowsSynthGeneralMIDI& synth, platform::SoundFile* file) : synth_(synth), file_(file) {}

    // Renders the frames up to `end`; false when the file refused them or the render was stopped.
    bool renderUntil(int64_t end, RenderProgress& progress, double whole) {
        while (frame_ < end) {
            if (progress.stop) return false;
            if (!block(static_cast<int>(std::min<int64_t>(blockFrames, end - frame_)))) return false;
            progress.done = std::min(1.0, frame_ / whole);
        }
        return true;
    }
    // Renders until a whole block is silent or `most` frames have passed.
    bool renderTail(int64_t most) {
        const int64_t end = frame_ + most;
        while (frame_ < end) {
            if (!block(static_cast<int>(std::min<int64_t>(blockFrames, end - frame_)))) return false;
            if (peak_ < silent) return true;
        }
        return true;
    }
    int64_t frames() const { return frame_; }

private:
    bool block(int frames) {
        if (!synth_.render(left_, right_, frames)) return false;
        peak_ = 0;
        for (int i = 0; i < frames; ++i) {
            interleaved_[2 * i] = left_[i];
            interleaved_[2 * i + 1] = right_[i];
            peak_ = std::max({peak_, std::fabs(left_[i]), std::fabs(right_[i])});
        }
        frame_ += frames;
        return platform::writeSoundFrames(file_, interleaved_, frames);
    }

    WindowsSynthGeneralMIDI& synth_;
    platform::SoundFile* file_;
    int64_t frame_ = 0;
    float peak_ = 0;
    float left_[blockFrames], right_[blockFrames], interleaved_[2 * blockFrames];
};

// Whatever the messages left sounding or held by the pedal ends as its keys would.
void releaseEverything(WindowsSynthGeneralMIDI& synth) {
    for (uint8_t channel = 0; channel < 16; ++channel) {
        synth.send(channel, 0xB0, 64, 0);
        synth.send(channel, 0xB0, 123, 0);
    }
}

bool renderInto(WindowsSynthGeneralMIDI& synth, platform::SoundFile* file, const std::vector<RenderMessage>& messages,
                RenderProgress& progress, RenderResult& result) {
    Writer writer(synth, file);
    const double whole = std::max<double>(1, frameOf(messages.back().time));
    for (const RenderMessage& m : messages) {
        if (!writer.renderUntil(frameOf(m.time), progress, whole)) return false;
        synth.send(m.status & 0x0F, m.status & 0xF0, m.data1, m.data2);
    }
    releaseEverything(synth);
    if (!writer.renderTail(frameOf(longestTail))) return false;
    result.seconds = static_cast<double>(writer.frames()) / rate;
    return true;
}

}  // namespace

RenderResult renderToFile(const std::vector<RenderMessage>& messages, const std::string& path,
                          platform::SoundFileType type, RenderProgress& progress) {
    RenderResult result;
    if (!hasNotes(messages)) {
        result.problem = "it has no notes";
        return result;
    }
    WindowsSynthGeneralMIDI synth;
    if (!synth.openToRender()) {
        result.problem = "the synthesizer could not be set up";
        return result;
    }
    AtomicSave save(path);
    platform::SoundFile* file = save.out() ? platform::createSoundFile(fileno(save.out()), type, rate) : nullptr;
    if (!file) {
        result.problem = "the file could not be created";
        return result;
    }
    const bool rendered = renderInto(synth, file, messages, progress, result);
    const bool finished = platform::finishSoundFile(file);
    if (!rendered || !finished || !save.commit()) {
        result.problem = progress.stop ? "it was stopped" : "the file could not be written";
        return result;
    }
    progress.done = 1;
    result.written = true;
    return result;
}

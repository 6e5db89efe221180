#include "perform/AudioExport.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <strings.h>

#include "song/Song.h"

namespace {

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool endsWith(const std::string& path, const char* suffix) {
    const size_t length = std::strlen(suffix);
    return path.size() > length && strcasecmp(path.c_str() + path.size() - length, suffix) == 0;
}

// The render gives way to the GUI thread and the taps on a machine with few cores.
void lowerThisThreadsPriority() { setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10); }

}  // namespace

bool soundFileTypeOf(const std::string& path, platform::SoundFileType& type) {
    if (endsWith(path, ".wav")) type = platform::SoundFileType::wav;
    else if (endsWith(path, ".flac")) type = platform::SoundFileType::flac;
    else return false;
    return true;
}

bool readRenderMessages(const std::string& midiPath, std::vector<RenderMessage>& messages, std::string& problem) {
    if (access(midiPath.c_str(), R_OK) != 0) {
        problem = std::strerror(errno);
        return false;
    }
    Song song;
    if (!song.load(midiPath)) {
        problem = "it is not a MIDI file Nolari can read";
        return false;
    }
    messages.clear();
    for (uint32_t i = 0; i < song.numEvents; ++i) {
        const Event& e = song.events[i];
        if (e.isChannelEvent()) messages.push_back({e.time, static_cast<uint8_t>(e.stat | e.chan), e.pitch, e.vel});
    }
    return true;
}

RenderResult renderMidiFile(const std::string& midiPath, const std::string& soundPath, RenderProgress& progress) {
    RenderResult result;
    platform::SoundFileType type;
    if (!soundFileTypeOf(soundPath, type)) {
        result.problem = "the sound file's name must end in .wav or .flac";
        return result;
    }
    if (!platform::canWriteSoundFile(type)) {
        result.problem = "the installed libsndfile cannot write FLAC";
        return result;
    }
    std::vector<RenderMessage> messages;
    if (!readRenderMessages(midiPath, messages, result.problem)) return result;
    return renderToFile(messages, soundPath, type, progress);
}

AudioExport::~AudioExport() { stop(); }

bool AudioExport::start(const std::string& midiPath, const std::string& soundPath) {
    if (busy()) return false;
    progress_.done = 0;
    progress_.stop = false;
    ended_ = false;
    started_ = steadySeconds();
    outcome_ = {midiPath, soundPath, {}, 0};
    thread_ = std::thread([this] {
        lowerThisThreadsPriority();
        outcome_.result = renderMidiFile(outcome_.midiPath, outcome_.soundPath, progress_);
        outcome_.took = steadySeconds() - started_;
        ended_ = true;
    });
    return true;
}

double AudioExport::elapsed() const { return steadySeconds() - started_; }

bool AudioExport::collect(ExportOutcome& outcome) {
    if (!busy() || !ended_) return false;
    thread_.join();
    outcome = outcome_;
    return true;
}

bool AudioExport::stop() {
    if (!busy()) return false;
    progress_.stop = true;
    thread_.join();
    return !outcome_.result.written;
}

std::string exportProgressText(double done, double elapsed) {
    if (elapsed < 1.0) return "";
    return "   Exporting audio " + std::to_string(static_cast<int>(std::floor(done * 100))) + " %";
}

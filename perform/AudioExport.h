#pragma once
// A take, or any MIDI file, as sound: the file is read as a song and its channel messages are
// rendered offline into a WAV or FLAC file (synth/OfflineRenderer). From the menu the render runs
// on a thread of its own at a lower priority, so that the window and the taps stay responsive;
// the GUI thread starts it, shows its progress and collects its outcome.

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "synth/OfflineRenderer.h"

// The type a sound file's name asks for: ".wav" or ".flac", in any case; false for other names.
bool soundFileTypeOf(const std::string& path, platform::SoundFileType& type);

// The channel messages of a MIDI file at their times; false, with the reason, when it cannot be read.
bool readRenderMessages(const std::string& midiPath, std::vector<RenderMessage>& messages, std::string& problem);

// Reads the MIDI file and renders it into the sound file of the type its name gives.
RenderResult renderMidiFile(const std::string& midiPath, const std::string& soundPath, RenderProgress& progress);

struct ExportOutcome {
    std::string midiPath, soundPath;
    RenderResult result;
    double took = 0;  // seconds the render took
};

class AudioExport {
public:
    AudioExport() = default;
    // Stops a render still running and waits for it.
    ~AudioExport();
    AudioExport(const AudioExport&) = delete;
    AudioExport& operator=(const AudioExport&) = delete;

    // Starts rendering; false when a render is still running or its outcome not yet collected.
    bool start(const std::string& midiPath, const std::string& soundPath);
    bool busy() const { return thread_.joinable(); }
    // The part rendered so far, 0 .. 1, and the seconds since the start.
    double done() const { return progress_.done; }
    double elapsed() const;
    // True once for each render that ended, with its outcome.
    bool collect(ExportOutcome& outcome);
    // Asks a running render to stop, leaving no file, and waits for it; true when one was stopped
    // before it could write its file.
    bool stop();

private:
    std::thread thread_;
    RenderProgress progress_;
    std::atomic<bool> ended_{false};
    double started_ = 0;
    // Written by the render's thread before ended_ is set.
    ExportOutcome outcome_;
};

// The title's note of a render's progress, "   Exporting audio 42 %"; empty for renders that
// have not yet run a second, which end before a title could be read.
std::string exportProgressText(double done, double elapsed);

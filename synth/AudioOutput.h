#pragma once
// Where the software synthesizer's sound goes: the first of the desktop's audio outputs that opens,
// asked for the output latency the user set. When a PipeWire server runs, that is a stream of our
// own rendered on PipeWire's real-time thread; otherwise FluidSynth's PulseAudio, JACK or ALSA
// driver, of those the installed FluidSynth has. The output that opened is named in the log.

#include <string>

struct _fluid_hashtable_t;
struct _fluid_synth_t;
struct _fluid_audio_driver_t;

class AudioOutput {
public:
    // Small enough to play with, large enough for a desktop not to run dry (milliseconds).
    static constexpr int defaultLatency = 5;

    AudioOutput() = default;
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // Starts sounding the synthesizer through the first output that opens; false when none does.
    bool open(_fluid_hashtable_t* settings, _fluid_synth_t* synth);
    // Stops the output; nothing renders from the synthesizer once this returns.
    void close();
    // The outputs open() asked for, in order, as "pipewire, pulseaudio, ...".
    const std::string& tried() const { return tried_; }

    // Requests an output latency in milliseconds, of the open output at once and of the next one.
    void setLatency(int milliseconds);
    // The latency the open output granted (for JACK the server's period), else the one requested.
    int latency() const;

private:
    enum class Kind { none, pipewire, pulseaudio, jack, alsa };

    bool openStream();
    bool openDriver(Kind kind);
    void askDriverLatency(Kind kind);
    int requestedFrames() const;
    int sampleRate() const;
    void note(const char* name);

    Kind kind = Kind::none;
    int requested = defaultLatency;
    std::string tried_;
    _fluid_hashtable_t* settings = nullptr;
    _fluid_synth_t* synth = nullptr;
    _fluid_audio_driver_t* driver = nullptr;
};

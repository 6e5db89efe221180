#pragma once
// The audio outputs the software synthesizer can sound through: a PipeWire stream of our own and
// FluidSynth's own drivers. The program links the real implementation; unit tests and benchmarks
// link a recording one.

struct _fluid_hashtable_t;
struct _fluid_synth_t;
struct _fluid_audio_driver_t;

namespace platform {

// Fills `frames` interleaved stereo frames. Called on the sound server's real-time thread: it must
// not allocate, open files or wait behind slow work.
using RenderAudio = void (*)(void* context, float* interleaved, int frames);

// Connects a playback stream named "Nolari" to the running PipeWire server, asking the graph for a
// latency of latencyFrames at sampleRate; false when no server can be reached.
bool openAudioStream(int sampleRate, int latencyFrames, RenderAudio render, void* context);
// Asks the graph for a new latency while the stream plays.
void setAudioStreamLatency(int latencyFrames);
// The frames the graph asked of the stream in its latest cycle; 0 before the first cycle.
int audioStreamQuantum();
void closeAudioStream();

// Whether the installed FluidSynth was built with the audio driver of that name.
bool hasAudioDriver(_fluid_hashtable_t* settings, const char* name);
// Starts the driver the settings' "audio.driver" names; null when it does not open.
_fluid_audio_driver_t* openAudioDriver(_fluid_hashtable_t* settings, _fluid_synth_t* synth);
void closeAudioDriver(_fluid_audio_driver_t* driver);
// The period of the JACK server FluidSynth's JACK driver plays through; false when none answers.
bool jackPeriod(int& frames, int& sampleRate);

}  // namespace platform

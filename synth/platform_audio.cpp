// The synthesizer's audio outputs on the system: a playback stream of our own on the PipeWire
// server, driven by PipeWire's real-time thread so that the graph's quantum, which the stream's
// latency request lowers, is the only buffering; and FluidSynth's own drivers for desktops without
// PipeWire. Nothing is logged here: the caller reports which output opened.

#include <alsa/asoundlib.h>
#include <fluidsynth.h>
#include <jack/jack.h>
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "synth/platform_audio.h"

namespace {

constexpr int channels = 2;
constexpr int frameBytes = channels * sizeof(float);

struct Stream {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook listener{};
    platform::RenderAudio render = nullptr;
    void* renderContext = nullptr;
    int sampleRate = 0;
    std::atomic<int> quantum{0};
};

Stream output;

// Runs on PipeWire's data thread once per cycle, for the frames the graph asks of the stream.
void onProcess(void*) {
    pw_buffer* buffer = pw_stream_dequeue_buffer(output.stream);
    if (!buffer) return;
    spa_data& data = buffer->buffer->datas[0];
    if (data.data) {
        int frames = static_cast<int>(data.maxsize / frameBytes);
        if (buffer->requested > 0 && buffer->requested < static_cast<uint64_t>(frames))
            frames = static_cast<int>(buffer->requested);
        output.quantum.store(frames, std::memory_order_relaxed);
        output.render(output.renderContext, static_cast<float*>(data.data), frames);
        data.chunk->offset = 0;
        data.chunk->stride = frameBytes;
        data.chunk->size = static_cast<uint32_t>(frames * frameBytes);
    }
    pw_stream_queue_buffer(output.stream, buffer);
}

pw_stream_events makeStreamEvents() {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.process = onProcess;
    return events;
}

const pw_stream_events streamEvents = makeStreamEvents();

// PipeWire's form of a latency request: frames over the rate.
void latencyText(char (&text)[32], int frames) {
    std::snprintf(text, sizeof text, "%d/%d", frames, output.sampleRate);
}

bool connectStream(int latencyFrames) {
    char latency[32];
    latencyText(latency, latencyFrames);
    pw_properties* properties = pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback",
                                                  PW_KEY_MEDIA_ROLE, "Music", PW_KEY_APP_NAME, "Nolari",
                                                  PW_KEY_NODE_NAME, "Nolari", PW_KEY_NODE_LATENCY, latency, nullptr);
    output.stream = pw_stream_new(output.core, "Nolari", properties);
    if (!output.stream) return false;
    pw_stream_add_listener(output.stream, &output.listener, &streamEvents, nullptr);

    spa_audio_info_raw format{};
    format.format = SPA_AUDIO_FORMAT_F32;
    format.rate = static_cast<uint32_t>(output.sampleRate);
    format.channels = channels;
    format.position[0] = SPA_AUDIO_CHANNEL_FL;
    format.position[1] = SPA_AUDIO_CHANNEL_FR;
    uint8_t podBytes[1024];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, podBytes, sizeof podBytes);
    const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &format)};
    const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                                    PW_STREAM_FLAG_RT_PROCESS);
    return pw_stream_connect(output.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) == 0;
}

}  // namespace

namespace platform {

bool openAudioStream(int sampleRate, int latencyFrames, RenderAudio render, void* context) {
    // PipeWire's JACK library keeps the graph's quantum fixed while one of its clients is active,
    // so the JACK MIDI ports opened later would hold it against the stream's latency request. A
    // value the user set stays. Set before PipeWire's threads start, since they read the environment.
    setenv("PIPEWIRE_PROPS", "{ node.lock-quantum = false }", 0);
    static const bool initialised = (pw_init(nullptr, nullptr), true);
    (void)initialised;
    output.render = render;
    output.renderContext = context;
    output.sampleRate = sampleRate;
    output.quantum = 0;
    output.loop = pw_thread_loop_new("nolari-audio", nullptr);
    if (!output.loop) return false;
    // The configuration for clients that render audio: the stream's thread runs at real-time priority.
    output.context = pw_context_new(pw_thread_loop_get_loop(output.loop),
                                    pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
    if (!output.context || pw_thread_loop_start(output.loop) != 0) {
        closeAudioStream();
        return false;
    }
    pw_thread_loop_lock(output.loop);
    output.core = pw_context_connect(output.context, nullptr, 0);
    const bool connected = output.core && connectStream(latencyFrames);
    pw_thread_loop_unlock(output.loop);
    if (!connected) {
        closeAudioStream();
        return false;
    }
    return true;
}

void setAudioStreamLatency(int latencyFrames) {
    if (!output.stream) return;
    char latency[32];
    latencyText(latency, latencyFrames);
    const spa_dict_item item{PW_KEY_NODE_LATENCY, latency};
    const spa_dict dict{0, 1, &item};
    pw_thread_loop_lock(output.loop);
    pw_stream_update_properties(output.stream, &dict);
    pw_thread_loop_unlock(output.loop);
}

int audioStreamQuantum() { return output.quantum.load(std::memory_order_relaxed); }

// Destroying the stream waits for a cycle in progress, so nothing renders once this returns.
void closeAudioStream() {
    if (!output.loop) return;
    pw_thread_loop_lock(output.loop);
    if (output.stream) pw_stream_destroy(output.stream);
    if (output.core) pw_core_disconnect(output.core);
    pw_thread_loop_unlock(output.loop);
    pw_thread_loop_stop(output.loop);
    if (output.context) pw_context_destroy(output.context);
    pw_thread_loop_destroy(output.loop);
    output.stream = nullptr;
    output.core = nullptr;
    output.context = nullptr;
    output.loop = nullptr;
}

bool hasAudioDriver(fluid_settings_t* settings, const char* name) {
    struct Search {
        const char* name;
        bool found;
    } search{name, false};
    fluid_settings_foreach_option(settings, "audio.driver", &search, [](void* data, const char*, const char* option) {
        auto* s = static_cast<Search*>(data);
        if (std::strcmp(option, s->name) == 0) s->found = true;
    });
    return search.found;
}

namespace {

void ignoreFluidMessage(int, const char*, void*) {}
void ignoreJackMessage(const char*) {}
void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

// A driver that finds no server or device has FluidSynth, libjack and ALSA's library each write
// why to the terminal; the caller logs which output opened, or the outputs tried when none did.
fluid_audio_driver_t* openAudioDriver(fluid_settings_t* settings, fluid_synth_t* synth) {
    const fluid_log_function_t error = fluid_set_log_function(FLUID_ERR, ignoreFluidMessage, nullptr);
    const fluid_log_function_t warning = fluid_set_log_function(FLUID_WARN, ignoreFluidMessage, nullptr);
    jack_set_error_function(ignoreJackMessage);
    jack_set_info_function(ignoreJackMessage);
    snd_lib_error_set_handler(ignoreAlsaMessage);
    fluid_audio_driver_t* driver = new_fluid_audio_driver(settings, synth);
    snd_lib_error_set_handler(nullptr);
    fluid_set_log_function(FLUID_WARN, warning, nullptr);
    fluid_set_log_function(FLUID_ERR, error, nullptr);
    return driver;
}

void closeAudioDriver(fluid_audio_driver_t* driver) { delete_fluid_audio_driver(driver); }

bool jackPeriod(int& frames, int& sampleRate) {
    jack_client_t* client = jack_client_open("NolariSynthPeriod", JackNoStartServer, nullptr);
    if (!client) return false;
    frames = static_cast<int>(jack_get_buffer_size(client));
    sampleRate = static_cast<int>(jack_get_sample_rate(client));
    jack_client_close(client);
    return true;
}

}  // namespace platform

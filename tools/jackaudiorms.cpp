// jackaudiorms SOURCE_PORT...: listens to JACK audio output ports and prints their loudness.
//
// Registers the JACK client "nolarirms" with one input per source port, connects each source to
// its input (waiting up to 10 s for the source to appear), prints "ready" and then, every 50 ms,
// "rms <value>": the root mean square of all samples of all inputs received since the line before.
// Runs until stopped by a signal.

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tools/jackconnect.h"

namespace {

// The process callback hands one sum per period to the main thread through a ring that only it
// writes and only the main thread reads.
struct PeriodSum {
    double squares;
    unsigned samples;
};

constexpr unsigned ringSize = 4096;
PeriodSum ring[ringSize];
std::atomic<unsigned> written{0};
std::vector<jack_port_t*> inputs;
std::atomic<bool> stopping{false};

int process(jack_nframes_t frames, void*) {
    PeriodSum sum{0.0, 0};
    for (jack_port_t* port : inputs) {
        const auto* samples = static_cast<const jack_default_audio_sample_t*>(jack_port_get_buffer(port, frames));
        for (jack_nframes_t i = 0; i < frames; ++i) sum.squares += double(samples[i]) * samples[i];
        sum.samples += frames;
    }
    const unsigned at = written.load(std::memory_order_relaxed);
    ring[at % ringSize] = sum;
    written.store(at + 1, std::memory_order_release);
    return 0;
}

void onSignal(int) { stopping = true; }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: jackaudiorms SOURCE_PORT...\n");
        return 2;
    }
    jack_status_t status;
    jack_client_t* client = jack_client_open("nolarirms", JackNoStartServer, &status);
    if (!client) {
        std::fprintf(stderr, "jackaudiorms: no JACK server (status 0x%x)\n", unsigned(status));
        return 1;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string name = "in_" + std::to_string(i);
        jack_port_t* port = jack_port_register(client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        if (!port) {
            std::fprintf(stderr, "jackaudiorms: cannot register port %s\n", name.c_str());
            return 1;
        }
        inputs.push_back(port);
    }
    jack_set_process_callback(client, process, nullptr);
    if (jack_activate(client) != 0) {
        std::fprintf(stderr, "jackaudiorms: cannot activate the client\n");
        return 1;
    }
    for (int i = 1; i < argc; ++i) {
        if (!connectWithin(client, argv[i], jack_port_name(inputs[i - 1]), 10.0)) {
            std::fprintf(stderr, "jackaudiorms: cannot connect %s\n", argv[i]);
            jack_client_close(client);
            return 1;
        }
    }
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    std::printf("ready\n");
    std::fflush(stdout);

    unsigned read = written.load(std::memory_order_acquire);
    while (!stopping) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const unsigned end = written.load(std::memory_order_acquire);
        double squares = 0.0;
        unsigned long samples = 0;
        // A reader that fell more than a ring behind skips to the newest periods.
        if (end - read > ringSize) read = end - ringSize;
        for (; read != end; ++read) {
            squares += ring[read % ringSize].squares;
            samples += ring[read % ringSize].samples;
        }
        if (samples == 0) continue;
        std::printf("rms %.8f\n", std::sqrt(squares / double(samples)));
        std::fflush(stdout);
    }
    jack_client_close(client);
    return 0;
}

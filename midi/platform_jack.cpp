#include "midi/platform_jack.h"

#include <jack/midiport.h>
#include <time.h>

#include <chrono>
#include <thread>

namespace {

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Indices run on and wrap; a is at or after b when it is less than half the range ahead.
bool atOrAfter(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) >= 0; }

}  // namespace

JackMidi::~JackMidi() {
    if (client_) jack_client_close(client_);
}

bool JackMidi::connect(const char* clientName) {
    if (client_) return connected();
    jack_status_t status;
    client_ = jack_client_open(clientName, JackNoStartServer, &status);
    if (!client_) return false;
    jack_set_process_callback(client_, onProcess, this);
    jack_on_shutdown(client_, onShutdown, this);
    if (jack_activate(client_) == 0) return true;
    jack_client_close(client_);
    client_ = nullptr;
    return false;
}

void JackMidi::list(unsigned long flags, std::vector<std::string>& names) const {
    if (!connected()) return;
    const char** ports = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
    if (!ports) return;
    for (const char** p = ports; *p; ++p) names.emplace_back(*p);
    jack_free(ports);
}

jack_port_t* JackMidi::registered(std::atomic<jack_port_t*>& port, const char* name, unsigned long flags) {
    if (jack_port_t* existing = port.load(std::memory_order_acquire)) return existing;
    jack_port_t* made = jack_port_register(client_, name, JACK_DEFAULT_MIDI_TYPE, flags, 0);
    port.store(made, std::memory_order_release);
    return made;
}

bool JackMidi::openInput(const std::string& source, const char* portName) {
    closeInput();
    if (!connected()) return false;
    jack_port_t* port = registered(in_, portName, JackPortIsInput);
    if (!port || jack_connect(client_, source.c_str(), jack_port_name(port)) != 0) return false;
    reading_.store(true, std::memory_order_release);
    return true;
}

void JackMidi::closeInput() {
    if (!reading_.exchange(false, std::memory_order_acq_rel)) return;
    // A callback that saw the input open is over once one more cycle has ended.
    if (connected()) waitForCycles(1, 200);
    if (client_) jack_port_disconnect(client_, in_.load(std::memory_order_acquire));
}

bool JackMidi::openOutput(const std::string& destination, const char* portName) {
    closeOutput();
    if (!connected()) return false;
    jack_port_t* port = registered(out_, portName, JackPortIsOutput);
    if (!port) return false;
    cycle_.dropOutput();
    if (jack_connect(client_, jack_port_name(port), destination.c_str()) != 0) return false;
    live_.store(false, std::memory_order_relaxed);
    writing_.store(true, std::memory_order_release);
    return true;
}

void JackMidi::closeOutput() {
    if (!outputOpen()) return;
    // What was sent last (Local Control on, a silence) is written, and read by the destination in
    // that cycle or the next, before the connection goes.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (connected() && !cycle_.written() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (connected()) waitForCycles(2, 200);
    writing_.store(false, std::memory_order_release);
    if (connected()) waitForCycles(1, 200);
    if (client_) jack_port_disconnect(client_, out_.load(std::memory_order_acquire));
    cycle_.dropOutput();
}

int JackMidi::send(const uint8_t* bytes, uint8_t length, double due) {
    if (!outputOpen() || !connected() || length == 0 || length > 3) return 1;
    return cycle_.send(bytes, length, due) ? 0 : 1;
}

int JackMidi::onProcess(jack_nframes_t frames, void* self) {
    auto& jack = *static_cast<JackMidi*>(self);
    jack.process(frames);
    jack.cycles_.fetch_add(1, std::memory_order_release);
    return 0;
}

void JackMidi::onShutdown(void* self) { static_cast<JackMidi*>(self)->shutDown_ = true; }

// A registered output port's buffer is cleared in every cycle, written or not: JACK hands the
// readers whatever the buffer holds, so a cycle left alone would repeat the last one.
void JackMidi::process(jack_nframes_t frames) {
    const double start = monotonicSeconds();
    jack_port_t* out = out_.load(std::memory_order_acquire);
    void* outBuffer = out ? jack_port_get_buffer(out, frames) : nullptr;
    if (outBuffer) jack_midi_clear_buffer(outBuffer);
    const bool reading = reading_.load(std::memory_order_acquire);
    if (!reading) cycle_.forgetInput();
    cycle_.begin(firstFrame(), frames, jack_get_sample_rate(client_), start);
    if (reading) receive(in_.load(std::memory_order_acquire), frames);
    if (!outBuffer || !writing_.load(std::memory_order_acquire) || !reachesDestination(out)) return;
    cycle_.output([outBuffer](uint32_t frame, const uint8_t* bytes, uint8_t length) {
        return jack_midi_event_write(outBuffer, frame, bytes, length) == 0;
    });
}

void JackMidi::receive(jack_port_t* port, jack_nframes_t frames) {
    void* buffer = jack_port_get_buffer(port, frames);
    const uint32_t count = jack_midi_get_event_count(buffer);
    for (uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) == 0) cycle_.receive(event.time, event.buffer, event.size);
    }
}

uint64_t JackMidi::firstFrame() {
    const uint32_t now = jack_last_frame_time(client_);
    frames_ = counting_ ? frames_ + static_cast<uint32_t>(now - lastFrameTime_) : now;
    counting_ = true;
    lastFrameTime_ = now;
    return frames_;
}

// jack_connect returns before the server's graph holds the new connection, and on a busy server
// that takes cycles: what is written meanwhile reaches no one, and the first messages after an
// open are the Local Control and program changes. So the queue waits for the first cycle that
// carries the connection; after that the port is written whatever it is connected to.
bool JackMidi::reachesDestination(jack_port_t* port) {
    if (live_.load(std::memory_order_relaxed)) return true;
    if (jack_port_connected(port) == 0) return false;
    live_.store(true, std::memory_order_relaxed);
    return true;
}

bool JackMidi::waitForCycles(uint32_t cycles, int timeoutMs) const {
    const uint32_t target = cycles_.load(std::memory_order_acquire) + cycles;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!atOrAfter(cycles_.load(std::memory_order_acquire), target)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

#include "midi/platform_jack.h"

#include <jack/midiport.h>
#include <time.h>

#include <chrono>
#include <thread>

namespace {

// A timed message is written this long after its due time: a message handed over when it falls
// due reaches a cycle that still holds its frame as long as the sender is less than this margin
// late. The delay is the same for every timed message, so their spacing is kept to the frame.
constexpr double placementMarginUs = 2000.0;

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// jackd2 counts its time on CLOCK_MONOTONIC_RAW, which the clock adjustments move apart from
// CLOCK_MONOTONIC, so a due time is carried over by its distance from now on each clock.
jack_time_t toJackTime(double due) {
    const double jackDue = static_cast<double>(jack_get_time()) + (due - monotonicSeconds()) * 1e6;
    return jackDue < 1.0 ? 1 : static_cast<jack_time_t>(jackDue);
}

// Indices run on and wrap; a is at or after b when it is less than half the range ahead.
bool atOrAfter(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) >= 0; }

}  // namespace

JackMidiOut::~JackMidiOut() {
    if (client_) jack_client_close(client_);
}

bool JackMidiOut::connect(const char* clientName) {
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

void JackMidiOut::destinations(std::vector<std::string>& names) const {
    if (!connected()) return;
    const char** ports = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
    if (!ports) return;
    for (const char** p = ports; *p; ++p) names.emplace_back(*p);
    jack_free(ports);
}

bool JackMidiOut::open(const std::string& destination, const char* portName) {
    close();
    if (!connected()) return false;
    if (!registered_) registered_ = jack_port_register(client_, portName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (!registered_) return false;
    queue_.clear();
    if (jack_connect(client_, jack_port_name(registered_), destination.c_str()) != 0) {
        jack_port_unregister(client_, registered_);
        registered_ = nullptr;
        return false;
    }
    live_.store(false, std::memory_order_relaxed);
    port_.store(registered_, std::memory_order_release);
    return true;
}

void JackMidiOut::close() {
    if (!isOpen()) return;
    // What was sent last (Local Control on, a silence) leaves before the port does.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (connected() && !queue_.empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    port_.store(nullptr, std::memory_order_release);
    // A callback that took the port before it was cleared is over after two more cycles.
    if (connected()) waitForCycles(2, 200);
    jack_port_unregister(client_, registered_);
    registered_ = nullptr;
    queue_.clear();
}

int JackMidiOut::send(const uint8_t* bytes, uint8_t length, double due) {
    if (!isOpen() || !connected() || length == 0 || length > 3) return 1;
    return queue_.push(bytes, length, due > 0.0 ? toJackTime(due) : 0) ? 0 : 1;
}

int JackMidiOut::onProcess(jack_nframes_t frames, void* self) {
    auto& out = *static_cast<JackMidiOut*>(self);
    out.process(frames);
    out.cycles_.fetch_add(1, std::memory_order_release);
    return 0;
}

void JackMidiOut::onShutdown(void* self) { static_cast<JackMidiOut*>(self)->shutDown_ = true; }

void JackMidiOut::process(jack_nframes_t frames) {
    jack_port_t* port = port_.load(std::memory_order_acquire);
    if (!port) return;
    void* buffer = jack_port_get_buffer(port, frames);
    jack_midi_clear_buffer(buffer);
    if (!reachesDestination(port)) return;
    jack_nframes_t cycleFrame;
    jack_time_t start, next;
    float periodUs;
    const bool known = jack_get_cycle_times(client_, &cycleFrame, &start, &next, &periodUs) == 0;
    // Frame 0 is taken to be now, with the cycle's length as the server estimates it: its estimate
    // of when the cycle began drifts by milliseconds while a busy server catches up, where the
    // callback's own start keeps the cadence of the frames.
    const jack_time_t now = jack_get_time();
    const FrameQueue::Cycle cycle{now, now + (next - start), periodUs + placementMarginUs};
    queue_.drain(frames, known ? &cycle : nullptr, [buffer](uint32_t frame, const uint8_t* bytes, uint8_t length) {
        return jack_midi_event_write(buffer, frame, bytes, length) == 0;
    });
}

// jack_connect returns before the server's graph holds the new connection, and on a busy server
// that takes cycles: what is written meanwhile reaches no one, and the first messages after an
// open are the Local Control and program changes. So the queue waits for the first cycle that
// carries the connection; after that the port is written whatever it is connected to.
bool JackMidiOut::reachesDestination(jack_port_t* port) {
    if (live_.load(std::memory_order_relaxed)) return true;
    if (jack_port_connected(port) == 0) return false;
    live_.store(true, std::memory_order_relaxed);
    return true;
}

bool JackMidiOut::waitForCycles(uint32_t cycles, int timeoutMs) const {
    const uint32_t target = cycles_.load(std::memory_order_acquire) + cycles;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!atOrAfter(cycles_.load(std::memory_order_acquire), target)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

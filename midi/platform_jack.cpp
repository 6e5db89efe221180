#include "midi/platform_jack.h"

#include <jack/midiport.h>
#include <time.h>

#include <chrono>
#include <cstring>
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
    read_.store(written_.load(std::memory_order_relaxed), std::memory_order_relaxed);
    if (jack_connect(client_, jack_port_name(registered_), destination.c_str()) != 0) {
        jack_port_unregister(client_, registered_);
        registered_ = nullptr;
        return false;
    }
    port_.store(registered_, std::memory_order_release);
    return true;
}

void JackMidiOut::close() {
    if (!isOpen()) return;
    // What was sent last (Local Control on, a silence) leaves before the port does.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (connected() && read_.load(std::memory_order_acquire) != written_.load(std::memory_order_relaxed) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    port_.store(nullptr, std::memory_order_release);
    // A callback that took the port before it was cleared is over after two more cycles.
    if (connected()) waitForCycles(2, 200);
    jack_port_unregister(client_, registered_);
    registered_ = nullptr;
    read_.store(written_.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

int JackMidiOut::send(const uint8_t* bytes, uint8_t length, double due) {
    if (!isOpen() || !connected() || length == 0 || length > 3) return 1;
    const uint32_t at = written_.load(std::memory_order_relaxed);
    if (at - read_.load(std::memory_order_acquire) == ringSize) return 1;
    Queued& queued = ring_[at & ringMask];
    std::memcpy(queued.bytes, bytes, length);
    queued.length = length;
    queued.due = due > 0.0 ? toJackTime(due) : 0;
    written_.store(at + 1, std::memory_order_release);
    return 0;
}

int JackMidiOut::onProcess(jack_nframes_t frames, void* self) {
    auto& out = *static_cast<JackMidiOut*>(self);
    out.process(frames);
    out.cycles_.fetch_add(1, std::memory_order_release);
    return 0;
}

void JackMidiOut::onShutdown(void* self) { static_cast<JackMidiOut*>(self)->shutDown_ = true; }

// Writes the queued messages in order: an untimed one at the earliest frame, a timed one at the
// frame of its due time plus the placement delay, held for a later cycle when that frame lies
// beyond this one. An untimed message takes the ones queued before it along at once, so a tap
// or a silence is never kept waiting behind a timed note, nor overtaken by one.
void JackMidiOut::process(jack_nframes_t frames) {
    jack_port_t* port = port_.load(std::memory_order_acquire);
    if (!port) return;
    void* buffer = jack_port_get_buffer(port, frames);
    jack_midi_clear_buffer(buffer);

    jack_nframes_t cycleFrame;
    jack_time_t cycleStart, nextStart;
    float periodUs;
    const bool placed = jack_get_cycle_times(client_, &cycleFrame, &cycleStart, &nextStart, &periodUs) == 0 &&
                        nextStart > cycleStart;
    const double framesPerUs = placed ? frames / static_cast<double>(nextStart - cycleStart) : 0.0;
    const double delayUs = periodUs + placementMarginUs;

    const uint32_t end = written_.load(std::memory_order_acquire);
    uint32_t next = read_.load(std::memory_order_relaxed);
    uint32_t pulledUpTo = next;
    for (uint32_t i = next; i != end; ++i)
        if (ring_[i & ringMask].due == 0) pulledUpTo = i + 1;

    jack_nframes_t earliest = 0;
    for (; next != end; ++next) {
        const Queued& queued = ring_[next & ringMask];
        jack_nframes_t frame = earliest;
        if (queued.due != 0 && placed && atOrAfter(next, pulledUpTo)) {
            const double offset = (static_cast<double>(queued.due) + delayUs - static_cast<double>(cycleStart)) * framesPerUs;
            if (offset >= frames) break;
            if (offset > earliest) frame = static_cast<jack_nframes_t>(offset);
        }
        if (jack_midi_event_write(buffer, frame, queued.bytes, queued.length) != 0) break;
        earliest = frame;
    }
    read_.store(next, std::memory_order_release);
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

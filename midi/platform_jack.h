#pragma once
// The JACK MIDI output, on libjack directly so that a timed message lands at the frame of its due
// time instead of at the start of the next period. Part of the platform layer: the program links
// it, unit tests link the recording back end instead.
//
// Senders (the GUI, MIDI-input and scheduler threads, one at a time under the back end's output
// lock) queue messages in a fixed ring; the JACK process callback takes them from there, so
// nothing on either side allocates or waits. Messages leave in the order they were sent.

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class JackMidiOut {
public:
    JackMidiOut() = default;
    ~JackMidiOut();
    JackMidiOut(const JackMidiOut&) = delete;
    JackMidiOut& operator=(const JackMidiOut&) = delete;

    // Opens the client (never starting a server); true when it is open.
    bool connect(const char* clientName);
    bool connected() const { return client_ != nullptr && !shutDown_; }
    // The JACK MIDI ports a message can be sent to, in the server's order.
    void destinations(std::vector<std::string>& names) const;
    // Registers our port, once, and connects it to the destination alone.
    bool open(const std::string& destination, const char* portName);
    // Lets what is queued leave, then takes the port away.
    void close();
    bool isOpen() const { return port_.load(std::memory_order_acquire) != nullptr; }
    // due 0: at the earliest frame; otherwise seconds on CLOCK_MONOTONIC. Result 0 on success.
    int send(const uint8_t* bytes, uint8_t length, double due);

private:
    struct Queued {
        uint8_t bytes[3];
        uint8_t length;
        jack_time_t due;  // JACK microseconds; 0 for the earliest frame
    };
    static constexpr uint32_t ringSize = 4096;  // a power of two
    static constexpr uint32_t ringMask = ringSize - 1;

    static int onProcess(jack_nframes_t frames, void* self);
    static void onShutdown(void* self);
    void process(jack_nframes_t frames);
    bool waitForCycles(uint32_t cycles, int timeoutMs) const;

    jack_client_t* client_ = nullptr;
    std::atomic<jack_port_t*> port_{nullptr};
    jack_port_t* registered_ = nullptr;
    std::atomic<bool> shutDown_{false};
    std::unique_ptr<Queued[]> ring_{new Queued[ringSize]};
    std::atomic<uint32_t> written_{0};  // advanced by the sender
    std::atomic<uint32_t> read_{0};     // advanced by the process callback
    std::atomic<uint32_t> cycles_{0};
};

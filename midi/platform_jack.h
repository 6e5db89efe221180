#pragma once
// The JACK MIDI output, on libjack directly so that a timed message lands at the frame of its due
// time instead of at the start of the next period. Part of the platform layer: the program links
// it, unit tests link the recording back end instead.
//
// Senders (the GUI, MIDI-input and scheduler threads, one at a time under the back end's output
// lock) queue messages in a FrameQueue; the JACK process callback writes them from there.

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "midi/FrameQueue.h"

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
    // Registers our port, once, and connects it to the destination alone. What is sent waits for
    // the first cycle whose graph carries the connection.
    bool open(const std::string& destination, const char* portName);
    // Lets what is queued leave, then takes the port away.
    void close();
    bool isOpen() const { return port_.load(std::memory_order_acquire) != nullptr; }
    // due 0: at the earliest frame; otherwise seconds on CLOCK_MONOTONIC. Result 0 on success.
    int send(const uint8_t* bytes, uint8_t length, double due);

private:
    static int onProcess(jack_nframes_t frames, void* self);
    static void onShutdown(void* self);
    void process(jack_nframes_t frames);
    bool reachesDestination(jack_port_t* port);
    bool waitForCycles(uint32_t cycles, int timeoutMs) const;

    jack_client_t* client_ = nullptr;
    std::atomic<jack_port_t*> port_{nullptr};
    jack_port_t* registered_ = nullptr;
    std::atomic<bool> shutDown_{false};
    std::atomic<bool> live_{false};  // the process graph has carried the connection open() made
    FrameQueue queue_;  // due times in JACK microseconds
    std::atomic<uint32_t> cycles_{0};
};

#pragma once
// Nolari's own JACK client, on libjack directly, carrying the MIDI input and output ports: in its
// process callback the input's events reach the engine with their frames, and the messages they
// produce, like every timed message, are written at the frame they are due. Part of the platform
// layer: the program links it, unit tests link the recording back end instead.
//
// Senders (the GUI, MIDI-input and scheduler threads, one at a time under the back end's output
// lock) queue messages in the cycle's FrameQueue; the process callback writes them from there.
// Each port is registered once and kept while the client lives, so its buffer is cleared in every
// cycle; closing a port disconnects it.

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "midi/MidiCycle.h"

class JackMidi {
public:
    JackMidi(MidiCycle::Handler handler, void* context) : cycle_(handler, context) {}
    ~JackMidi();
    JackMidi(const JackMidi&) = delete;
    JackMidi& operator=(const JackMidi&) = delete;

    // Opens the client (never starting a server); true when it is open.
    bool connect(const char* clientName);
    bool connected() const { return client_ != nullptr && !shutDown_; }
    // The JACK MIDI ports an input can listen to and an output can send to, in the server's order.
    void sources(std::vector<std::string>& names) const { list(JackPortIsOutput, names); }
    void destinations(std::vector<std::string>& names) const { list(JackPortIsInput, names); }

    // Connects our input port to the source alone; its events reach the handler from the next cycle.
    bool openInput(const std::string& source, const char* portName);
    // No event reaches the handler once this returns; events waiting for the engine are dropped.
    void closeInput();
    bool inputOpen() const { return reading_.load(std::memory_order_acquire); }

    // Connects our output port to the destination alone. What is sent waits for the first cycle
    // whose graph carries the connection.
    bool openOutput(const std::string& destination, const char* portName);
    // Lets what is queued leave, then disconnects the port.
    void closeOutput();
    bool outputOpen() const { return writing_.load(std::memory_order_acquire); }
    // due 0: at the earliest frame; otherwise seconds on CLOCK_MONOTONIC. Result 0 on success.
    int send(const uint8_t* bytes, uint8_t length, double due);
    // How long before its due time a timed message must be handed over: one period while the
    // output is open, 0 otherwise.
    double ahead() const { return outputOpen() ? cycle_.period() : 0.0; }
    const MidiCycle& cycle() const { return cycle_; }

private:
    static int onProcess(jack_nframes_t frames, void* self);
    static void onShutdown(void* self);
    void process(jack_nframes_t frames);
    void receive(jack_port_t* port, jack_nframes_t frames);
    uint64_t firstFrame();
    bool reachesDestination(jack_port_t* port);
    jack_port_t* registered(std::atomic<jack_port_t*>& port, const char* name, unsigned long flags);
    void list(unsigned long flags, std::vector<std::string>& names) const;
    bool waitForCycles(uint32_t cycles, int timeoutMs) const;

    jack_client_t* client_ = nullptr;
    std::atomic<jack_port_t*> in_{nullptr};
    std::atomic<jack_port_t*> out_{nullptr};
    std::atomic<bool> reading_{false};
    std::atomic<bool> writing_{false};
    std::atomic<bool> shutDown_{false};
    std::atomic<bool> live_{false};  // the process graph has carried the connection openOutput made
    std::atomic<uint32_t> cycles_{0};
    // The process thread's: JACK's 32-bit frame time carried on past its wrap.
    uint32_t lastFrameTime_ = 0;
    uint64_t frames_ = 0;
    bool counting_ = false;
    MidiCycle cycle_;
};

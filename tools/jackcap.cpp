// jackcap <outfile>: a JACK MIDI client for the whole-program tests. It registers the client
// "nolaricap" with the MIDI ports "in" and "out", writes one line per MIDI event arriving at "in"
// ("<absolute frame> <hex bytes>") and, for every "send <hex bytes>" line read on standard input,
// sends that message from "out" at the start of the next period and writes
// "sent <absolute frame> <hex bytes>". Every line is flushed at once so that a test can wait for it.
// The process callback allocates nothing: events travel to and from it through ring buffers.

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

namespace {

constexpr size_t maxMessage = 256;
constexpr size_t ringSize = 1 << 20;

enum class Kind : uint8_t { received, sent };

// One record in the log ring, followed by `size` message bytes.
struct Record {
    uint32_t frame;
    uint16_t size;
    Kind kind;
};

// One record in the command ring, followed by `size` message bytes.
struct Command {
    uint16_t size;
};

struct Capture {
    jack_client_t* client = nullptr;
    jack_port_t* in = nullptr;
    jack_port_t* out = nullptr;
    jack_ringbuffer_t* log = nullptr;       // process thread → writer
    jack_ringbuffer_t* commands = nullptr;  // stdin reader → process thread
    std::atomic<unsigned> dropped{0};
};

Capture capture;
std::atomic<bool> stopping{false};

void onSignal(int) { stopping = true; }
void onShutdown(void*) { stopping = true; }

// Called on the process thread only.
void logEvent(Kind kind, jack_nframes_t frame, const jack_midi_data_t* bytes, size_t size) {
    if (size > maxMessage) size = maxMessage;
    const Record record{frame, static_cast<uint16_t>(size), kind};
    if (jack_ringbuffer_write_space(capture.log) < sizeof record + size) {
        ++capture.dropped;
        return;
    }
    // Header and bytes go in with one write, so the writer never sees a header without its bytes.
    char entry[sizeof record + maxMessage];
    std::memcpy(entry, &record, sizeof record);
    std::memcpy(entry + sizeof record, bytes, size);
    jack_ringbuffer_write(capture.log, entry, sizeof record + size);
}

void receive(jack_nframes_t start, jack_nframes_t frames) {
    void* buffer = jack_port_get_buffer(capture.in, frames);
    const uint32_t count = jack_midi_get_event_count(buffer);
    for (uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) != 0) continue;
        logEvent(Kind::received, start + event.time, event.buffer, event.size);
    }
}

void sendPending(jack_nframes_t start, jack_nframes_t frames) {
    void* buffer = jack_port_get_buffer(capture.out, frames);
    jack_midi_clear_buffer(buffer);
    Command command;
    while (jack_ringbuffer_read_space(capture.commands) >= sizeof command) {
        jack_ringbuffer_peek(capture.commands, reinterpret_cast<char*>(&command), sizeof command);
        if (jack_ringbuffer_read_space(capture.commands) < sizeof command + command.size) break;
        jack_ringbuffer_read_advance(capture.commands, sizeof command);
        jack_midi_data_t bytes[maxMessage];
        jack_ringbuffer_read(capture.commands, reinterpret_cast<char*>(bytes), command.size);
        if (jack_midi_event_write(buffer, 0, bytes, command.size) != 0) {
            ++capture.dropped;
            continue;
        }
        logEvent(Kind::sent, start, bytes, command.size);
    }
}

int process(jack_nframes_t frames, void*) {
    const jack_nframes_t start = jack_last_frame_time(capture.client);
    receive(start, frames);
    sendPending(start, frames);
    return 0;
}

bool parseHex(const std::string& text, std::string& bytes) {
    std::string digits;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\r') digits += c;
    if (digits.empty() || digits.size() % 2 != 0 || digits.size() / 2 > maxMessage) return false;
    bytes.clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        size_t used = 0;
        int value = 0;
        try {
            value = std::stoi(digits.substr(i, 2), &used, 16);
        } catch (const std::exception&) {
            return false;
        }
        if (used != 2) return false;
        bytes += static_cast<char>(value);
    }
    return true;
}

void queueSend(const std::string& bytes) {
    const Command command{static_cast<uint16_t>(bytes.size())};
    if (jack_ringbuffer_write_space(capture.commands) < sizeof command + bytes.size()) {
        std::fprintf(stderr, "jackcap: command queue full, message dropped\n");
        return;
    }
    // Header and bytes go in with one write, so the process thread never sees a header alone.
    std::string record(reinterpret_cast<const char*>(&command), sizeof command);
    record += bytes;
    jack_ringbuffer_write(capture.commands, record.data(), record.size());
}

void readCommands() {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::string bytes;
        if (line.rfind("send ", 0) == 0 && parseHex(line.substr(5), bytes)) queueSend(bytes);
        else if (!line.empty()) std::fprintf(stderr, "jackcap: ignored command '%s'\n", line.c_str());
    }
}

void writeRecords(FILE* out) {
    Record record;
    while (jack_ringbuffer_read_space(capture.log) >= sizeof record) {
        jack_ringbuffer_read(capture.log, reinterpret_cast<char*>(&record), sizeof record);
        unsigned char bytes[maxMessage];
        jack_ringbuffer_read(capture.log, reinterpret_cast<char*>(bytes), record.size);
        if (record.kind == Kind::sent) std::fprintf(out, "sent ");
        std::fprintf(out, "%u", record.frame);
        for (uint16_t i = 0; i < record.size; ++i) std::fprintf(out, " %02x", bytes[i]);
        std::fprintf(out, "\n");
        std::fflush(out);
    }
}

bool openClient() {
    jack_status_t status;
    capture.client = jack_client_open("nolaricap", static_cast<jack_options_t>(JackNoStartServer | JackUseExactName),
                                      &status);
    if (!capture.client) {
        std::fprintf(stderr, "jackcap: cannot open JACK client nolaricap (status 0x%x)\n", status);
        return false;
    }
    capture.in = jack_port_register(capture.client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    capture.out = jack_port_register(capture.client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (!capture.in || !capture.out) {
        std::fprintf(stderr, "jackcap: cannot register the MIDI ports\n");
        return false;
    }
    jack_set_process_callback(capture.client, process, nullptr);
    jack_on_shutdown(capture.client, onShutdown, nullptr);
    if (jack_activate(capture.client) != 0) {
        std::fprintf(stderr, "jackcap: cannot activate the client\n");
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: jackcap <outfile>\n");
        return 2;
    }
    FILE* out = std::fopen(argv[1], "w");
    if (!out) {
        std::fprintf(stderr, "jackcap: cannot write %s\n", argv[1]);
        return 1;
    }
    capture.log = jack_ringbuffer_create(ringSize);
    capture.commands = jack_ringbuffer_create(ringSize);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    if (!openClient()) return 1;

    // Standard input may stay open and silent for the whole run, so it is read on its own thread.
    std::thread(readCommands).detach();
    while (!stopping) {
        writeRecords(out);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    jack_deactivate(capture.client);
    writeRecords(out);
    jack_client_close(capture.client);
    if (capture.dropped) std::fprintf(stderr, "jackcap: %u events dropped\n", capture.dropped.load());
    std::fclose(out);
    return 0;
}

// jackcap <outfile> [AUDIO_SOURCE_PORT...]: a JACK MIDI client for the whole-program tests. It
// registers the client "nolaricap" with the MIDI ports "in" and "out", writes one line per MIDI
// event arriving at "in" ("<absolute frame> <hex bytes>") and, for every "send <hex bytes>" line
// read on standard input, sends that message from "out" at the start of the next period and writes
// "sent <absolute frame> <hex bytes>". An "after <frames> <hex bytes>" line sends its message
// exactly that many frames after the message sent before it (at the start of the next period when
// none was, or when that frame has passed, which writes "late <absolute frame>"), so that a test's
// taps carry no jitter of their own; commands leave in the order they were read.
// Given audio source ports, it also listens to them through audio inputs of its own and writes
// "sound <absolute frame>" at the first sample above -60 dB after quiet and "quiet <absolute frame>"
// once the sound has stayed below -70 dB for 0.1 s, so a test can time a sound from the message
// that caused it in the same frames; a shorter stretch inside a sound that holds a period of digital
// silence, which only a period the source failed to fill makes, is written as "gap <absolute frame>". Each source port is waited
// for up to 30 s. It writes "period <frames>" when the server's
// period is first seen or changes, and "xruns <count>" whenever the server reports a late cycle.
// Every line is flushed at once so that a test can wait for it. The process callback allocates
// nothing: events travel to and from it through ring buffers.

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "tools/jackconnect.h"

namespace {

constexpr size_t maxMessage = 256;
constexpr size_t ringSize = 1 << 20;

constexpr float soundLevel = 1e-3f;   // -60 dB
constexpr float quietLevel = 3e-4f;   // -70 dB
constexpr jack_nframes_t quietLength = 4800;  // 0.1 s at 48 kHz ends a sound

enum class Kind : uint8_t { received, sent, sound, quiet, gap, period, late };

// One record in the log ring, followed by `size` message bytes.
struct Record {
    uint32_t frame;  // the period's length for Kind::period
    uint16_t size;
    Kind kind;
};

// One record in the command ring, followed by `size` message bytes.
struct Command {
    uint16_t size;
    uint32_t after;  // frames after the previous message sent, or atOnce
};

constexpr uint32_t atOnce = UINT32_MAX;

struct Capture {
    jack_client_t* client = nullptr;
    jack_port_t* in = nullptr;
    jack_port_t* out = nullptr;
    jack_ringbuffer_t* log = nullptr;       // process thread → writer
    jack_ringbuffer_t* commands = nullptr;  // stdin reader → process thread
    std::vector<jack_port_t*> audio;
    std::vector<const float*> buffers;  // sized with audio, so the process callback allocates nothing
    bool sounding = false;
    jack_nframes_t quietFrames = 0;  // of the quiet stretch since the last loud period
    bool silentInStretch = false;    // a period of that stretch was all zeros
    jack_nframes_t period = 0;
    bool sentBefore = false;
    jack_nframes_t lastSent = 0;  // absolute frame of the message sent last
    std::atomic<unsigned> dropped{0};
    std::atomic<unsigned> xruns{0};
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
    if (size) std::memcpy(entry + sizeof record, bytes, size);
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

// The offset in this cycle a command's message goes at; false while its frame lies beyond it.
bool offsetOf(const Command& command, jack_nframes_t start, jack_nframes_t frames, jack_nframes_t& offset) {
    offset = 0;
    if (command.after == atOnce || !capture.sentBefore) return true;
    const jack_nframes_t target = capture.lastSent + command.after;
    const int32_t ahead = static_cast<int32_t>(target - start);
    if (ahead >= static_cast<int32_t>(frames)) return false;
    if (ahead < 0) {
        logEvent(Kind::late, target, nullptr, 0);
        return true;
    }
    offset = static_cast<jack_nframes_t>(ahead);
    return true;
}

void sendPending(jack_nframes_t start, jack_nframes_t frames) {
    void* buffer = jack_port_get_buffer(capture.out, frames);
    jack_midi_clear_buffer(buffer);
    Command command;
    while (jack_ringbuffer_read_space(capture.commands) >= sizeof command) {
        jack_ringbuffer_peek(capture.commands, reinterpret_cast<char*>(&command), sizeof command);
        if (jack_ringbuffer_read_space(capture.commands) < sizeof command + command.size) break;
        jack_nframes_t offset;
        if (!offsetOf(command, start, frames, offset)) break;
        jack_ringbuffer_read_advance(capture.commands, sizeof command);
        jack_midi_data_t bytes[maxMessage];
        jack_ringbuffer_read(capture.commands, reinterpret_cast<char*>(bytes), command.size);
        if (jack_midi_event_write(buffer, offset, bytes, command.size) != 0) {
            ++capture.dropped;
            continue;
        }
        capture.sentBefore = true;
        capture.lastSent = start + offset;
        logEvent(Kind::sent, start + offset, bytes, command.size);
    }
}

// The loudest sample of all audio inputs at one frame.
float peakAt(const std::vector<const float*>& inputs, jack_nframes_t i) {
    float peak = 0;
    for (const float* samples : inputs) peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

void listen(jack_nframes_t start, jack_nframes_t frames) {
    if (capture.audio.empty()) return;
    std::vector<const float*>& inputs = capture.buffers;
    for (size_t p = 0; p < capture.audio.size(); ++p)
        inputs[p] = static_cast<const float*>(jack_port_get_buffer(capture.audio[p], frames));
    float periodPeak = 0;
    for (jack_nframes_t i = 0; i < frames; ++i) {
        const float peak = peakAt(inputs, i);
        periodPeak = std::max(periodPeak, peak);
        if (!capture.sounding && peak > soundLevel) {
            capture.sounding = true;
            logEvent(Kind::sound, start + i, nullptr, 0);
        }
    }
    if (!capture.sounding) return;
    if (periodPeak >= quietLevel) {
        // Digital silence inside a sound that goes on is a period the source left unfilled.
        if (capture.silentInStretch) logEvent(Kind::gap, start - capture.quietFrames, nullptr, 0);
        capture.quietFrames = 0;
        capture.silentInStretch = false;
        return;
    }
    if (periodPeak == 0.0f) capture.silentInStretch = true;
    capture.quietFrames += frames;
    if (capture.quietFrames >= quietLength) {
        capture.sounding = false;
        capture.quietFrames = 0;
        capture.silentInStretch = false;
        logEvent(Kind::quiet, start + frames, nullptr, 0);
    }
}

int process(jack_nframes_t frames, void*) {
    const jack_nframes_t start = jack_last_frame_time(capture.client);
    if (frames != capture.period) {
        capture.period = frames;
        logEvent(Kind::period, frames, nullptr, 0);
    }
    receive(start, frames);
    sendPending(start, frames);
    listen(start, frames);
    return 0;
}

int onXrun(void*) {
    ++capture.xruns;
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

// "<frames> <hex bytes>"
bool parseAfter(const std::string& text, uint32_t& after, std::string& bytes) {
    const size_t space = text.find(' ');
    if (space == std::string::npos || space == 0) return false;
    const std::string number = text.substr(0, space);
    if (number.find_first_not_of("0123456789") != std::string::npos || number.size() > 9) return false;
    after = static_cast<uint32_t>(std::stoul(number));
    return parseHex(text.substr(space + 1), bytes);
}

void queueSend(const std::string& bytes, uint32_t after) {
    const Command command{static_cast<uint16_t>(bytes.size()), after};
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
        if (line.rfind("send ", 0) == 0 && parseHex(line.substr(5), bytes)) {
            queueSend(bytes, atOnce);
        } else if (uint32_t after = 0; line.rfind("after ", 0) == 0 && parseAfter(line.substr(6), after, bytes)) {
            queueSend(bytes, after);
        } else if (!line.empty()) {
            std::fprintf(stderr, "jackcap: ignored command '%s'\n", line.c_str());
        }
    }
}

void writeRecords(FILE* out) {
    Record record;
    while (jack_ringbuffer_read_space(capture.log) >= sizeof record) {
        jack_ringbuffer_read(capture.log, reinterpret_cast<char*>(&record), sizeof record);
        unsigned char bytes[maxMessage];
        jack_ringbuffer_read(capture.log, reinterpret_cast<char*>(bytes), record.size);
        if (record.kind == Kind::sent) std::fprintf(out, "sent ");
        if (record.kind == Kind::sound) std::fprintf(out, "sound ");
        if (record.kind == Kind::quiet) std::fprintf(out, "quiet ");
        if (record.kind == Kind::gap) std::fprintf(out, "gap ");
        if (record.kind == Kind::period) std::fprintf(out, "period ");
        if (record.kind == Kind::late) std::fprintf(out, "late ");
        std::fprintf(out, "%u", record.frame);
        for (uint16_t i = 0; i < record.size; ++i) std::fprintf(out, " %02x", bytes[i]);
        std::fprintf(out, "\n");
        std::fflush(out);
    }
}

void writeXruns(FILE* out, unsigned& reported) {
    const unsigned count = capture.xruns.load();
    if (count == reported) return;
    reported = count;
    std::fprintf(out, "xruns %u\n", count);
    std::fflush(out);
}

bool openClient(int sources) {
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
    for (int i = 1; i <= sources; ++i) {
        const std::string name = "audio_" + std::to_string(i);
        jack_port_t* port = jack_port_register(capture.client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        if (!port) {
            std::fprintf(stderr, "jackcap: cannot register port %s\n", name.c_str());
            return false;
        }
        capture.audio.push_back(port);
    }
    capture.buffers.resize(capture.audio.size());
    jack_set_process_callback(capture.client, process, nullptr);
    jack_set_xrun_callback(capture.client, onXrun, nullptr);
    jack_on_shutdown(capture.client, onShutdown, nullptr);
    if (jack_activate(capture.client) != 0) {
        std::fprintf(stderr, "jackcap: cannot activate the client\n");
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: jackcap <outfile> [AUDIO_SOURCE_PORT...]\n");
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
    if (!openClient(argc - 2)) return 1;
    for (int i = 2; i < argc; ++i) {
        if (!connectWithin(capture.client, argv[i], jack_port_name(capture.audio[i - 2]), 30.0)) {
            std::fprintf(stderr, "jackcap: cannot connect %s\n", argv[i]);
            jack_client_close(capture.client);
            return 1;
        }
    }

    // Standard input may stay open and silent for the whole run, so it is read on its own thread.
    std::thread(readCommands).detach();
    unsigned xrunsReported = 0;
    while (!stopping) {
        writeRecords(out);
        writeXruns(out, xrunsReported);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    jack_deactivate(capture.client);
    writeRecords(out);
    jack_client_close(capture.client);
    if (capture.dropped) std::fprintf(stderr, "jackcap: %u events dropped\n", capture.dropped.load());
    std::fclose(out);
    return 0;
}

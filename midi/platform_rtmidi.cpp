// The system's MIDI: the ALSA sequencer's ports through RtMidi and, while a JACK server runs, the
// JACK MIDI ports through Nolari's own JACK client (platform_jack.h), in one numbered list per
// direction (ALSA first, each API in its own order).
// ALSA names lose their changing client:port address. Either API may be missing (no /dev/snd on a
// build machine, no JACK server): the other one still works, and with neither the lists are empty.
// No RtMidi exception leaves this file; RtMidi's errors are reported to it through callbacks, so
// its calls fail by result here. On the input object they also reach MidiInProc as MIM_ERROR.

#include <RtMidi.h>
#include <jack/jack.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/grwin.h"
#include "midi/platform.h"
#include "midi/platform_jack.h"

namespace {

// RtMidi's queue for messages that arrive while no callback is set; the callback is set at once.
constexpr unsigned inputQueueSize = 100;

// One RtMidi object of one API with the failures its error callback reported.
template <class Midi>
struct Device {
    std::unique_ptr<Midi> midi;
    bool alsa = false;
    bool failed = false;
};

template <class Midi>
struct Port {
    Device<Midi>* device;  // null for a JACK port
    unsigned index;  // RtMidi's index when the list was taken
    std::string name;
};

bool isFailure(RtMidiError::Type type) {
    return type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING;
}

void onInputError(RtMidiError::Type type, const std::string&, void* data) {
    if (type == RtMidiError::DEBUG_WARNING) return;
    auto* device = static_cast<Device<RtMidiIn>*>(data);
    if (isFailure(type)) device->failed = true;
    MidiInProc(device->midi.get(), MIM_ERROR, 0, static_cast<uintptr_t>(type), 0);
}

// Output failures are not logged: the port layer reports them by result only.
void onOutputError(RtMidiError::Type type, const std::string&, void* data) {
    if (isFailure(type)) static_cast<Device<RtMidiOut>*>(data)->failed = true;
}

void onInput(double, std::vector<unsigned char>* message, void* handle) {
    // System-exclusive input is switched off, so anything longer than a short message is stray.
    if (!message || message->empty() || message->size() > 3) return;
    uintptr_t packed = 0;
    for (size_t i = 0; i < message->size(); ++i) packed |= static_cast<uintptr_t>((*message)[i]) << (8 * i);
    MidiInProc(handle, MIM_DATA, 0, packed, 0);
}

void silent(const char*) {}

bool onJackInput(void*, const uint8_t* bytes, uint8_t length, double at) {
    return MidiInAt(bytes[0], length > 1 ? bytes[1] : 0, length > 2 ? bytes[2] : 0, at);
}

template <class Midi>
void addJackPorts(std::vector<std::string>&& names, std::vector<Port<Midi>>& ports) {
    for (size_t i = 0; i < names.size(); ++i) ports.push_back({nullptr, static_cast<unsigned>(i), std::move(names[i])});
}

// Without /dev/snd/seq the ALSA sequencer cannot open; checking first keeps alsa-lib and RtMidi
// from writing their complaints to the terminal.
bool alsaPresent() { return access("/dev/snd/seq", R_OK | W_OK) == 0; }

// A JACK client that cannot reach a server must not start one, and RtMidi would complain on every
// attempt, so RtMidi's JACK objects are made only once a probe client reached a server. A failed
// probe costs milliseconds and the port lists are counted often, so probes are at least a second
// apart.
bool jackServerRunning() {
    using Clock = std::chrono::steady_clock;
    static Clock::time_point nextProbe;
    const Clock::time_point now = Clock::now();
    if (now < nextProbe) return false;
    nextProbe = now + std::chrono::seconds(1);
    jack_status_t status;
    jack_client_t* probe = jack_client_open("Nolari probe", JackNoStartServer, &status);
    if (!probe) return false;
    jack_client_close(probe);
    return true;
}

std::string portName(RtMidi& midi, unsigned index, bool alsa) {
    const std::string name = midi.getPortName(index);
    return alsa ? WithoutAlsaAddress(name) : name;
}

// The system may have changed since the list was taken, so the port is found again by its name.
template <class Midi>
bool locate(const Port<Midi>& port, unsigned& index) {
    Midi& midi = *port.device->midi;
    const unsigned count = midi.getPortCount();
    if (port.index < count && portName(midi, port.index, port.device->alsa) == port.name) {
        index = port.index;
        return true;
    }
    for (unsigned i = 0; i < count; ++i) {
        if (portName(midi, i, port.device->alsa) != port.name) continue;
        index = i;
        return true;
    }
    return false;
}

template <class Midi>
void listPorts(Device<Midi>& device, std::vector<Port<Midi>>& ports) {
    if (!device.midi) return;
    try {
        const unsigned count = device.midi->getPortCount();
        for (unsigned i = 0; i < count; ++i) {
            std::string name = portName(*device.midi, i, device.alsa);
            if (!name.empty()) ports.push_back({&device, i, std::move(name)});
        }
    } catch (const std::exception&) {
    }
}

template <class Midi>
bool openPort(const Port<Midi>& port, const char* ownPort) {
    Device<Midi>& device = *port.device;
    device.failed = false;
    try {
        unsigned index = 0;
        if (!locate(port, index)) return false;
        device.midi->openPort(index, ownPort);
        if (device.midi->isPortOpen() && !device.failed) return true;
    } catch (const std::exception&) {
    }
    try {
        device.midi->closePort();
    } catch (const std::exception&) {
    }
    return false;
}

template <class Midi>
void closePort(Midi& midi) {
    try {
        midi.closePort();
    } catch (const std::exception&) {
    }
}

class Backend {
public:
    // libjack would write every failed attempt to reach a server to the terminal.
    Backend() {
        jack_set_error_function(silent);
        jack_set_info_function(silent);
    }

    // Closing an input joins its thread, which may be waiting for a lock that the exiting thread
    // holds (an exit through a fatal error); an input still open at exit is left to the system.
    ~Backend() {
        if (openIn) static_cast<void>(alsaIn.midi.release());
    }

    int numInputs() {
        makeDevices();
        inputs.clear();
        listPorts(alsaIn, inputs);
        std::vector<std::string> names;
        jack.sources(names);
        addJackPorts(std::move(names), inputs);
        return static_cast<int>(inputs.size());
    }

    // Listed without the output lock, which every send takes, and swapped in under it: the ALSA
    // list comes from an object of its own, not the one that sends.
    int numOutputs() {
        makeDevices();
        std::vector<Port<RtMidiOut>> listed;
        if (alsaOut.midi) listPorts(alsaOutList, listed);
        for (Port<RtMidiOut>& port : listed) port.device = &alsaOut;
        std::vector<std::string> names;
        jack.destinations(names);
        addJackPorts(std::move(names), listed);
        const int count = static_cast<int>(listed.size());
        std::lock_guard<std::mutex> guard(outputLock);
        outputs.swap(listed);
        return count;
    }

    int listedInputs() const { return static_cast<int>(inputs.size()); }

    int listedOutputs() {
        std::lock_guard<std::mutex> guard(outputLock);
        return static_cast<int>(outputs.size());
    }

    bool inputName(int n, std::string& name) const {
        if (n < 0 || n >= static_cast<int>(inputs.size())) return false;
        name = inputs[n].name;
        return true;
    }

    bool outputName(int n, std::string& name) {
        std::lock_guard<std::mutex> guard(outputLock);
        if (n < 0 || n >= static_cast<int>(outputs.size())) return false;
        name = outputs[n].name;
        return true;
    }

    int openInput(int n) {
        closeInput();
        if (n < 0 || n >= static_cast<int>(inputs.size())) return 1;
        const Port<RtMidiIn>& port = inputs[n];
        if (!port.device) return jack.openInput(port.name, ownInputPort) ? 0 : 1;
        if (!openPort(port, ownInputPort)) return 1;
        openIn = port.device->midi.get();
        return 0;
    }

    int closeInput() {
        if (jack.inputOpen()) {
            jack.closeInput();
            return 0;
        }
        if (!openIn) return 1;
        closePort(*openIn);
        openIn = nullptr;
        return 0;
    }

    int openOutput(int n) {
        std::lock_guard<std::mutex> guard(outputLock);
        closeOutputLocked();
        if (n < 0 || n >= static_cast<int>(outputs.size())) return 1;
        const Port<RtMidiOut>& port = outputs[n];
        if (!port.device) return jack.openOutput(port.name, ownOutputPort) ? 0 : 1;
        if (!openPort(port, ownOutputPort)) return 1;
        openOut = port.device;
        return 0;
    }

    int closeOutput() {
        std::lock_guard<std::mutex> guard(outputLock);
        return closeOutputLocked();
    }

    int sendShort(uint8_t status, uint8_t data1, uint8_t data2, double due) {
        std::lock_guard<std::mutex> guard(outputLock);
        return sendLocked(status, data1, data2, due);
    }

    // Sustain off, then All Notes Off (controller 123), on every channel: the notes end as their
    // keys would have been released, and none is kept sounding by the pedal.
    int reset() {
        std::lock_guard<std::mutex> guard(outputLock);
        int result = 0;
        for (uint8_t channel = 0; channel < 16; ++channel) {
            const uint8_t status = static_cast<uint8_t>(0xB0 | channel);
            if (sendLocked(status, 64, 0) != 0) result = 1;
            if (sendLocked(status, 123, 0) != 0) result = 1;
        }
        return result;
    }

    double outputAhead() const { return jack.ahead(); }

    platform::Delays delays() const {
        const MidiCycle& cycle = jack.cycle();
        return {cycle.lateOutput(), cycle.waitedInput(), cycle.lostInput()};
    }

private:
    void makeDevices() {
        if (!alsaTried) {
            alsaTried = true;
            if (alsaPresent()) {
                makeInput(alsaIn);
                makeOutput(alsaOut);
                makeOutput(alsaOutList);
            }
        }
        if (!jack.connected() && jackServerRunning()) {
            std::lock_guard<std::mutex> guard(outputLock);
            jack.connect(ownJackClient);
        }
    }

    static void makeInput(Device<RtMidiIn>& device) {
        device.alsa = true;
        try {
            device.midi = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, ownInputClient, inputQueueSize);
            device.midi->setErrorCallback(onInputError, &device);
            device.midi->ignoreTypes(true, true, true);
            device.midi->setCallback(onInput, device.midi.get());
        } catch (const std::exception&) {
            device.midi.reset();
        }
    }

    void makeOutput(Device<RtMidiOut>& device) {
        std::lock_guard<std::mutex> guard(outputLock);
        device.alsa = true;
        try {
            device.midi = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, ownOutputClient);
            device.midi->setErrorCallback(onOutputError, &device);
        } catch (const std::exception&) {
            device.midi.reset();
        }
    }

    int closeOutputLocked() {
        if (jack.outputOpen()) {
            jack.closeOutput();
            return 0;
        }
        if (!openOut) return 1;
        closePort(*openOut->midi);
        openOut = nullptr;
        return 0;
    }

    // The ALSA sequencer sends at once: a timed message is handed over when it falls due.
    int sendLocked(uint8_t status, uint8_t data1, uint8_t data2, double due = 0.0) {
        const int length = MidiMessageLength(status);
        if (length == 0) return 1;
        const unsigned char message[3] = {status, data1, data2};
        if (jack.outputOpen()) return jack.send(message, static_cast<uint8_t>(length), due);
        if (!openOut) return 1;
        openOut->failed = false;
        try {
            openOut->midi->sendMessage(message, static_cast<size_t>(length));
        } catch (const std::exception&) {
            return 1;
        }
        return openOut->failed ? 1 : 0;
    }

    bool alsaTried = false;
    Device<RtMidiIn> alsaIn;
    Device<RtMidiOut> alsaOut;
    Device<RtMidiOut> alsaOutList;  // lists the ALSA outputs, so that listing never touches alsaOut
    std::vector<Port<RtMidiIn>> inputs;
    RtMidiIn* openIn = nullptr;
    // Sends come from the GUI, scheduler and MIDI-input threads; the sending objects, the output
    // list and the open output are used under this lock only, and only briefly.
    std::mutex outputLock;
    std::vector<Port<RtMidiOut>> outputs;
    Device<RtMidiOut>* openOut = nullptr;
    // Declared last, so that it closes first at exit: its process callback sends through the rest.
    JackMidi jack{onJackInput, nullptr};
};

// Made at the first use, after the main object, so it is destroyed before it: no input callback
// reaches a destroyed main object.
Backend& backend() {
    static Backend instance;
    return instance;
}

}  // namespace

namespace platform {

int numInputs() { return backend().numInputs(); }
int numOutputs() { return backend().numOutputs(); }
int listedInputs() { return backend().listedInputs(); }
int listedOutputs() { return backend().listedOutputs(); }
bool inputName(int n, std::string& name) { return backend().inputName(n, name); }
bool outputName(int n, std::string& name) { return backend().outputName(n, name); }
int openInput(int n) { return backend().openInput(n); }
int closeInput() { return backend().closeInput(); }
int openOutput(int n) { return backend().openOutput(n); }
int closeOutput() { return backend().closeOutput(); }
int sendShort(uint8_t status, uint8_t data1, uint8_t data2, double due) {
    return backend().sendShort(status, data1, data2, due);
}
int reset() { return backend().reset(); }
double outputAhead() { return backend().outputAhead(); }
Delays delays() { return backend().delays(); }

}  // namespace platform

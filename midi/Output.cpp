#include "midi/Output.h"

#include <algorithm>

#include "midi/MessageKinds.h"
#include "midi/grwin.h"

namespace {

using midi::keyPressure;
using midi::noteOff;
using midi::noteOn;
constexpr uint8_t percussionChannel = 9;
constexpr uint8_t notSounding = 0xFF;
constexpr uint8_t dropped = 0xFE;

}  // namespace

Output::Output() { std::fill(&sentPitch_[0][0], &sentPitch_[0][0] + sizeof sentPitch_, notSounding); }

void Output::send(Message message, double due) {
    if (transposeNote(message)) sendAsIs(message, due);
}

void Output::sendAsIs(Message message, double due) {
    if (due == 0.0) due = present_;
    if (listener_) listener_(listenerContext_, message, due);
    MidiOut(-1, message.status, message.data1, message.data2, due);
}

// The listener hears the silence as the destinations get it, so that a recording ends its notes
// and lifts its pedal where the output did.
void Output::silence() {
    for (uint8_t channel = 0; listener_ && channel < 16; ++channel) {
        const uint8_t status = static_cast<uint8_t>(midi::controlChange | channel);
        listener_(listenerContext_, {status, midi::sustain, 0}, present_);
        listener_(listenerContext_, {status, midi::allNotesOff, 0}, present_);
    }
    MidiOutReset();
}

void Output::setListener(Listener listener, void* context) {
    listener_ = listener;
    listenerContext_ = context;
}

void Output::setTranspose(int semitones) { transpose_ = std::clamp(semitones, -maxTranspose, maxTranspose); }

// A Note Off (or a Note On of velocity 0, which ends a note too) goes out with the pitch its Note
// On was sent with; key pressure follows the sounding note it names.
bool Output::transposeNote(Message& message) {
    const uint8_t type = message.status & 0xF0;
    const uint8_t channel = message.status & 0x0F;
    if (channel == percussionChannel || (type != noteOn && type != noteOff && type != keyPressure)) return true;
    uint8_t& sent = sentPitch_[channel][message.data1 & 0x7F];
    const int shifted = message.data1 + transpose_;
    const uint8_t now = shifted < 0 || shifted > 127 ? dropped : static_cast<uint8_t>(shifted);
    const bool starts = type == noteOn && message.data2 != 0;
    const bool ends = (type == noteOn || type == noteOff) && !starts;
    const uint8_t pitch = sent == notSounding || starts ? now : sent;
    if (starts) sent = pitch;
    if (ends) sent = notSounding;
    if (pitch == dropped) return false;
    message.data1 = pitch;
    return true;
}

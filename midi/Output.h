#pragma once
// The one way out: every message the program sends passes through here, to whichever destination
// is open (a port or the synthesizer), so that whatever must apply to all output (a recording, a
// transposition, a silence) is applied in one place.

#include <cstdint>

struct Message {
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
};

class Output {
public:
    // Told of every message sent, with its due time (0 for "now"). Called under the caller's
    // locks on the sending thread: it must not block or allocate.
    using Listener = void (*)(void* context, const Message& message, double due);

    static constexpr int maxTranspose = 24;

    Output();

    // Sends the message now, or at due (seconds on the program's clock) where the destination
    // can place it in time. Notes are transposed.
    void send(Message message, double due = 0.0);
    // Sends the message as it is, never transposed: what the performer plays into MIDI input.
    void sendAsIs(Message message, double due = 0.0);
    // Sustain off and All Notes Off on all 16 channels of the open destination; the listener is
    // told of each of these 32 messages.
    void silence();
    void setListener(Listener listener, void* context);
    // What is sent now stands for this time (seconds on the program's clock; 0: the moment it is
    // sent): while the engine handles an input event, the time of the event's frame, so that what
    // it sends leaves at that frame and is recorded at it.
    void setPresent(double at) { present_ = at; }

    // Semitones (-24 ... 24) added to the pitch of every note sent, but on the percussion channel.
    // A note that would leave 0 ... 127 is not sent, nor its Note Off. A sounding note's Note Off
    // goes out with the pitch its Note On went out with, whatever the setting has become.
    void setTranspose(int semitones);
    int transpose() const { return transpose_; }

private:
    // False when the note is to be dropped.
    bool transposeNote(Message& message);

    Listener listener_ = nullptr;
    void* listenerContext_ = nullptr;
    int transpose_ = 0;
    double present_ = 0.0;
    // Per channel and pitch asked for: the pitch the sounding Note On went out with, or a mark for
    // no sounding note or a dropped one.
    uint8_t sentPitch_[16][128];
};

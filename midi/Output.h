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

    // Sends the message now, or at due (seconds on the program's clock) where the destination
    // can place it in time.
    void send(Message message, double due = 0.0);
    // Sustain off and All Notes Off on all 16 channels of the open destination.
    void silence();
    void setListener(Listener listener, void* context);

private:
    Listener listener_ = nullptr;
    void* listenerContext_ = nullptr;
};

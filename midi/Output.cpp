#include "midi/Output.h"

#include "midi/grwin.h"

void Output::send(Message message, double due) {
    if (listener_) listener_(listenerContext_, message, due);
    MidiOut(-1, message.status, message.data1, message.data2, due);
}

void Output::silence() { MidiOutReset(); }

void Output::setListener(Listener listener, void* context) {
    listener_ = listener;
    listenerContext_ = context;
}

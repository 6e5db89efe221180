#pragma once
// What the messages sent so far have set on each of the 16 channels: the controllers, the program
// with the bank it was chosen from, the registered and non-registered parameters (bend range,
// tuning), pitch bend and channel pressure. A recording that begins later begins by replaying it,
// so that it sounds as the output did. Fixed size: it is fed on the sending threads and allocates
// nothing.

#include <cstdint>

#include "midi/Output.h"

class ChannelState {
public:
    ChannelState();

    void apply(const Message& message);
    // Calls emit(const Message&) with messages that bring a receiver fresh from a reset to this
    // state: per channel the bank and program, the other controllers, the parameters set through
    // data entry and the parameter selected last, then pitch bend and channel pressure.
    template <class Emit>
    void replay(Emit emit) const {
        for (uint8_t channel = 0; channel < 16; ++channel) {
            Message buffer[maxChannelMessages];
            const int count = channelMessages(channel, buffer);
            for (int i = 0; i < count; ++i) emit(buffer[i]);
        }
    }

    // Per channel: 2 bank + 1 program + 128 controllers + 4 per parameter + 4 selection + bend + pressure.
    static constexpr int maxParameters = 16;
    static constexpr int maxChannelMessages = 3 + 128 + 4 * maxParameters + 4 + 2;

private:
    static constexpr int16_t unset = -1;
    enum class Selected : uint8_t { none, registered, nonRegistered };

    // A parameter set through data entry, by the selection it was set under.
    struct Parameter {
        bool registered = false;
        uint8_t msb = 0, lsb = 0;
        int16_t value[2] = {unset, unset};  // data entry MSB (controller 6) and LSB (38)
    };

    struct Channel {
        int16_t controller[128];
        int16_t program = unset;
        int16_t programBank[2] = {unset, unset};  // bank select MSB and LSB when the program was chosen
        int16_t bend = unset;
        int16_t pressure = unset;
        Selected selected = Selected::none;
        Parameter parameters[maxParameters];
        int parameterCount = 0;
    };

    void control(Channel& channel, uint8_t number, uint8_t value);
    void dataEntry(Channel& channel, int byte, uint8_t value);
    void resetControllers(Channel& channel);
    int channelMessages(uint8_t channel, Message* out) const;

    Channel channels_[16];
};

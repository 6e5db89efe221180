#include "midi/ChannelState.h"

#include <algorithm>
#include <iterator>

#include "midi/MessageKinds.h"

namespace {

// Controllers that the bank, the program and the parameters replay in their own order.
bool replayedApart(uint8_t number) {
    return number == midi::bankSelect || number == midi::bankSelectLsb || number == midi::dataEntry ||
           number == midi::dataEntryLsb || (number >= midi::dataIncrement && number <= midi::registeredMsb);
}

}  // namespace

ChannelState::ChannelState() {
    for (Channel& channel : channels_) std::fill(std::begin(channel.controller), std::end(channel.controller), unset);
}

void ChannelState::apply(const Message& message) {
    Channel& channel = channels_[message.status & 0x0F];
    const uint8_t data1 = message.data1 & 0x7F;
    const uint8_t data2 = message.data2 & 0x7F;
    switch (message.status & 0xF0) {
    case midi::controlChange:
        control(channel, data1, data2);
        break;
    case midi::programChange:
        channel.program = data1;
        channel.programBank[0] = channel.controller[midi::bankSelect];
        channel.programBank[1] = channel.controller[midi::bankSelectLsb];
        break;
    case midi::pitchBend:
        channel.bend = static_cast<int16_t>(data1 | data2 << 7);
        break;
    case midi::channelPressure:
        channel.pressure = data1;
        break;
    default:
        break;
    }
}

void ChannelState::control(Channel& channel, uint8_t number, uint8_t value) {
    switch (number) {
    case midi::dataEntry:
        dataEntry(channel, 0, value);
        return;
    case midi::dataEntryLsb:
        dataEntry(channel, 1, value);
        return;
    case midi::dataIncrement:
    case midi::dataDecrement:
        // A step of the selected parameter by an amount each receiver reads its own way.
        return;
    case midi::resetAllControllers:
        resetControllers(channel);
        return;
    default:
        break;
    }
    // Channel mode messages (all notes off, local control, ...) act once; they set no state.
    if (number >= midi::allSoundOff) return;
    channel.controller[number] = value;
    if (number == midi::registeredMsb || number == midi::registeredLsb) channel.selected = Selected::registered;
    if (number == midi::nonRegisteredMsb || number == midi::nonRegisteredLsb) channel.selected = Selected::nonRegistered;
}

// The value belongs to the parameter selected now; a selection of which only one half was sent,
// or the null one (127, 127), selects nothing a replay could name.
void ChannelState::dataEntry(Channel& channel, int byte, uint8_t value) {
    if (channel.selected == Selected::none) return;
    const bool registered = channel.selected == Selected::registered;
    const int16_t msb = channel.controller[registered ? midi::registeredMsb : midi::nonRegisteredMsb];
    const int16_t lsb = channel.controller[registered ? midi::registeredLsb : midi::nonRegisteredLsb];
    if (msb == unset || lsb == unset || (msb == 127 && lsb == 127)) return;
    Parameter* end = channel.parameters + channel.parameterCount;
    Parameter* parameter = std::find_if(channel.parameters, end, [&](const Parameter& p) {
        return p.registered == registered && p.msb == msb && p.lsb == lsb;
    });
    if (parameter == end) {
        if (channel.parameterCount == maxParameters) return;
        ++channel.parameterCount;
        *parameter = {registered, static_cast<uint8_t>(msb), static_cast<uint8_t>(lsb), {unset, unset}};
    }
    parameter->value[byte] = value;
}

// What a Reset All Controllers returns to its default, as receivers commonly do: the parameters'
// values, the bank, the program, volume, pan and the effect depths stay.
void ChannelState::resetControllers(Channel& channel) {
    for (uint8_t number : {1, 11, 64, 65, 66, 67, 98, 99, 100, 101}) channel.controller[number] = unset;
    channel.selected = Selected::none;
    channel.bend = unset;
    channel.pressure = unset;
}

int ChannelState::channelMessages(uint8_t number, Message* out) const {
    const Channel& channel = channels_[number];
    int count = 0;
    const auto control = [&](uint8_t controller, int16_t value) {
        if (value == unset) return;
        out[count++] = {static_cast<uint8_t>(midi::controlChange | number), controller, static_cast<uint8_t>(value)};
    };
    const bool hasProgram = channel.program != unset;
    if (hasProgram) {
        control(midi::bankSelect, channel.programBank[0]);
        control(midi::bankSelectLsb, channel.programBank[1]);
        out[count++] = {static_cast<uint8_t>(midi::programChange | number), static_cast<uint8_t>(channel.program), 0};
    }
    for (uint8_t controller = 0; controller < midi::allSoundOff; ++controller)
        if (!replayedApart(controller)) control(controller, channel.controller[controller]);
    // A bank selected after the program waits for the next program change, as it did on the output.
    const uint8_t banks[2] = {midi::bankSelect, midi::bankSelectLsb};
    for (int i = 0; i < 2; ++i)
        if (channel.controller[banks[i]] != (hasProgram ? channel.programBank[i] : unset))
            control(banks[i], channel.controller[banks[i]]);
    for (int i = 0; i < channel.parameterCount; ++i) {
        const Parameter& p = channel.parameters[i];
        control(p.registered ? midi::registeredMsb : midi::nonRegisteredMsb, p.msb);
        control(p.registered ? midi::registeredLsb : midi::nonRegisteredLsb, p.lsb);
        control(midi::dataEntry, p.value[0]);
        control(midi::dataEntryLsb, p.value[1]);
    }
    // The selection made last is replayed last, so that later data entry goes where it went.
    const bool registeredLast = channel.selected == Selected::registered;
    for (bool registered : {!registeredLast, registeredLast}) {
        control(registered ? midi::registeredMsb : midi::nonRegisteredMsb,
                channel.controller[registered ? midi::registeredMsb : midi::nonRegisteredMsb]);
        control(registered ? midi::registeredLsb : midi::nonRegisteredLsb,
                channel.controller[registered ? midi::registeredLsb : midi::nonRegisteredLsb]);
    }
    if (channel.bend != unset)
        out[count++] = {static_cast<uint8_t>(midi::pitchBend | number), static_cast<uint8_t>(channel.bend & 0x7F),
                        static_cast<uint8_t>(channel.bend >> 7)};
    if (channel.pressure != unset)
        out[count++] = {static_cast<uint8_t>(midi::channelPressure | number), static_cast<uint8_t>(channel.pressure), 0};
    return count;
}

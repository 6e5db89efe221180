#pragma once
// Named parts of MIDI messages: the kinds of channel message (the status byte's high nibble) and
// the controllers the program treats specially.

#include <cstdint>

namespace midi {

inline constexpr uint8_t noteOff = 0x80;
inline constexpr uint8_t noteOn = 0x90;
inline constexpr uint8_t keyPressure = 0xA0;
inline constexpr uint8_t controlChange = 0xB0;
inline constexpr uint8_t programChange = 0xC0;
inline constexpr uint8_t channelPressure = 0xD0;
inline constexpr uint8_t system = 0xF0;

inline constexpr uint8_t sustain = 64;
inline constexpr uint8_t localControl = 122;

}  // namespace midi

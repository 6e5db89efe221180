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
inline constexpr uint8_t pitchBend = 0xE0;
inline constexpr uint8_t system = 0xF0;

inline constexpr uint8_t bankSelect = 0;
inline constexpr uint8_t dataEntry = 6;
inline constexpr uint8_t bankSelectLsb = 32;
inline constexpr uint8_t dataEntryLsb = 38;
inline constexpr uint8_t sustain = 64;
inline constexpr uint8_t dataIncrement = 96;
inline constexpr uint8_t dataDecrement = 97;
inline constexpr uint8_t nonRegisteredLsb = 98;
inline constexpr uint8_t nonRegisteredMsb = 99;
inline constexpr uint8_t registeredLsb = 100;
inline constexpr uint8_t registeredMsb = 101;
inline constexpr uint8_t allSoundOff = 120;
inline constexpr uint8_t resetAllControllers = 121;
inline constexpr uint8_t localControl = 122;
inline constexpr uint8_t allNotesOff = 123;

}  // namespace midi

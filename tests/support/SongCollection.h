#pragma once
// Songs built in memory for benchmarks and measurements: the many-event song of the load
// benchmarks, and a collection shaped like a shelf of real MIDI files.

#include <cstdint>
#include <string>
#include <vector>

// Four tracks on four channels. Each group is a fast run whose successive notes, one tick apart,
// alternate between the tracks like a rolled chord; groups begin groupSpan ticks apart. Tempo
// changes in the first track and a program change per track make the usual extras.
std::string generatedSong(uint32_t events, uint32_t groups, uint32_t groupSpan);

// count Standard MIDI Files, the same on every call, of the kinds a collection of real songs holds:
// piano pieces of two hands with the pedal, band arrangements with drums, pitch bends and a
// conductor track of tempo, metre, key and markers, orchestral scores of many long-noted parts with
// expression, and single-track (format 0) songs with running status. Between a thousand and some
// sixty thousand events each, with system-exclusive, text and name events as real files carry.
std::vector<std::string> songCollection(uint32_t count);

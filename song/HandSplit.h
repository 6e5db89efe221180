#pragma once
// Where to split a part that holds both hands, found from its notes.

#include <cstdint>

#include "song/Song.h"

inline constexpr uint8_t middleC = 60;

// The split pitch (the lowest pitch of the upper hand) for the part, an index into the song's
// instruments. At every moment a note of the part begins, the notes then sounding are shared
// between the hands, each taking those on its side of the split; a hand is within reach while its
// notes span at most an octave and number at most five. The split chosen leaves fewest moments with
// a hand out of reach; among those, it keeps each hand's notes closest together (the smallest sum
// of the hands' spans over all moments); among those, it is the one nearest middle C, then the
// lower. Only splits that leave notes on both sides are weighed: a part of one pitch, or none, is
// split at middle C.
uint8_t automaticSplit(const Song& song, uint32_t part);

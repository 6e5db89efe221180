#pragma once
// A take as a Standard MIDI File that any MIDI program, Nolari included, can open: format 0, one
// track, 1000 ticks a quarter at 60 quarters a minute, so that a tick is a millisecond.

#include <string>

#include "perform/TakeRecorder.h"

// What a written take holds, for the log line.
struct TakeFileSummary {
    int notes = 0;
    double seconds = 0.0;
};

// The file's bytes: a track named trackName, a tempo, the messages at their times from the take's
// first one, every note ended (those still sounding at the take's end there), End of Track.
std::string takeFileBytes(const Take& take, const std::string& trackName, TakeFileSummary& summary);

// Writes the take whole or not at all; false when it could not be written.
bool writeTakeFile(const std::string& path, const Take& take, const std::string& trackName, TakeFileSummary& summary);

// "<song name>-take-<N>.mid" beside the song, where the song name is its file name without a .mid
// or .midi extension and N the smallest number from 1 whose file does not exist yet.
std::string nextTakePath(const std::string& songPath, int& number);

// The take written last beside the song: of its files "<song name>-take-<N>.mid", the one changed
// last; empty when there is none.
std::string newestTakePath(const std::string& songPath);

// The path without a .mid or .midi extension (in any case).
std::string withoutMidiExtension(const std::string& path);

// The file name of a path, without its folders.
std::string fileNameOf(const std::string& path);

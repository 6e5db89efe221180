#pragma once
// The command line: `nolari [SONG]`, `nolari --render TAKE.mid OUT.wav`, `nolari --help`,
// `nolari --version`.

#include <cstdio>
#include <string>

struct CommandLine {
    enum class Action { Run, Render, ShowHelp, ShowVersion, Misuse };
    Action action = Action::Run;
    // Absolute path of the song given, empty when none was.
    std::string song;
    // For Render: the MIDI file and the sound file, as given.
    std::string midiFile, soundFile;
    // Why the arguments were refused, for the first line of the misuse message.
    std::string problem;
};

// Reads the arguments after the program name; a relative song path is taken from currentDirectory.
CommandLine parseCommandLine(int argc, const char* const argv[], const std::string& currentDirectory);

// Answers an action other than Run on the given streams and returns the process status:
// 0 for --help and --version, 2 for misuse; for --render, which renders without a window or a sound
// device, 0 once the sound file is written, else 1 with one line on err.
int answerCommandLine(const CommandLine& commandLine, std::FILE* out, std::FILE* err);

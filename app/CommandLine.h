#pragma once
// The command line: `nolari [SONG]`, `nolari --help`, `nolari --version`.

#include <cstdio>
#include <string>

struct CommandLine {
    enum class Action { Run, ShowHelp, ShowVersion, Misuse };
    Action action = Action::Run;
    // Absolute path of the song given, empty when none was.
    std::string song;
    // Why the arguments were refused, for the first line of the misuse message.
    std::string problem;
};

// Reads the arguments after the program name; a relative song path is taken from currentDirectory.
CommandLine parseCommandLine(int argc, const char* const argv[], const std::string& currentDirectory);

// Answers an action other than Run on the given streams and returns the process status:
// 0 for --help and --version, 2 for misuse.
int answerCommandLine(const CommandLine& commandLine, std::FILE* out, std::FILE* err);

#include "app/CommandLine.h"

#include <filesystem>
#include <string_view>

#include "app/Version.h"

namespace {

const char usage[] =
    "Usage: nolari [SONG]\n"
    "Plays the MIDI file SONG (default: the song played last) by tapping the letter keys.\n"
    "Nolari.cfg and NolariLog.txt are kept in the current folder; F1 in the window lists the keys.\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n";

CommandLine misuse(const std::string& problem) {
    CommandLine refused;
    refused.action = CommandLine::Action::Misuse;
    refused.problem = problem;
    return refused;
}

// Absolute, so that the configuration finds the song again from any starting folder. A ".." is
// kept: after a symbolic link it does not lead where removing it from the text would.
std::string absoluteSong(const std::string& currentDirectory, std::string_view argument) {
    const std::filesystem::path joined = std::filesystem::path(currentDirectory) / argument;
    for (const auto& part : joined)
        if (part == "..") return joined.string();
    return joined.lexically_normal().string();
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const argv[], const std::string& currentDirectory) {
    CommandLine result;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help") {
            result.action = CommandLine::Action::ShowHelp;
            return result;
        }
        if (argument == "--version") {
            result.action = CommandLine::Action::ShowVersion;
            return result;
        }
        if (argument.starts_with('-')) return misuse("unknown option '" + std::string(argument) + "'");
        if (argument.empty()) return misuse("the song path is empty");
        if (!result.song.empty()) return misuse("more than one song given");
        result.song = absoluteSong(currentDirectory, argument);
    }
    return result;
}

int answerCommandLine(const CommandLine& commandLine, std::FILE* out, std::FILE* err) {
    switch (commandLine.action) {
    case CommandLine::Action::Run:
        return 0;
    case CommandLine::Action::ShowHelp:
        std::fputs(usage, out);
        return 0;
    case CommandLine::Action::ShowVersion:
        std::fputs("nolari " NOLARI_VERSION "\n", out);
        return 0;
    case CommandLine::Action::Misuse:
        break;
    }
    std::fprintf(err, "nolari: %s\n", commandLine.problem.c_str());
    std::fputs(usage, err);
    return 2;
}
